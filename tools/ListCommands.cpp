// draxel-assets ls and check: an archive's entries as its central directory lists them, and
// every problem the archive has, each named once per entry.
#include "ArchiveReading.h"
#include "Commands.h"
#include "JsonText.h"
#include "ToolSupport.h"

#include "ArchiveCore/Format.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <set>

namespace draxel_tool {

using namespace Qor::Draxel::Assets;
namespace {

// The JSON kinds are the words every command uses: "file", "directory", and "link" for a
// symbolic link, whose data is a path, not a file's content.
const char* TypeName(const ArchiveDiagnostics::Entry& p_entry)
{
    return p_entry.isDirectory ? "directory" : p_entry.isLink ? "link" : "file";
}

Json EntryJson(const ArchiveDiagnostics::Entry& p_entry)
{
    Json entry;
    PutName(entry, "name", p_entry.name);
    entry["type"] = TypeName(p_entry);
    entry["method"] = MethodName(p_entry.method);
    entry["encrypted"] = (p_entry.flags & Zip::FlagEncrypted) != 0;
    entry["flags"] = p_entry.flags;
    entry["compressedSize"] = p_entry.compressedSize;
    entry["size"] = p_entry.uncompressedSize;
    entry["crc32"] = Hex32(p_entry.crc32);
    entry["offset"] = p_entry.localHeaderOffset;
    return entry;
}

// The flags column: E encrypted (bit 0), D sizes in a data descriptor (bit 3), U a UTF-8 name
// (bit 11), and the compression option (bits 1 and 2) as a digit; '-' for each that is not set.
std::string FlagLetters(std::uint16_t p_flags)
{
    const unsigned option = (p_flags >> 1) & 3u;
    std::string letters;
    letters += (p_flags & Zip::FlagEncrypted) ? 'E' : '-';
    letters += (p_flags & 0x0008) ? 'D' : '-';
    letters += (p_flags & 0x0800) ? 'U' : '-';
    letters += option != 0 ? static_cast<char>('0' + option) : '-';
    return letters;
}

void PrintLongLine(const ArchiveDiagnostics::Entry& p_entry)
{
    char line[160];
    if (p_entry.isDirectory)
        std::snprintf(line, sizeof line, "%-4s %-8s %-5s %12s %12s %8s %10s  ", "dir", "-",
                      FlagLetters(p_entry.flags).c_str(), "-", "-", "-", "-");
    else
        std::snprintf(line, sizeof line, "%-4s %-8s %-5s %12" PRIu64 " %12" PRIu64 " %s %10" PRIu64 "  ",
                      p_entry.isLink ? "link" : "file", MethodName(p_entry.method).c_str(),
                      FlagLetters(p_entry.flags).c_str(), p_entry.compressedSize, p_entry.uncompressedSize,
                      Hex32(p_entry.crc32).c_str(), p_entry.localHeaderOffset);
    WriteOut(line + Printable(p_entry.name) + '\n');
}

struct ListOptions {
    ArchiveOptions archive;
    bool longListing = false;
    bool json = false;
};

int ListArchive(const ListOptions& p_options)
{
    ArchiveOptions archive = p_options.archive;
    const std::unique_ptr<ArchiveDiagnostics> diagnostics = DiagnoseArchive(archive);
    const std::vector<const ArchiveDiagnostics::Entry*> entries = InPathOrder(*diagnostics);
    const std::string incomplete = IncompleteReason(*diagnostics);
    if (p_options.json) {
        Json list = Json::array();
        for (const ArchiveDiagnostics::Entry* entry : entries)
            list.push_back(EntryJson(*entry));
        Json document;
        PutName(document, "archive", p_options.archive.file);
        document["complete"] = incomplete.empty();
        document["entries"] = list;
        if (!incomplete.empty())
            document["error"] = incomplete;
        WriteOut(JsonText(document));
    } else {
        if (p_options.longListing)
            WriteOut("type method   flags       packed         size    crc32     offset  name\n");
        for (const ArchiveDiagnostics::Entry* entry : entries) {
            if (p_options.longListing)
                PrintLongLine(*entry);
            else
                WriteOut(Printable(entry->name) + '\n');
        }
    }
    FinishOutput();
    if (!incomplete.empty())
        throw Failure(p_options.archive.file, incomplete);
    return Success;
}

// ---------------------------------------------------------------------------------------

struct CheckOptions {
    ArchiveOptions archive;
    bool all = false;
    bool json = false;
};

struct Problem {
    std::string entry; // empty for the archive as a whole
    std::string kind;
    std::string text;
};

// The finding in the words check prints.
std::string Describe(const ArchiveDiagnostics::Finding& p_finding)
{
    using Kind = ArchiveDiagnostics::Kind;
    switch (p_finding.kind) {
    case Kind::Deflated:
        return "deflated entry: only stored entries can be opened";
    case Kind::Compressed:
        return "unknown " + p_finding.detail;
    case Kind::Encrypted:
        return "encrypted entry: its data cannot be checked";
    case Kind::DuplicateName:
        return "duplicate name: " + p_finding.detail;
    default:
        return std::string(ArchiveDiagnostics::KindName(p_finding.kind)) + ": " + p_finding.detail;
    }
}

int CheckArchive(const CheckOptions& p_options)
{
    const std::string& file = p_options.archive.file;
    ArchiveOptions archive = p_options.archive;
    const std::unique_ptr<ArchiveDiagnostics> diagnostics = DiagnoseArchive(archive);
    std::vector<Problem> problems;
    // The diagnostics names each kind of problem once per entry; an entry with any is not read.
    std::set<std::string> troubled;
    for (const ArchiveDiagnostics::Finding& finding : diagnostics->Findings()) {
        problems.push_back(Problem{finding.entry, ArchiveDiagnostics::KindName(finding.kind), Describe(finding)});
        troubled.insert(finding.entry);
    }

    std::size_t files = 0;
    Progress progress("checking", diagnostics->Entries().size());
    for (const ArchiveDiagnostics::Entry& entry : diagnostics->Entries()) {
        progress.Step();
        if (entry.isDirectory)
            continue;
        ++files;
        if (!Readable(entry) || troubled.count(entry.name))
            continue;
        ArchiveDiagnostics::DataReading reading;
        reading.countCrc = true;
        const ArchiveDiagnostics::DataRead read =
            diagnostics->ReadData(entry, reading, [](const char*, std::size_t) { return true; });
        if (!read.read)
            problems.push_back(Problem{entry.name, "unreadable", "cannot read its data"});
        else if (read.crc32 != entry.crc32)
            problems.push_back(Problem{entry.name, "CRC-32 mismatch", CrcMismatch(entry.crc32, read.crc32)});
    }

    if (p_options.json) {
        Json list = Json::array();
        for (const Problem& problem : problems) {
            Json item;
            PutName(item, "entry", problem.entry);
            item["kind"] = problem.kind;
            item["text"] = problem.text;
            list.push_back(std::move(item));
        }
        Json document;
        PutName(document, "archive", file);
        document["files"] = files;
        document["problems"] = list;
        WriteOut(JsonText(document));
        FinishOutput();
        return problems.empty() ? Success : Failed;
    }
    ProblemLines lines(p_options.all);
    for (const Problem& problem : problems)
        lines.Print(problem.entry.empty() ? file : file + ": " + problem.entry, problem.text);
    lines.Finish(file);
    WriteOut(Printable(file) + ": " + std::to_string(files) + (files == 1 ? " file" : " files") + " checked, " +
             (problems.empty() ? std::string("no problems") : std::to_string(problems.size()) + " problem(s)") + "\n");
    FinishOutput();
    return problems.empty() ? Success : Failed;
}

} // namespace

void AddListCommands(CommandSet& p_commands)
{
    auto ls = std::make_shared<ListOptions>();
    CLI::App* lsCommand = p_commands.Add("ls", "List the entries of an archive", [ls] { return ListArchive(*ls); });
    AddArchiveOptions(*lsCommand, ls->archive);
    lsCommand->add_flag(
        "-l,--long", ls->longListing,
        "Show type, method, flags (E encrypted, D data descriptor, U UTF-8 name, 1-3 the compression option), "
        "sizes, CRC-32 and offset");
    lsCommand->add_flag("--json", ls->json, "Write the listing as JSON");

    auto check = std::make_shared<CheckOptions>();
    CLI::App* checkCommand =
        p_commands.Add("check", "Report every problem of an archive and verify every stored entry against its CRC-32",
                       [check] { return CheckArchive(*check); });
    AddArchiveOptions(*checkCommand, check->archive);
    checkCommand->add_flag("--all", check->all,
                           "List every problem (otherwise the first " + std::to_string(ProblemLines::Shown) +
                               " and a count)");
    checkCommand->add_flag("--json", check->json, "Write the problems as JSON");
}

} // namespace draxel_tool
