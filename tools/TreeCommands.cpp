// draxel-assets cat, exists and tree: an asset library built from -m sources, asked as a host
// asks it.
#include "TreeCommands.h"

#include "Commands.h"
#include "ToolSupport.h"

#include <filesystem>
#include <iostream>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

struct Mount {
    std::string source;
    AssetPath target;
    unsigned int priority = 0;
    std::string key;
    bool keyGiven = false;
};

Mount ParseMount(const std::string& p_text)
{
    Mount mount;
    const std::size_t first = p_text.find(':');
    mount.source = p_text.substr(0, first);
    if (first != std::string::npos) {
        const std::string rest = p_text.substr(first + 1);
        const std::size_t second = rest.find(':');
        mount.target = AssetPath(rest.substr(0, second));
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

// The -m and --key options in the order given: each --key belongs to the -m before it.
std::vector<Mount> CollectMounts(const CLI::App& p_command, const CLI::Option* p_mount, const CLI::Option* p_key)
{
    std::vector<Mount> mounts;
    std::size_t mountIndex = 0;
    std::size_t keyIndex = 0;
    for (const CLI::Option* option : p_command.parse_order()) {
        if (option == p_mount) {
            mounts.push_back(ParseMount(p_mount->results().at(mountIndex++)));
        } else if (option == p_key) {
            const std::string& key = p_key->results().at(keyIndex++);
            if (mounts.empty())
                throw Failure("--key", "must follow the -m of the archive it opens", BadUsage);
            mounts.back().key = key;
            mounts.back().keyGiven = true;
        }
    }
    return mounts;
}

boost::shared_ptr<AssetLibrary> BuildLibrary(const std::vector<Mount>& p_mounts, Reports& p_reports)
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    for (const Mount& mount : p_mounts) {
        p_reports.SetSubject(mount.source);
        const qorfile::filepath source(mount.source);
        if (fs::is_directory(mount.source)) {
            if (mount.keyGiven)
                throw Failure(mount.source, "--key applies to archives, and this is a directory", BadUsage);
            library->MountDirectory(source, mount.target, mount.priority);
        } else if (fs::is_regular_file(mount.source)) {
            library->MountArchive(source, mount.target, mount.priority, mount.key);
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

bool IsDirectory(const AssetLibrary& p_library, const AssetPath& p_path)
{
    AssetLibrary::Child child;
    return p_library.Exists(p_path) && (!FindChild(p_library, p_path, child) || child.isDirectory);
}

int WriteAsset(const boost::shared_ptr<AssetLibrary>& p_library, const std::string& p_path, bool p_text, Reports& p_reports)
{
    const AssetPath path{std::string(p_path)};
    p_reports.SetSubject(p_path);
    if (IsDirectory(*p_library, path))
        throw Failure(p_path, "is a directory");
    boost::shared_ptr<std::istream> stream;
    try {
        stream = p_library->Open(path, p_text ? Volume::Text : Volume::Binary);
    } catch (const std::out_of_range&) {
        return Success; // an archive entry of size 0
    }
    if (!stream)
        throw Failure(p_path, p_library->Exists(path) ? "is a directory" : "no such asset");
    if (stream->fail())
        throw Failure(p_path, "cannot read the asset");
    std::cout << stream->rdbuf() << std::flush;
    return Success;
}

int TellWhetherExists(const boost::shared_ptr<AssetLibrary>& p_library, const std::string& p_path, Reports& p_reports)
{
    const AssetPath path{std::string(p_path)};
    p_reports.SetSubject(p_path);
    if (!p_library->Exists(path)) {
        std::cout << p_path << ": no such asset" << std::endl;
        return Failed;
    }
    AssetLibrary::Child child;
    if (FindChild(*p_library, path, child)) {
        std::cout << p_path << ": " << (child.isDirectory ? "directory" : "file") << " from " << child.source.str()
                  << " (priority " << child.priority << ")" << std::endl;
        return Success;
    }
    std::cout << p_path << ": directory" << std::endl;
    return Success;
}

int ShowTree(const AssetLibrary& p_library, const std::string& p_path, Reports& p_reports)
{
    const AssetPath root{std::string(p_path)};
    p_reports.SetSubject(p_path);
    if (!p_path.empty() && !p_library.Exists(root))
        throw Failure(p_path, "no such asset");
    PrintTree(p_library, root, std::string(), std::cout);
    std::cout << std::flush;
    return Success;
}

struct TreeOptions {
    CLI::App* command = nullptr;
    CLI::Option* mount = nullptr;
    CLI::Option* key = nullptr;
    std::vector<std::string> mounts;
    std::vector<std::string> keys;
    std::string path;
    bool text = false;
};

enum class TreeCommand { Cat, Exists, Tree };

int RunTreeCommand(TreeCommand p_which, const TreeOptions& p_options)
{
    const std::vector<Mount> mounts = CollectMounts(*p_options.command, p_options.mount, p_options.key);
    Reports reports(Reports::Throw);
    boost::shared_ptr<AssetLibrary> library = BuildLibrary(mounts, reports);
    switch (p_which) {
    case TreeCommand::Cat:
        return WriteAsset(library, p_options.path, p_options.text, reports);
    case TreeCommand::Exists:
        return TellWhetherExists(library, p_options.path, reports);
    case TreeCommand::Tree:
        break;
    }
    return ShowTree(*library, p_options.path, reports);
}

std::shared_ptr<TreeOptions> AddTreeCommand(CommandSet& p_commands, TreeCommand p_which, const char* p_name,
                                            const char* p_help, bool p_pathRequired)
{
    auto options = std::make_shared<TreeOptions>();
    options->command = p_commands.Add(p_name, p_help, [p_which, options] { return RunTreeCommand(p_which, *options); });
    options->mount = options->command
                         ->add_option("-m,--mount", options->mounts,
                                      "Mount SRC (a directory or an archive) at TARGET (default: the root) "
                                      "with priority PRIO (default 0); repeatable")
                         ->type_name("SRC[:TARGET[:PRIO]]")
                         ->allow_extra_args(false);
    options->key = options->command
                       ->add_option("--key", options->keys, "Scramble key of the archive named by the -m before it")
                       ->allow_extra_args(false);
    CLI::Option* path = options->command->add_option("PATH", options->path, "Asset path");
    if (p_pathRequired)
        path->required();
    return options;
}

} // namespace

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
    AddTreeCommand(p_commands, TreeCommand::Exists, "exists", "Tell whether an asset exists, and where it comes from",
                   true);
    AddTreeCommand(p_commands, TreeCommand::Tree, "tree", "Show the merged tree below PATH (default: the root)", false);
}

} // namespace draxel_tool
