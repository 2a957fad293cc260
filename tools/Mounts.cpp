// The -m options of the tree commands, and the asset library they make.
#include "Mounts.h"

#include "Platform.h"
#include "ToolSupport.h"

#include <QorFile.h>

#include <filesystem>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

// The key that reads a plain archive through the library whatever its name: a scrambled
// archive's bytes are XORed with the key, and XOR with a zero byte leaves them as they are.
const std::string PlainKey(1, '\0');

// A mount target is a path of the tree, which has no leading slash: "/assets" is "assets".
AssetPath MountTarget(std::string p_text)
{
    const std::size_t slashes = p_text.find_first_not_of("/\\");
    p_text.erase(0, slashes == std::string::npos ? p_text.size() : slashes);
    return AssetPath(p_text);
}

unsigned int MountPriority(const std::string& p_text, const std::string& p_subject)
{
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(p_text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (p_text.empty() || used != p_text.size() || p_text[0] == '-' || value > 0xffffffffu)
        throw Failure(p_subject, "the priority must be a number from 0 to 4294967295", BadUsage);
    return static_cast<unsigned int>(value);
}

// SRC[:TARGET[:PRIO]]; a drive letter's colon (Windows) is part of SRC.
void ParseMount(const std::string& p_text, Mount& p_mount)
{
    const std::size_t first = p_text.find(':', platform::DrivePrefixLength(p_text));
    p_mount.source = p_text.substr(0, first);
    if (first != std::string::npos) {
        const std::string rest = p_text.substr(first + 1);
        const std::size_t second = rest.find(':');
        p_mount.target = MountTarget(rest.substr(0, second));
        if (second != std::string::npos)
            p_mount.priority = MountPriority(rest.substr(second + 1), p_text);
    }
}

// What the options after one -m gave, before the -m is taken apart.
struct Given {
    std::string text;
    Mount mount;
    bool target = false;
    bool priority = false;
    bool plain = false;
};

} // namespace

void AddMountOptions(CLI::App& p_command, MountOptions& p_options)
{
    p_options.mount = p_command
                          .add_option("-m,--mount", p_options.mounts,
                                      "Mount SRC (a directory or an archive; - for an archive on standard input) at "
                                      "TARGET (default: the root; a leading slash is dropped, as tree paths have "
                                      "none) with priority PRIO (default 0); repeatable. On Windows a drive letter's "
                                      "colon belongs to SRC. With --target or --priority after it, SRC is the whole "
                                      "text, colons and all")
                          ->type_name("SRC[:TARGET[:PRIO]]")
                          ->allow_extra_args(false);
    p_options.target = p_command
                           .add_option("--target", p_options.targets,
                                       "Mount the -m before it at this path of the tree (its SRC is then taken whole)")
                           ->allow_extra_args(false);
    p_options.priority = p_command
                             .add_option("--priority", p_options.priorities,
                                         "Mount the -m before it with this priority (its SRC is then taken whole)")
                             ->allow_extra_args(false);
    p_options.key =
        p_command.add_option("--key", p_options.keys, "Scramble key of the archive named by the -m before it")
            ->allow_extra_args(false);
    p_options.keyFile = p_command
                            .add_option("--key-file", p_options.keyFiles,
                                        "Scramble key of the archive named by the -m before it: the bytes of this file")
                            ->allow_extra_args(false);
    p_options.plain =
        p_command.add_flag("--plain", "Read the archive named by the -m before it as a plain ZIP whatever its name");
}

std::vector<Mount> CollectMounts(const CLI::App& p_command, const MountOptions& p_options)
{
    std::vector<Given> given;
    std::size_t mountIndex = 0, keyIndex = 0, keyFileIndex = 0, targetIndex = 0, priorityIndex = 0;
    for (const CLI::Option* option : p_command.parse_order()) {
        if (option == p_options.mount) {
            given.push_back(Given{p_options.mount->results().at(mountIndex++), Mount(), false, false, false});
            continue;
        }
        const char* name = option == p_options.key        ? "--key"
                           : option == p_options.keyFile  ? "--key-file"
                           : option == p_options.plain    ? "--plain"
                           : option == p_options.target   ? "--target"
                           : option == p_options.priority ? "--priority"
                                                          : nullptr;
        if (!name)
            continue;
        if (given.empty())
            throw Failure(name, "must follow the -m it applies to", BadUsage);
        Given& last = given.back();
        auto once = [&](bool& p_seen) {
            if (p_seen)
                throw Failure(name, "given twice for one -m", BadUsage);
            p_seen = true;
        };
        if (option == p_options.target) {
            once(last.target);
            last.mount.target = MountTarget(p_options.targets.at(targetIndex++));
        } else if (option == p_options.priority) {
            once(last.priority);
            last.mount.priority = MountPriority(p_options.priorities.at(priorityIndex++), name);
        } else if (option == p_options.plain) {
            once(last.plain);
            last.mount.archive.plain = true;
        } else {
            if (last.mount.keyGiven)
                throw Failure(name, "one key per archive", BadUsage);
            const bool file = option == p_options.keyFile;
            (file ? last.mount.archive.key.file : last.mount.archive.key.text) =
                file ? p_options.keyFiles.at(keyFileIndex++) : p_options.keys.at(keyIndex++);
            last.mount.keyGiven = true;
        }
    }
    std::vector<Mount> mounts;
    for (Given& item : given) {
        if (item.target || item.priority)
            item.mount.source = item.text;
        else
            ParseMount(item.text, item.mount);
        if (item.mount.source.empty())
            throw Failure(item.text, "a mount needs a source: -m SRC[:TARGET[:PRIO]]", BadUsage);
        if (item.plain && item.mount.keyGiven)
            throw Failure(item.mount.source, "--plain reads an archive that is not scrambled, so it takes no key",
                          BadUsage);
        mounts.push_back(std::move(item.mount));
    }
    return mounts;
}

