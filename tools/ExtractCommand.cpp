// draxel-assets extract: an archive's entries written below a directory, safely: nothing is
// written outside it or through a symbolic link, no existing file is replaced unless asked,
// and what cannot be extracted is named.
#include "ArchiveReading.h"
#include "Commands.h"
#include "EntryStamp.h"
#include "Platform.h"
#include "ToolSupport.h"

#include <Assets/AssetPath.h>

#include "ArchiveCore/Format.h"
#include "ArchiveCore/Names.h"

#include <algorithm>
#include <cctype>

namespace draxel_tool {

using namespace Qor::Draxel::Assets;

namespace {

// Why a stored name would land outside the extraction directory; empty when it is safe.
std::string HostileName(const std::string& p_name)
{
    if (p_name.empty())
        return "empty name";
    if (p_name.front() == '/' || p_name.front() == '\\')
        return "absolute name";
    if (p_name.size() >= 2 && std::isalpha(static_cast<unsigned char>(p_name[0])) && p_name[1] == ':')
        return "name with a drive letter";
    std::size_t begin = 0;
    while (begin <= p_name.size()) {
        std::size_t end = p_name.find_first_of("/\\", begin);
        if (end == std::string::npos)
            end = p_name.size();
        if (p_name.compare(begin, end - begin, "..") == 0)
            return "name with a '..' component";
        begin = end + 1;
    }
    return std::string();
}

// Why an entry is skipped rather than extracted; empty when it can be.
std::string Unextractable(const ArchiveDiagnostics::Entry& p_entry)
{
    if (p_entry.flags & Zip::FlagEncrypted)
        return "skipped, encrypted entry";
    if (p_entry.method == Zip::MethodDeflate)
        return "skipped, deflated entry (only stored entries are extracted; pack --from converts the archive)";
    if (p_entry.method != Zip::MethodStored)
        return "skipped, compression method " + std::to_string(p_entry.method);
    if (!p_entry.localValid)
        return "skipped, damaged local header";
    if (p_entry.heldSize < p_entry.dataSize)
        return "skipped, its data runs past the end of the archive";
    return std::string();
}

struct ExtractOptions {
    ArchiveOptions archive;
    std::string directory;
    bool overwrite = false;
    bool all = false;
    bool linksAsFiles = false;
};

// Writes one entry; the reason when it could not be written.
std::string WriteEntry(const ArchiveDiagnostics& p_diagnostics, const ArchiveDiagnostics::Entry& p_entry,
                       const std::string& p_path, platform::ExtractDirectory& p_directory, bool p_overwrite)
{
    const std::size_t slash = p_path.rfind('/');
    if (slash != std::string::npos) {
        const std::string error = p_directory.MakeFolders(p_path.substr(0, slash));
        if (!error.empty())
            return error;
    }
    std::unique_ptr<platform::OutputFile> out;
    std::string error = p_directory.CreateOutput(p_path, p_overwrite, out);
    if (!error.empty())
        return error;
    const std::string streamed =
        StreamEntry(p_diagnostics, p_entry, false, [&](const char* p_bytes, std::size_t p_count) {
            if (error.empty())
                error = out->Write(p_bytes, p_count);
        });
    // The time after the data, which would change it again.
    const std::string restored = error.empty() ? out->Restore(EntryStamp(p_entry)) : std::string();
    const std::string closed = out->Close();
    if (!error.empty())
        return "write error: " + error;
    if (!restored.empty())
        return restored;
    if (!closed.empty())
        return "write error: " + closed;
    if (streamed.rfind("CRC-32", 0) == 0)
        return streamed + " (the file written holds the damaged data)";
    return streamed;
}

int ExtractArchive(const ExtractOptions& p_options)
{
    // "-" stands for standard input and output elsewhere; a folder of that name is never meant.
    if (p_options.directory == "-")
        throw Failure("-", "extract writes into a directory, not to standard output (cat writes an entry there)");
    const std::string& file = p_options.archive.file;
    ArchiveOptions archive = p_options.archive;
    const std::unique_ptr<ArchiveDiagnostics> diagnostics = DiagnoseArchive(archive);
    const std::string incomplete = IncompleteReason(*diagnostics);
    if (!incomplete.empty())
        throw Failure(file, incomplete);

    std::string error;
    std::unique_ptr<platform::ExtractDirectory> directory = platform::OpenExtractDirectory(p_options.directory, error);
    if (!directory)
        throw Failure(p_options.directory, "cannot create the directory: " + error);

    ProblemLines lines(p_options.all);
    std::size_t written = 0;
    // Folders are given their time and permission bits once everything is written into them.
    std::vector<std::pair<std::string, const ArchiveDiagnostics::Entry*>> folders;
    const std::vector<const ArchiveDiagnostics::Entry*> entries = InPathOrder(*diagnostics);
    Progress progress("extracting", entries.size());
    for (const ArchiveDiagnostics::Entry* entry : entries) {
        progress.Step();
        const std::string subject = file + ": " + entry->name;
        auto fail = [&](const std::string& p_reason) { lines.Print(subject, p_reason); };
        if (entry->name.find('\0') != std::string::npos) {
            fail("refused, the name holds a NUL byte (other tools end it there)");
            continue;
        }
        const std::string hostile = HostileName(entry->name);
        if (!hostile.empty()) {
            fail("refused, " + hostile + " would land outside " + p_options.directory);
            continue;
        }
        // "." components are nothing, on every system ("./Data/a.txt" as bsdtar stores it).
        const std::string path = AssetPath(Zip::WithoutDotComponents(entry->name)).str();
        if (path.empty()) {
            if (!entry->isDirectory)
                fail("refused, the name has no path");
            continue; // "./": the directory extracted into
        }
        if (entry->isDirectory) {
            const std::string made = directory->MakeFolders(path);
            if (!made.empty())
                fail("cannot make the folder: " + made);
            else
                folders.emplace_back(path, entry);
            continue;
        }
        if (entry->isLink && !p_options.linksAsFiles) {
            fail("skipped, symbolic link (--links-as-files writes it as a file holding the path it points to)");
            continue;
        }
        const std::string skipped = Unextractable(*entry);
        if (!skipped.empty()) {
            fail(skipped);
            continue;
        }
        const std::string problem = WriteEntry(*diagnostics, *entry, path, *directory, p_options.overwrite);
        if (!problem.empty()) {
            fail(problem);
            continue;
        }
        ++written;
    }
    // Deepest first: a folder's time changes when something is made in it.
    std::sort(folders.begin(), folders.end(),
              [](const auto& p_one, const auto& p_other) { return p_one.first > p_other.first; });
    for (const auto& folder : folders) {
        const Stamp stamp = EntryStamp(*folder.second);
        const std::string restored =
            stamp.hasTime || stamp.hasMode ? directory->RestoreFolder(folder.first, stamp) : std::string();
        if (!restored.empty())
            lines.Print(file + ": " + folder.second->name, restored);
    }
    lines.Finish(file);
    WriteOut(Printable(file) + ": " + std::to_string(written) + (written == 1 ? " file" : " files") +
             " extracted into " + Printable(p_options.directory) + "\n");
    FinishOutput();
    return lines.Count() > 0 ? Failed : Success;
}

} // namespace

void AddExtractCommand(CommandSet& p_commands)
{
    auto options = std::make_shared<ExtractOptions>();
    CLI::App* extract = p_commands.Add(
        "extract",
        "Write the entries of an archive below a directory. Nothing is written outside DIR or through a symbolic "
        "link; existing files stay unless --overwrite; encrypted and compressed entries and symbolic links are "
        "skipped, each named; the CRC-32 of every file written is checked; the modification time and rwx "
        "permission bits an entry keeps are restored (on Windows the time alone)",
        [options] { return ExtractArchive(*options); });
    AddArchiveOptions(*extract, options->archive);
    extract->add_option("DIR", options->directory, "The directory to write into (created when missing)")->required();
    extract->add_flag("--overwrite", options->overwrite, "Replace existing files (never a symbolic link)");
    extract->add_flag("--all", options->all,
                      "Name every entry that could not be extracted (otherwise the first " +
                          std::to_string(ProblemLines::Shown) + " and a count)");
    extract->add_flag("--links-as-files", options->linksAsFiles,
                      "Write symbolic-link entries as files holding the path they point to (otherwise each is "
                      "skipped, named, and the exit status is 1)");
}

} // namespace draxel_tool
