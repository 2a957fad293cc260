// draxel-assets cat, exists and tree: an asset library built from -m sources, asked as a host
// asks it.
#include "TreeCommands.h"

#include "ArchiveReading.h"
#include "Commands.h"
#include "ToolSupport.h"

#include <QorFile.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

using Json = nlohmann::ordered_json;

struct Mount {
    std::string source;
    AssetPath target;
    unsigned int priority = 0;
    KeyOptions key;
    bool keyGiven = false;
    // An archive's inspection: what cat streams entries from.
    std::shared_ptr<Inspection> archive;
};

// A mount target is a path of the tree, which has no leading slash: "/assets" is "assets".
AssetPath MountTarget(std::string p_text)
{
    const std::size_t slashes = p_text.find_first_not_of("/\\");
    p_text.erase(0, slashes == std::string::npos ? p_text.size() : slashes);
    return AssetPath(p_text);
}

Mount ParseMount(const std::string& p_text)
{
    Mount mount;
    const std::size_t first = p_text.find(':');
    mount.source = p_text.substr(0, first);
    if (first != std::string::npos) {
        const std::string rest = p_text.substr(first + 1);
        const std::size_t second = rest.find(':');
        mount.target = MountTarget(rest.substr(0, second));
        if (second != std::string::npos) {
            const std::string priority = rest.substr(second + 1);
            std::size_t used = 0;
            unsigned long value = 0;
            try {
                value = std::stoul(priority, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (priority.empty() || used != priority.size() || priority[0] == '-' || value > 0xffffffffu)
                throw Failure(p_text, "the priority must be a number from 0 to 4294967295", BadUsage);
            mount.priority = static_cast<unsigned int>(value);
        }
    }
    if (mount.source.empty())
        throw Failure(p_text, "a mount needs a source: -m SRC[:TARGET[:PRIO]]", BadUsage);
    return mount;
}

// The -m, --key and --key-file options in the order given: each key belongs to the -m before it.
std::vector<Mount> CollectMounts(const CLI::App& p_command, const CLI::Option* p_mount, const CLI::Option* p_key,
                                 const CLI::Option* p_keyFile)
{
    std::vector<Mount> mounts;
    std::size_t mountIndex = 0;
    std::size_t keyIndex = 0;
    std::size_t keyFileIndex = 0;
    for (const CLI::Option* option : p_command.parse_order()) {
        if (option == p_mount) {
            mounts.push_back(ParseMount(p_mount->results().at(mountIndex++)));
            continue;
        }
        const bool file = option == p_keyFile;
        if (!file && option != p_key)
            continue;
        const std::string& key = file ? p_keyFile->results().at(keyFileIndex++) : p_key->results().at(keyIndex++);
        const char* name = file ? "--key-file" : "--key";
        if (mounts.empty())
            throw Failure(name, "must follow the -m of the archive it opens", BadUsage);
        if (mounts.back().keyGiven)
            throw Failure(name, "one key per archive", BadUsage);
        (file ? mounts.back().key.file : mounts.back().key.text) = key;
        mounts.back().keyGiven = true;
    }
    return mounts;
}

// Archives are inspected before they are mounted, so that one the library would read only in
// part (a comment, ZIP64, a damaged directory) ends the command instead of serving a part.
boost::shared_ptr<AssetLibrary> BuildLibrary(std::vector<Mount>& p_mounts, Reports& p_reports)
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    for (Mount& mount : p_mounts) {
        p_reports.SetSubject(mount.source);
        const qorfile::filepath source(mount.source);
        if (fs::is_directory(fs::u8path(mount.source))) {
            if (mount.keyGiven)
                throw Failure(mount.source, "--key applies to archives, and this is a directory", BadUsage);
            library->MountDirectory(source, mount.target, mount.priority);
        } else if (fs::is_regular_file(fs::u8path(mount.source))) {
            ArchiveOptions options;
            options.file = mount.source;
            options.key = mount.key;
            mount.archive = InspectArchive(options);
            const std::string incomplete = IncompleteReason(*mount.archive);
            if (!incomplete.empty())
                throw Failure(mount.source, incomplete);
            library->MountArchive(source, mount.target, mount.priority,
                                  ResolveKey(mount.key.text, mount.key.file));
        } else {
            throw Failure(mount.source, "no such file or directory");
        }
    }
    return library;
}

std::string SourceName(const AssetPath& p_source)
{
    const std::string text = p_source.str();
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

// The archive entry that Open of a file reads when the library's lookup found it in an archive
// mount: the inspected entry the lookup names (the last stored file entry of that name, as the
// volume keeps it). Null otherwise.
const InspectedEntry* ArchiveEntry(const std::vector<Mount>& p_mounts, const AssetLibrary::Location& p_location,
                                   const Inspection*& p_archive)
{
    if (p_location.kind != AssetLibrary::Location::File || !p_location.isArchive)
        return nullptr;
    for (const Mount& mount : p_mounts) {
        if (!mount.archive || !(AssetPath(qorfile::filepath(mount.source)) == p_location.source))
            continue;
        const InspectedEntry* found = nullptr;
        for (const InspectedEntry& entry : mount.archive->Entries())
            if (!entry.isDirectory && entry.localHeaderOffset == p_location.entry.localHeaderOffset &&
                AssetPath(entry.name) == p_location.entry.path)
                found = &entry;
        p_archive = mount.archive.get();
        return found;
    }
    return nullptr;
}

// Archive entries are streamed from the archive in chunks, so that a big entry never sits in
// memory whole; everything else comes from the library's Open.
int WriteAsset(const boost::shared_ptr<AssetLibrary>& p_library, const std::vector<Mount>& p_mounts,
               const std::string& p_path, bool p_text, Reports& p_reports)
{
    const AssetPath path{std::string(p_path)};
    p_reports.SetSubject(p_path);
    const AssetLibrary::Location location = p_library->Locate(path);
    if (location.kind == AssetLibrary::Location::Directory)
        throw Failure(p_path, "is a directory");
    const Inspection* archive = nullptr;
    const InspectedEntry* entry = ArchiveEntry(p_mounts, location, archive);
    if (entry && Readable(*entry)) {
        if (!StreamEntry(*archive, *entry, p_text, [](const char* p_bytes, std::size_t p_count) {
                WriteOut(p_bytes, p_count);
            }))
            throw Failure(p_path, "cannot read the entry's data from the archive");
        return Success;
    }
    boost::shared_ptr<std::istream> stream = p_library->Open(path, p_text ? Volume::Text : Volume::Binary);
    if (!stream)
        throw Failure(p_path, p_library->Exists(path) ? "is a directory" : "no such asset");
    if (stream->fail())
        throw Failure(p_path, "cannot read the asset");
    std::vector<char> buffer(std::size_t(1) << 16);
    while (stream->read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || stream->gcount() > 0)
        WriteOut(buffer.data(), static_cast<std::size_t>(stream->gcount()));
    if (stream->bad())
        throw Failure(p_path, "cannot read the asset");
    return Success;
}

int TellWhetherExists(const boost::shared_ptr<AssetLibrary>& p_library, const std::string& p_path, bool p_json,
                      Reports& p_reports)
{
    const AssetPath path{std::string(p_path)};
    p_reports.SetSubject(p_path);
    const AssetLibrary::Location location = p_library->Locate(path);
    const bool exists = location.kind != AssetLibrary::Location::Absent;
    // The root is no child of anything: it is told without a source.
    const bool listed = exists && !path.str().empty();
    const bool isDirectory = location.kind == AssetLibrary::Location::Directory;
    if (p_json) {
        Json document{{"path", p_path}, {"exists", exists}};
        if (exists)
            document["type"] = isDirectory ? "directory" : "file";
        if (listed) {
            document["source"] = location.source.str();
            document["priority"] = location.priority;
        }
        WriteOut(document.dump(2) + "\n");
    } else if (!exists) {
        WriteOut(p_path + ": no such asset\n");
    } else if (listed) {
        WriteOut(p_path + ": " + (isDirectory ? "directory" : "file") + " from " + location.source.str() +
                 " (priority " + std::to_string(location.priority) + ")\n");
    } else {
        WriteOut(p_path + ": directory\n");
    }
    return exists ? Success : Failed;
}

Json TreeJson(const AssetLibrary& p_library, const AssetPath& p_directory)
{
    Json children = Json::array();
    for (const AssetLibrary::Child& child : p_library.Children(p_directory)) {
        Json item{{"name", child.name},
                  {"type", child.isDirectory ? "directory" : "file"},
                  {"source", child.source.str()},
                  {"priority", child.priority}};
        if (child.isDirectory)
            item["children"] = TreeJson(p_library, child.path);
        children.push_back(std::move(item));
    }
    return children;
}

int ShowTree(const AssetLibrary& p_library, const std::string& p_path, bool p_json, Reports& p_reports)
{
    const AssetPath root{std::string(p_path)};
    p_reports.SetSubject(p_path);
    if (!p_path.empty() && !p_library.Exists(root))
        throw Failure(p_path, "no such asset");
    if (p_json) {
        WriteOut(Json{{"path", p_path}, {"children", TreeJson(p_library, root)}}.dump(2) + "\n");
        return Success;
    }
    std::ostringstream text;
    PrintTree(p_library, root, std::string(), text);
    WriteOut(text.str());
    return Success;
}

struct TreeOptions {
    CLI::App* command = nullptr;
    MountOptions mounting;
    std::string path;
    bool text = false;
    bool json = false;
};

enum class TreeCommand { Cat, Exists, Tree };

int RunTreeCommand(TreeCommand p_which, const TreeOptions& p_options)
{
    std::vector<Mount> mounts = CollectMounts(*p_options.command, p_options.mounting.mount, p_options.mounting.key, p_options.mounting.keyFile);
    Reports reports(Reports::Throw);
    boost::shared_ptr<AssetLibrary> library = BuildLibrary(mounts, reports);
    switch (p_which) {
    case TreeCommand::Cat:
        return WriteAsset(library, mounts, p_options.path, p_options.text, reports);
    case TreeCommand::Exists:
        return TellWhetherExists(library, p_options.path, p_options.json, reports);
    case TreeCommand::Tree:
        break;
    }
    return ShowTree(*library, p_options.path, p_options.json, reports);
}

std::shared_ptr<TreeOptions> AddTreeCommand(CommandSet& p_commands, TreeCommand p_which, const char* p_name,
                                            const char* p_help, bool p_pathRequired)
{
    auto options = std::make_shared<TreeOptions>();
    options->command = p_commands.Add(p_name, p_help, [p_which, options] { return RunTreeCommand(p_which, *options); });
    AddMountOptions(*options->command, options->mounting);
    CLI::Option* path = options->command->add_option("PATH", options->path, "Asset path");
    if (p_pathRequired)
        path->required();
    return options;
}

} // namespace

void AddMountOptions(CLI::App& p_command, MountOptions& p_options)
{
    p_options.mount = p_command
                          .add_option("-m,--mount", p_options.mounts,
                                      "Mount SRC (a directory or an archive) at TARGET (default: the root; a "
                                      "leading slash is dropped, as tree paths have none) with priority PRIO "
                                      "(default 0); repeatable")
                          ->type_name("SRC[:TARGET[:PRIO]]")
                          ->allow_extra_args(false);
    p_options.key = p_command.add_option("--key", p_options.keys, "Scramble key of the archive named by the -m before it")
                        ->allow_extra_args(false);
    p_options.keyFile = p_command
                            .add_option("--key-file", p_options.keyFiles,
                                        "Scramble key of the archive named by the -m before it: the bytes of this file")
                            ->allow_extra_args(false);
}

boost::shared_ptr<AssetLibrary> MountedLibrary(const CLI::App& p_command, const MountOptions& p_options, Reports& p_reports)
{
    std::vector<Mount> mounts = CollectMounts(p_command, p_options.mount, p_options.key, p_options.keyFile);
    return BuildLibrary(mounts, p_reports);
}

void PrintTree(const AssetLibrary& p_library, const AssetPath& p_directory, const std::string& p_indent,
               std::ostream& p_out)
{
    for (const AssetLibrary::Child& child : p_library.Children(p_directory)) {
        std::string label = p_indent + child.name + (child.isDirectory ? "/" : "");
        if (label.size() < 36)
            label.resize(36, ' ');
        p_out << label << "  <- " << SourceName(child.source) << " (priority " << child.priority << ")\n";
        if (child.isDirectory)
            PrintTree(p_library, child.path, p_indent + "  ", p_out);
    }
}

void AddTreeCommands(CommandSet& p_commands)
{
    std::shared_ptr<TreeOptions> cat =
        AddTreeCommand(p_commands, TreeCommand::Cat, "cat", "Write an asset of the merged tree to standard output", true);
    cat->command->add_flag("-t,--text", cat->text, "Open in text mode (CR LF becomes LF)");
    std::shared_ptr<TreeOptions> exists = AddTreeCommand(
        p_commands, TreeCommand::Exists, "exists", "Tell whether an asset exists, and where it comes from", true);
    exists->command->add_flag("--json", exists->json, "Write the answer as JSON");
    std::shared_ptr<TreeOptions> tree =
        AddTreeCommand(p_commands, TreeCommand::Tree, "tree", "Show the merged tree below PATH (default: the root)", false);
    tree->command->add_flag("--json", tree->json, "Write the tree as JSON");
}

} // namespace draxel_tool
