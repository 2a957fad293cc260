// draxel-assets ls and check: an archive's entries as its central directory lists them, and
// every problem the archive has, each named once per entry.
#include "ArchiveReading.h"
#include "Commands.h"
#include "ToolSupport.h"

#include "ArchiveCore/Format.h"

#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <set>

namespace draxel_tool {

using namespace Qor::Draxel::Assets;
using Json = nlohmann::ordered_json;

namespace {

// check prints this many problems unless --all.
constexpr std::size_t ShownProblems = 20;

// A symbolic link is named as such: its data is a path, not a file's content.
const char* TypeName(const InspectedEntry& p_entry)
{
    return p_entry.isDirectory ? "dir" : p_entry.isLink ? "link" : "file";
}

Json EntryJson(const InspectedEntry& p_entry)
{
    return Json{{"name", p_entry.name},
                {"type", TypeName(p_entry)},
                {"method", MethodName(p_entry.method)},
                {"encrypted", (p_entry.flags & Zip::FlagEncrypted) != 0},
                {"compressedSize", p_entry.compressedSize},
                {"size", p_entry.uncompressedSize},
                {"crc32", Hex32(p_entry.crc32)},
                {"offset", p_entry.localHeaderOffset}};
}

void PrintLongLine(const InspectedEntry& p_entry)
{
    char line[160];
    if (p_entry.isDirectory)
        std::snprintf(line, sizeof line, "%-4s %-8s %-5s %12s %12s %8s %10s  ", "dir", "-", "-", "-", "-", "-", "-");
    else
        std::snprintf(line, sizeof line, "%-4s %-8s %-5s %12" PRIu64 " %12" PRIu64 " %s %10" PRIu64 "  ", TypeName(p_entry),
                  MethodName(p_entry.method).c_str(), (p_entry.flags & Zip::FlagEncrypted) ? "E" : "-",
                  p_entry.compressedSize, p_entry.uncompressedSize, Hex32(p_entry.crc32).c_str(),
                  p_entry.localHeaderOffset);
    WriteOut(line + p_entry.name + '\n');
}

struct ListOptions {
    ArchiveOptions archive;
    bool longListing = false;
    bool json = false;
};

int ListArchive(const ListOptions& p_options)
{
    const std::unique_ptr<Inspection> inspection = InspectArchive(p_options.archive);
    const std::vector<const InspectedEntry*> entries = InPathOrder(*inspection);
    const std::string incomplete = IncompleteReason(*inspection);
    if (p_options.json) {
        Json list = Json::array();
        for (const InspectedEntry* entry : entries)
            list.push_back(EntryJson(*entry));
        Json document{{"archive", p_options.archive.file}, {"complete", incomplete.empty()}, {"entries", list}};
        if (!incomplete.empty())
            document["error"] = incomplete;
        WriteOut(document.dump(2) + '\n');
    } else {
        if (p_options.longListing)
            WriteOut("type method   flags       packed         size    crc32     offset  name\n");
        for (const InspectedEntry* entry : entries) {
            if (p_options.longListing)
                PrintLongLine(*entry);
            else
                WriteOut(entry->name + '\n');
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
std::string Describe(const Inspection::Finding& p_finding)
{
    using Kind = Inspection::Kind;
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
        return std::string(Inspection::KindName(p_finding.kind)) + ": " + p_finding.detail;
    }
}

int CheckArchive(const CheckOptions& p_options)
{
    const std::string& file = p_options.archive.file;
    const std::unique_ptr<Inspection> inspection = InspectArchive(p_options.archive);
    std::vector<Problem> problems;
    // The inspection names each kind of problem once per entry; an entry with any is not read.
    std::set<std::string> troubled;
    for (const Inspection::Finding& finding : inspection->Findings()) {
        problems.push_back(Problem{finding.entry, Inspection::KindName(finding.kind), Describe(finding)});
        troubled.insert(finding.entry);
    }

    std::size_t files = 0;
    Progress progress("checking", inspection->Entries().size());
    for (const InspectedEntry& entry : inspection->Entries()) {
        progress.Step();
        if (entry.isDirectory)
            continue;
        ++files;
        if (!Readable(entry) || troubled.count(entry.name))
            continue;
        std::uint32_t crc = 0;
        if (!inspection->ReadData(entry, [&](const char* p_bytes, std::size_t p_count) {
                crc = Zip::Crc32(crc, p_bytes, p_count);
                return true;
            })) {
            problems.push_back(Problem{entry.name, "unreadable", "cannot read its data"});
            continue;
        }
        if (crc != entry.crc32)
            problems.push_back(Problem{entry.name, "CRC-32 mismatch",
                                       "CRC-32 mismatch: directory " + Hex32(entry.crc32) + ", data " + Hex32(crc)});
    }

    if (p_options.json) {
        Json list = Json::array();
        for (const Problem& problem : problems)
            list.push_back(Json{{"entry", problem.entry}, {"kind", problem.kind}, {"text", problem.text}});
        WriteOut(Json{{"archive", file}, {"files", files}, {"problems", list}}.dump(2) + '\n');
        FinishOutput();
        return problems.empty() ? Success : Failed;
    }
    const std::size_t shown = p_options.all ? problems.size() : std::min(problems.size(), ShownProblems);
    for (std::size_t i = 0; i < shown; ++i)
        PrintError(problems[i].entry.empty() ? file : file + ": " + problems[i].entry, problems[i].text);
    if (shown < problems.size())
        PrintError(file, "and " + std::to_string(problems.size() - shown) + " more (--all lists every one)");
    WriteOut(file + ": " + std::to_string(files) + (files == 1 ? " file" : " files") + " checked, " +
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
    lsCommand->add_flag("-l,--long", ls->longListing, "Show type, method, flags, sizes, CRC-32 and offset");
    lsCommand->add_flag("--json", ls->json, "Write the listing as JSON");

    auto check = std::make_shared<CheckOptions>();
    CLI::App* checkCommand = p_commands.Add(
        "check", "Report every problem of an archive and verify every stored entry against its CRC-32",
        [check] { return CheckArchive(*check); });
    AddArchiveOptions(*checkCommand, check->archive);
    checkCommand->add_flag("--all", check->all, "List every problem (otherwise the first 20 and a count)");
    checkCommand->add_flag("--json", check->json, "Write the problems as JSON");
}

} // namespace draxel_tool
