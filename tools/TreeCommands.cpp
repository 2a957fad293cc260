// draxel-assets cat, exists and tree: an asset library built from -m sources, asked as a host
// asks it.
#include "TreeCommands.h"

#include "ArchiveReading.h"
#include "Commands.h"
#include "JsonText.h"
#include "Mounts.h"
#include "ToolSupport.h"

#include <QorFile.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

std::string SourceName(const AssetPath& p_source)
{
    const std::string text = p_source.str();
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

AssetPath Parent(const AssetPath& p_path)
{
    const std::string text = p_path.str();
    const std::size_t slash = text.rfind('/');
    return AssetPath(slash == std::string::npos ? std::string() : text.substr(0, slash));
}

// The listing's word on p_path; false for the root or a path that is not listed.
bool FindChild(const AssetLibrary& p_library, const AssetPath& p_path, AssetLibrary::Child& p_found)
{
    if (p_path.str().empty())
        return false;
    for (AssetLibrary::Child& child : p_library.Children(Parent(p_path)))
        if (child.path == p_path) {
            p_found = std::move(child);
            return true;
        }
    return false;
}

// Why the file p_child at p_path cannot be opened, as cat would find: an archive entry the
// library lists but cannot open (compressed, encrypted, ...). Empty when it can be.
std::string UnopenableChild(const std::vector<Mount>& p_mounts, const AssetLibrary::Child& p_child,
                            const AssetPath& p_path)
{
    const ArchiveDiagnostics* diagnostics = nullptr;
    const ArchiveDiagnostics::Entry* entry =
        p_child.isDirectory ? nullptr : ArchiveEntry(p_mounts, p_child, p_path, diagnostics);
    return entry ? Unopenable(*entry) : std::string();
}

// Why a host file the library lists could not be opened: the system's reason ("Permission
// denied"); empty when it opens now.
std::string HostFileReason(const std::vector<Mount>& p_mounts, const AssetLibrary::Child& p_child,
                           const AssetPath& p_path)
{
    const std::string file = HostFile(p_mounts, p_child, p_path);
    if (file.empty())
        return std::string();
    errno = 0;
    std::ifstream probe(fs::u8path(file), std::ios_base::binary);
    return probe ? std::string() : std::strerror(errno != 0 ? errno : EIO);
}

// Archive entries are streamed from the archive in chunks, so that a big entry never sits in
// memory whole, and checked against their CRC-32; everything else comes from the library's Open.
int WriteAsset(const boost::shared_ptr<AssetLibrary>& p_library, const std::vector<Mount>& p_mounts,
               const std::string& p_path, bool p_text, Reports& p_reports)
{
    const AssetPath path{std::string(p_path)};
    p_reports.SetSubject(p_path);
    const AssetLibrary::Location location = p_library->Locate(path);
    if (location.kind == AssetLibrary::Location::Directory)
        throw Failure(p_path, "is a directory");
    const ArchiveDiagnostics* archive = nullptr;
    const ArchiveDiagnostics::Entry* entry = ArchiveEntry(p_mounts, location, archive);
    if (entry) {
        const std::string unopenable = Unopenable(*entry);
        if (!unopenable.empty())
            throw Failure(p_path, "cannot be opened: " + unopenable);
        const std::string streamed = StreamEntry(
            *archive, *entry, p_text, [](const char* p_bytes, std::size_t p_count) { WriteOut(p_bytes, p_count); });
        if (!streamed.empty()) {
            FinishOutput();
            throw Failure(p_path, streamed);
        }
        return Success;
    }
    boost::shared_ptr<std::istream> stream = p_library->Open(path, p_text ? Volume::Text : Volume::Binary);
    AssetLibrary::Child child;
    if (!stream && FindChild(*p_library, path, child)) {
        // A host file the listing has and Open cannot read: the system says why.
        const std::string reason = HostFileReason(p_mounts, child, path);
        if (!reason.empty())
            throw Failure(p_path, reason);
    }
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

// Why a listed file cannot be opened: an archive entry's reason, or a host file's.
std::string WhyNotOpenable(const std::vector<Mount>& p_mounts, const AssetLibrary::Child& p_child,
                           const AssetPath& p_path)
{
    if (p_child.isDirectory)
        return std::string();
    const std::string entry = UnopenableChild(p_mounts, p_child, p_path);
    return entry.empty() ? HostFileReason(p_mounts, p_child, p_path) : entry;
}

void PutOpenable(Json& p_item, const std::string& p_reason)
{
    p_item["openable"] = p_reason.empty();
    if (!p_reason.empty())
        p_item["reason"] = p_reason;
}

int TellWhetherExists(const boost::shared_ptr<AssetLibrary>& p_library, const std::vector<Mount>& p_mounts,
                      const std::string& p_path, bool p_json, Reports& p_reports)
{
    const AssetPath path{std::string(p_path)};
    p_reports.SetSubject(p_path);
    AssetLibrary::Child child;
    // A host file that cannot be opened is listed, though Exists (which opens it) denies it.
    const bool listed = FindChild(*p_library, path, child);
    const bool exists = listed || p_library->Exists(path);
    const std::string unopenable = listed ? WhyNotOpenable(p_mounts, child, path) : std::string();
    if (p_json) {
        Json document;
        PutName(document, "path", p_path);
        document["exists"] = exists;
        if (exists)
            document["type"] = !listed || child.isDirectory ? "directory" : "file";
        if (listed) {
            PutName(document, "source", SourceText(p_mounts, child.source));
            document["priority"] = child.priority;
            if (!child.isDirectory)
                PutOpenable(document, unopenable);
        }
        WriteOut(JsonText(document));
    } else if (!exists) {
        WriteOut(Printable(p_path) + ": no such asset\n");
    } else if (listed) {
        WriteOut(Printable(p_path) + ": " + (child.isDirectory ? "directory" : "file") + " from " +
                 Printable(SourceText(p_mounts, child.source)) + " (priority " + std::to_string(child.priority) + ")" +
                 (unopenable.empty() ? std::string() : ", cannot be opened: " + unopenable) + "\n");
    } else {
        WriteOut(Printable(p_path) + ": directory\n");
    }
    return exists ? Success : Failed;
}

Json TreeJson(const AssetLibrary& p_library, const std::vector<Mount>& p_mounts, const AssetPath& p_directory)
{
    Json children = Json::array();
    for (const AssetLibrary::Child& child : p_library.Children(p_directory)) {
        Json item;
        PutName(item, "name", child.name);
        item["type"] = child.isDirectory ? "directory" : "file";
        PutName(item, "source", SourceText(p_mounts, child.source));
        item["priority"] = child.priority;
        if (child.isDirectory)
            item["children"] = TreeJson(p_library, p_mounts, child.path);
        else
            PutOpenable(item, WhyNotOpenable(p_mounts, child, child.path));
        children.push_back(std::move(item));
    }
    return children;
}

int ShowTree(const AssetLibrary& p_library, const std::vector<Mount>& p_mounts, const std::string& p_path, bool p_json,
             Reports& p_reports)
{
    const AssetPath root{std::string(p_path)};
    p_reports.SetSubject(p_path);
    if (!p_path.empty() && !p_library.Exists(root))
        throw Failure(p_path, "no such asset");
    if (p_json) {
        Json document;
        PutName(document, "path", p_path);
        document["children"] = TreeJson(p_library, p_mounts, root);
        WriteOut(JsonText(document));
        return Success;
    }
    std::ostringstream text;
    PrintTree(p_library, root, std::string(), text, [&](const AssetLibrary::Child& p_child) {
        const std::string reason = WhyNotOpenable(p_mounts, p_child, p_child.path);
        return reason.empty() ? std::string() : "cannot be opened: " + reason;
    });
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
    std::vector<Mount> mounts = CollectMounts(*p_options.command, p_options.mounting);
    Reports reports(Reports::Throw);
    boost::shared_ptr<AssetLibrary> library = BuildLibrary(mounts, reports);
    switch (p_which) {
    case TreeCommand::Cat:
        return WriteAsset(library, mounts, p_options.path, p_options.text, reports);
    case TreeCommand::Exists:
        return TellWhetherExists(library, mounts, p_options.path, p_options.json, reports);
    case TreeCommand::Tree:
        break;
    }
    return ShowTree(*library, mounts, p_options.path, p_options.json, reports);
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

void PrintTree(const AssetLibrary& p_library, const AssetPath& p_directory, const std::string& p_indent,
               std::ostream& p_out, const std::function<std::string(const AssetLibrary::Child&)>& p_note)
{
    for (const AssetLibrary::Child& child : p_library.Children(p_directory)) {
        std::string label = p_indent + Printable(child.name) + (child.isDirectory ? "/" : "");
        if (label.size() < 36)
            label.resize(36, ' ');
        p_out << label << "  <- " << Printable(SourceName(child.source)) << " (priority " << child.priority << ")";
        const std::string note = p_note ? p_note(child) : std::string();
        if (!note.empty())
            p_out << ", " << note;
        p_out << "\n";
        if (child.isDirectory)
            PrintTree(p_library, child.path, p_indent + "  ", p_out, p_note);
    }
}

void AddTreeCommands(CommandSet& p_commands)
{
    std::shared_ptr<TreeOptions> cat = AddTreeCommand(p_commands, TreeCommand::Cat, "cat",
                                                      "Write an asset of the merged tree to standard output", true);
    cat->command->add_flag("-t,--text", cat->text, "Open in text mode (CR LF becomes LF)");
    std::shared_ptr<TreeOptions> exists = AddTreeCommand(p_commands, TreeCommand::Exists, "exists",
                                                         "Tell whether an asset exists, and where it comes from", true);
    exists->command->add_flag("--json", exists->json, "Write the answer as JSON");
    std::shared_ptr<TreeOptions> tree = AddTreeCommand(p_commands, TreeCommand::Tree, "tree",
                                                       "Show the merged tree below PATH (default: the root)", false);
    tree->command->add_flag("--json", tree->json, "Write the tree as JSON");
}

} // namespace draxel_tool
