// draxel-assets pack: an archive of stored entries from directories, written beside its target
// and renamed into place only when complete.
#include "Commands.h"
#include "ToolSupport.h"

#include <Assets/ArchiveWriter.h>
#include <Assets/AssetPath.h>
#include <Assets/Resource.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include <unistd.h>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

struct PackOptions {
    std::string out;
    std::vector<std::string> directories;
    KeyOptions key;
    bool trailer = false;
    bool builtIn = false;
    bool directoryEntries = false;
};

int PackArchive(const PackOptions& p_options)
{
    std::string key = ResolveKey(p_options.key.text, p_options.key.file);
    std::string out = p_options.out;
    bool trailer = p_options.trailer;
    if (p_options.builtIn) {
        // The built-in archive is mounted with the library's own key, so it carries none.
        key = Resource::BuiltInArchiveKey();
        trailer = false;
        if (fs::is_directory(out))
            out = (fs::path(out) / Resource::BuiltInArchiveName()).string();
    }
    if (trailer && key.size() != ArchiveWriter::KeyTrailerLength)
        throw Failure("pack", "--trailer needs a key of exactly 32 bytes (this key has " + std::to_string(key.size()) +
                                  ")",
                      BadUsage);
    const bool zipName = AssetPath(std::string(out)).Extension() == "zip";
    if (zipName && !key.empty())
        throw Failure(out, "a scrambled archive must not be named .zip (its data would be read unscrambled)", BadUsage);
    if (!zipName && key.empty())
        throw Failure(out, "an unscrambled archive must be named .zip (any other name is read as scrambled)", BadUsage);

    // Entry name -> the host file (empty for a directory entry), in byte order of names.
    std::map<std::string, std::string> entries;
    std::map<std::string, std::string> origin;
    for (const std::string& directory : p_options.directories) {
        if (!fs::is_directory(directory))
            throw Failure(directory, "not a directory");
        std::error_code error;
        for (fs::recursive_directory_iterator walk(directory, error), end; walk != end; walk.increment(error)) {
            if (error)
                throw Failure(directory, error.message());
            const fs::path& path = walk->path();
            const bool isDirectory = walk->is_directory();
            if (!isDirectory && !walk->is_regular_file())
                continue;
            if (isDirectory && !p_options.directoryEntries)
                continue;
            const std::string name = path.lexically_relative(directory).generic_string();
            auto known = origin.find(name);
            if (known != origin.end()) {
                if (isDirectory && entries[name].empty())
                    continue;
                throw Failure(path.string(), "duplicate entry name " + name + " (also in " + known->second + ")");
            }
            origin.emplace(name, directory);
            entries.emplace(name, isDirectory ? std::string() : path.string());
        }
    }

    const fs::path target(out);
    const fs::path temporary =
        target.parent_path() / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()));
    try {
        std::ofstream file(temporary, std::ios_base::binary | std::ios_base::trunc);
        if (!file)
            throw Failure(out, "cannot write here");
        ArchiveWriter writer(file, key);
        Progress progress("packing", entries.size());
        for (const auto& entry : entries) {
            if (entry.second.empty())
                writer.AddDirectory(entry.first);
            else
                writer.AddFile(entry.first, qorfile::filepath(entry.second));
            progress.Step();
        }
        writer.Finish(trailer);
        file.close();
        if (!file)
            throw Failure(out, "writing failed");
        fs::rename(temporary, target);
    } catch (...) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
    std::cout << out << ": " << entries.size() << (entries.size() == 1 ? " entry" : " entries")
              << (key.empty() ? "" : trailer ? ", scrambled, key in trailer" : ", scrambled") << std::endl;
    return Success;
}

} // namespace

void AddPackCommand(CommandSet& p_commands)
{
    auto options = std::make_shared<PackOptions>();
    CLI::App* pack = p_commands.Add("pack", "Write an archive of stored entries from directories",
                                    [options] { return PackArchive(*options); });
    pack->add_option("OUT", options->out, "The archive to write (with --builtin: or the assets directory)")
        ->required();
    pack->add_option("DIR", options->directories, "Directories whose content goes to the archive's root")
        ->required();
    AddKeyOptions(*pack, options->key);
    CLI::Option* trailer =
        pack->add_flag("--trailer", options->trailer, "Append the 32-byte key, so the archive carries its key");
    CLI::Option* builtIn = pack->add_flag("--builtin", options->builtIn,
                                          "Scramble with the library's built-in archive key (no trailer: the library "
                                          "gives the key when it mounts the built-in archive)");
    builtIn->excludes(trailer)->excludes("--key")->excludes("--key-file");
    pack->add_flag("-d,--directories", options->directoryEntries, "Store directory entries too");
}

} // namespace draxel_tool