// Archives are diagnosed before they are mounted, so that one the library would read only in
// part (a comment, ZIP64, a damaged directory) ends the command instead of serving a part.
boost::shared_ptr<AssetLibrary> BuildLibrary(std::vector<Mount>& p_mounts, Reports& p_reports)
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    for (Mount& mount : p_mounts) {
        p_reports.SetSubject(mount.source);
        const bool directory = mount.source != "-" && fs::is_directory(fs::u8path(mount.source));
        if (directory) {
            if (mount.keyGiven || mount.archive.plain)
                throw Failure(mount.source,
                              std::string(mount.keyGiven ? "--key" : "--plain") +
                                  " applies to archives, and this is a directory",
                              BadUsage);
            library->MountDirectory(qorfile::filepath(mount.source), mount.target, mount.priority);
            continue;
        }
        if (mount.source != "-" && !fs::exists(fs::u8path(mount.source)))
            throw Failure(mount.source, "no such file or directory");
        mount.archive.file = mount.source;
        mount.diagnostics = DiagnoseArchive(mount.archive);
        const std::string incomplete = IncompleteReason(*mount.diagnostics);
        if (!incomplete.empty())
            throw Failure(mount.source, incomplete);
        const std::string key = ResolveKey(mount.archive.key.text, mount.archive.key.file);
        library->MountArchive(qorfile::filepath(mount.archive.readFrom), mount.target, mount.priority,
                              mount.archive.plain ? PlainKey : key);
    }
    return library;
}

boost::shared_ptr<AssetLibrary> MountedLibrary(const CLI::App& p_command, const MountOptions& p_options,
                                               Reports& p_reports)
{
    std::vector<Mount> mounts = CollectMounts(p_command, p_options);
    return BuildLibrary(mounts, p_reports);
}

namespace {

const Mount* MountOf(const std::vector<Mount>& p_mounts, const AssetPath& p_source)
{
    for (const Mount& mount : p_mounts) {
        const std::string& read = mount.diagnostics ? mount.archive.readFrom : mount.source;
        if (AssetPath(qorfile::filepath(read)) == p_source)
            return &mount;
    }
    return nullptr;
}

} // namespace

const ArchiveDiagnostics::Entry* ArchiveEntry(const std::vector<Mount>& p_mounts, const AssetLibrary::Child& p_child,
                                              const AssetPath& p_path, const ArchiveDiagnostics*& p_diagnostics)
{
    const Mount* mount = MountOf(p_mounts, p_child.source);
    if (!mount || !mount->diagnostics || p_child.isDirectory)
        return nullptr;
    const AssetPath inside = p_path.RelativeTo(mount->target);
    const ArchiveDiagnostics::Entry* found = nullptr;
    for (const ArchiveDiagnostics::Entry& entry : mount->diagnostics->Entries())
        if (!entry.isDirectory && AssetPath(entry.name) == inside)
            found = &entry;
    p_diagnostics = mount->diagnostics.get();
    return found;
}

const ArchiveDiagnostics::Entry* ArchiveEntry(const std::vector<Mount>& p_mounts,
                                              const AssetLibrary::Location& p_location,
                                              const ArchiveDiagnostics*& p_diagnostics)
{
    if (p_location.kind != AssetLibrary::Location::File || !p_location.isArchive)
        return nullptr;
    const Mount* mount = MountOf(p_mounts, p_location.source);
    if (!mount || !mount->diagnostics)
        return nullptr;
    const ArchiveDiagnostics::Entry* found = nullptr;
    for (const ArchiveDiagnostics::Entry& entry : mount->diagnostics->Entries())
        if (!entry.isDirectory && entry.localHeaderOffset == p_location.entry.localHeaderOffset &&
            AssetPath(entry.name) == p_location.entry.path)
            found = &entry;
    p_diagnostics = mount->diagnostics.get();
    return found;
}

std::string HostFile(const std::vector<Mount>& p_mounts, const AssetLibrary::Child& p_child, const AssetPath& p_path)
{
    const Mount* mount = MountOf(p_mounts, p_child.source);
    if (!mount || mount->diagnostics || p_child.isDirectory)
        return std::string();
    return (fs::u8path(mount->source) / fs::u8path(p_path.RelativeTo(mount->target).str())).u8string();
}

std::string SourceText(const std::vector<Mount>& p_mounts, const AssetPath& p_source)
{
    const Mount* mount = MountOf(p_mounts, p_source);
    return mount && mount->diagnostics && mount->archive.readFrom != mount->source ? mount->source : p_source.str();
}

} // namespace draxel_tool
