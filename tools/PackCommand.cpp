// draxel-assets pack: an archive of stored entries from directories, or converted from another
// ZIP archive (SourceArchive.h), written beside its target and renamed into place only when
// complete.
//
// Nothing is lost silently: a file or folder that cannot be read, and a named pipe, socket or
// device (which hold no file to pack), ends the command naming it
// (with --skip-unreadable: a warning each, and exit status 1). Symbolic links are followed,
// to files and to folders alike, except a link to a folder that contains it (a loop), which
// is an error; a link that leads nowhere is an unreadable file. The archive being written, and
// the file it replaces, are never packed into it.
#include "Commands.h"
#include "PackOrder.h"
#include "Depfile.h"
#include "Platform.h"
#include "SourceArchive.h"
#include "ToolSupport.h"

#include <Assets/ArchiveWriter.h>
#include <Assets/AssetPath.h>
#include "BuiltInArchive.h"
#include "ArchiveCore/Format.h"
#include "ArchiveCore/Names.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

struct PackOptions {
    std::string out;
    std::vector<std::string> directories;
    std::string from;
    KeyOptions key;
    bool trailer = false;
    bool builtIn = false;
    bool directoryEntries = false;
    bool skipUnreadable = false;
    bool plain = false;
    std::string depfile;
    bool linksAsFiles = false;
    bool keepTimes = false;
    std::string order; // a file naming entries, one a line, to be written first in that order
};

// One entry to write: a host file, a directory entry, or an entry of the --from archive.
struct Item {
    std::string file; // empty for a directory entry or an archive entry
    bool directory = false;
    const SourceArchive::Entry* from = nullptr;
    std::string origin; // where the name came from, for the duplicate message (a tree's: the folder walked)
};

class Collector {
public:
    Collector(const PackOptions& p_options, const std::vector<fs::path>& p_ownFiles)
        : _options(p_options), _ownFiles(p_ownFiles)
    {
    }

    std::map<std::string, Item>& Items() { return _items; }
    const std::map<std::string, Item>& Items() const { return _items; }
    std::size_t Skipped() const { return _skipped; }
    // Every folder walked, the given ones first: what a depfile names beside the files.
    const std::vector<std::string>& Folders() const { return _folders; }

    void AddDirectoryTree(const std::string& p_root)
    {
        std::error_code error;
        const fs::path root = fs::u8path(p_root);
        const fs::file_status status = fs::status(root, error);
        if (!fs::is_directory(status))
            throw Failure(p_root, error ? error.message() : "not a directory");
        Walk(root, fs::path(), {fs::weakly_canonical(root, error)});
    }

    void Add(const std::string& p_name, Item p_item)
    {
        auto known = _items.find(p_name);
        if (known != _items.end()) {
            if (p_item.directory && known->second.directory)
                return;
            throw Failure(p_item.file.empty() ? p_item.origin : p_item.file,
                          "duplicate entry name " + p_name + " (also in " + known->second.origin + ")");
        }
        _items.emplace(p_name, std::move(p_item));
    }

    // A path that cannot be packed: the command ends, or with --skip-unreadable it goes on.
    void Unreadable(const fs::path& p_path, const std::string& p_reason)
    {
        if (!_options.skipUnreadable)
            throw Failure(p_path.u8string(), p_reason + " (--skip-unreadable packs the rest)");
        PrintError(p_path.u8string(), "skipped: " + p_reason);
        ++_skipped;
    }

private:
    // p_ancestors: the canonical folders on the way down, to tell a link loop.
    void Walk(const fs::path& p_folder, const fs::path& p_relative, const std::vector<fs::path>& p_ancestors)
    {
        _folders.push_back(p_folder.u8string());
        std::error_code error;
        fs::directory_iterator listing(p_folder, error);
        if (error) {
            Unreadable(p_folder, error.message());
            return;
        }
        for (fs::directory_iterator end; listing != end; listing.increment(error)) {
            if (error) {
                Unreadable(p_folder, error.message());
                return;
            }
            const fs::path path = listing->path();
            const fs::path relative = p_relative / path.filename();
            std::error_code statusError;
            const fs::file_status status = fs::status(path, statusError);
            if (statusError) {
                Unreadable(path, fs::is_symlink(fs::symlink_status(path, error)) ? "a symbolic link that leads nowhere"
                                                                                 : statusError.message());
                continue;
            }
            if (fs::is_directory(status)) {
                const fs::path canonical = fs::canonical(path, error);
                if (error) {
                    Unreadable(path, error.message());
                    continue;
                }
                bool loop = false;
                for (const fs::path& ancestor : p_ancestors)
                    loop = loop || ancestor == canonical;
                if (loop)
                    throw Failure(path.u8string(), "a symbolic link to a folder that contains it (a loop)");
                if (_options.directoryEntries)
                    Add(relative.generic_u8string(), Item{std::string(), true, nullptr, p_folder.u8string()});
                std::vector<fs::path> ancestors = p_ancestors;
                ancestors.push_back(canonical);
                Walk(path, relative, ancestors);
                continue;
            }
            if (!fs::is_regular_file(status)) {
                // Reading a pipe or a device would wait or never end: neither is a file to pack.
                Unreadable(path, fs::is_fifo(status)     ? "a named pipe (FIFO), not a file"
                                 : fs::is_socket(status) ? "a socket, not a file"
                                                         : "a device, not a file");
                continue;
            }
            if (IsOwnFile(path))
                continue;
            std::ifstream probe(path, std::ios_base::binary);
            if (!probe) {
                Unreadable(path, std::strerror(errno));
                continue;
            }
            Add(relative.generic_u8string(), Item{path.u8string(), false, nullptr, p_folder.u8string()});
        }
    }

    bool IsOwnFile(const fs::path& p_path) const
    {
        std::error_code error;
        for (const fs::path& own : _ownFiles)
            if (fs::equivalent(p_path, own, error))
                return true;
        return false;
    }

    const PackOptions& _options;
    std::vector<fs::path> _ownFiles;
    std::map<std::string, Item> _items;
    std::size_t _skipped = 0;
    std::vector<std::string> _folders;
};

// What the archive was made from, for the depfile: the folders walked, the files packed, the
// --from archive and the key file.
std::vector<std::string> Dependencies(const PackOptions& p_options, const Collector& p_collector)
{
    std::vector<std::string> dependencies = p_collector.Folders();
    for (const auto& entry : p_collector.Items())
        if (!entry.second.file.empty())
            dependencies.push_back(entry.second.file);
    if (!p_options.from.empty())
        dependencies.push_back(p_options.from);
    if (!p_options.key.file.empty())
        dependencies.push_back(p_options.key.file);
    return dependencies;
}

using ItemList = std::vector<std::map<std::string, Item>::const_iterator>;

// With --keep-times, the source archive's stamp or the host file's or folder's (in the folder
// walked, its origin); otherwise none, so that the same tree gives the same archive.
Stamp StampOf(const std::string& p_name, const Item& p_item, bool p_keepTimes)
{
    Stamp stamp;
    std::string error;
    const std::string path =
        p_item.directory ? (fs::u8path(p_item.origin) / fs::u8path(p_name).filename()).u8string() : p_item.file;
    if (p_keepTimes && p_item.from)
        stamp = p_item.from->stamp;
    else if (p_keepTimes && !platform::ReadStamp(path, stamp, error))
        throw Failure(path, "cannot read its modification time: " + error);
    return stamp;
}

void WriteItems(ArchiveWriter& p_writer, const ItemList& p_items, const SourceArchive* p_source, bool p_keepTimes)
{
    Progress progress("packing", p_items.size());
    for (const auto& position : p_items) {
        const auto& entry = *position;
        const Item& item = entry.second;
        try {
            const Stamp stamp = StampOf(entry.first, item, p_keepTimes);
            if (item.directory)
                p_writer.AddDirectory(entry.first, stamp);
            else if (item.from)
                p_writer.AddStream(
                    entry.first, item.from->size, item.from->crc32,
                    [&](const ArchiveWriter::Sink& p_sink) { p_source->Read(*item.from, p_sink); }, stamp);
            else
                p_writer.AddFile(entry.first, qorfile::filepath(item.file), stamp);
        } catch (const std::logic_error& error) { // the limits of the format, a stream unlike its size
            throw Failure(item.file.empty() ? entry.first : item.file, error.what());
        }
        progress.Step();
    }
}

int PackArchive(const PackOptions& p_options)
{
    std::string key = ResolveKey(p_options.key.text, p_options.key.file);
    std::string out = p_options.out;
    const bool toStandardOutput = out == "-";
    bool trailer = p_options.trailer;
    if (p_options.builtIn) {
        // The built-in archive is mounted with the library's own key, so it carries none.
        const BuiltInArchive builtIn = BuiltInArchives().front();
        key = builtIn.key;
        trailer = false;
        if (fs::is_directory(fs::u8path(out)))
            out = (fs::u8path(out) / builtIn.name).u8string();
    }
    if (trailer && key.size() != Zip::KeyTrailerLength)
        throw Failure("pack",
                      "--trailer needs a key of exactly 32 bytes (this key has " + std::to_string(key.size()) + ")",
                      BadUsage);
    if (p_options.directories.empty() && p_options.from.empty())
        throw Failure("pack", "nothing to pack: give directories, or --from ARCHIVE", BadUsage);
    if (toStandardOutput && !p_options.depfile.empty())
        throw Failure("pack", "--depfile needs an archive file, not standard output", BadUsage);
    if (!toStandardOutput && !p_options.plain) {
        const bool zipName = !Zip::IsScrambledArchive(AssetPath(std::string(out)));
        if (zipName && !key.empty())
            throw Failure(out, "a scrambled archive must not be named .zip (its data would be read unscrambled)",
                          BadUsage);
        if (!zipName && key.empty())
            throw Failure(out, "an unscrambled archive must be named .zip (any other name is read as scrambled)",
                          BadUsage);
    }

    const fs::path target = fs::u8path(out);
    const fs::path temporary = target.parent_path() / fs::u8path("." + target.filename().u8string() + ".tmp" +
                                                                 std::to_string(platform::ProcessId()));
    std::vector<fs::path> ownFiles;
    if (!toStandardOutput)
        ownFiles = {target, temporary};
    Collector collector(p_options, ownFiles);
    for (const std::string& directory : p_options.directories)
        collector.AddDirectoryTree(directory);
    std::unique_ptr<SourceArchive> from;
    std::vector<SourceArchive::Entry> fromEntries;
    std::size_t linksSkipped = 0;
    if (!p_options.from.empty()) {
        from = OpenSourceArchive(p_options.from);
        fromEntries = from->Entries();
        for (const SourceArchive::Entry& entry : fromEntries) {
            if (entry.link && !p_options.linksAsFiles) {
                PrintError(
                    p_options.from + ": " + entry.name,
                    "skipped, symbolic link (--links-as-files packs it as a file holding the path it points to)");
                ++linksSkipped;
                continue;
            }
            collector.Add(entry.name, Item{std::string(), entry.directory, &entry, p_options.from});
        }
    }
    const std::map<std::string, Item>& items = collector.Items();
    const ItemList order = WriteOrder(items, p_options.order);

    if (toStandardOutput) {
        try {
            ArchiveWriter writer(StandardOutput(), key);
            WriteItems(writer, order, from.get(), p_options.keepTimes);
            writer.Finish(trailer);
        } catch (const std::runtime_error&) {
            FinishOutput(); // the reason of a failed write, when that was it
            throw;
        }
        FinishOutput();
    } else {
        platform::RemoveOnSignal(temporary.u8string());
        try {
            std::string error;
            std::unique_ptr<platform::OutputFile> output = platform::CreateOutputFile(temporary.u8string(), error);
            if (!output)
                throw Failure(out, "cannot write here: " + error);
            OutputFileStream file(std::move(output));
            try {
                ArchiveWriter writer(file, key);
                WriteItems(writer, order, from.get(), p_options.keepTimes);
                writer.Finish(trailer);
            } catch (const std::runtime_error&) {
                error = file.Finish(); // the reason of a failed write, when that was it
                if (!error.empty())
                    throw Failure(out, "write error: " + error);
                throw;
            }
            error = file.Finish();
            if (!error.empty())
                throw Failure(out, "write error: " + error);
            // Before the archive takes its place: a build that sees the archive sees its depfile.
            if (!p_options.depfile.empty())
                WriteDepfile(p_options.depfile, out, Dependencies(p_options, collector));
            fs::rename(temporary, target);
        } catch (...) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            platform::KeepOnSignal(temporary.u8string());
            throw;
        }
        platform::KeepOnSignal(temporary.u8string());
        std::cerr << std::flush;
        WriteOut(out + ": " + std::to_string(items.size()) + (items.size() == 1 ? " entry" : " entries") +
                 (key.empty() ? ""
                  : trailer   ? ", scrambled, key in trailer"
                              : ", scrambled") +
                 "\n");
    }
    if (collector.Skipped() > 0) {
        PrintError(out, std::to_string(collector.Skipped()) + " unreadable path(s) skipped");
        return Failed;
    }
    return linksSkipped > 0 ? Failed : Success;
}

} // namespace

void AddPackCommand(CommandSet& p_commands)
{
    auto options = std::make_shared<PackOptions>();
    CLI::App* pack = p_commands.Add(
        "pack",
        "Write an archive of stored entries from directories (or converted from another ZIP archive with --from). "
        "Symbolic links are followed, except one to a folder that contains it (an error); an unreadable file or "
        "folder, and a named pipe, socket or device, is an error unless --skip-unreadable",
        [options] { return PackArchive(*options); });
    pack->add_option("OUT", options->out,
                     "The archive to write, or - for standard output (with --builtin: or the assets directory)")
        ->required();
    pack->add_option("DIR", options->directories, "Directories whose content goes to the archive's root");
    pack->add_option("--from", options->from,
                     std::string("Convert this ZIP archive (") + SourceArchiveReads() + ") into stored entries");
    AddKeyOptions(*pack, options->key);
    CLI::Option* trailer =
        pack->add_flag("--trailer", options->trailer, "Append the 32-byte key, so the archive carries its key");
    CLI::Option* builtIn = pack->add_flag("--builtin", options->builtIn,
                                          "Scramble with the library's built-in archive key (no trailer: the library "
                                          "gives the key when it mounts the built-in archive)");
    builtIn->excludes(trailer)->excludes("--key")->excludes("--key-file");
    CLI::Option* plain = pack->add_flag("--plain", options->plain,
                                        "Write a plain ZIP whatever the archive's name (read it back with --plain)");
    plain->excludes(trailer)->excludes(builtIn)->excludes("--key")->excludes("--key-file");
    pack->add_option("--depfile", options->depfile,
                     "Also write a depfile for Ninja and Make naming every file packed and every folder walked, "
                     "so that a build repacks when one is added, changed or removed");
    pack->add_flag("-d,--directories", options->directoryEntries, "Store directory entries too");
    pack->add_flag("--links-as-files", options->linksAsFiles,
                   "With --from: pack symbolic-link entries as files holding the path they point to (otherwise "
                   "each is skipped, named, and the exit status is 1)");
    pack->add_flag("--keep-times", options->keepTimes,
                   "Store each file's modification time and permission bits (--from: the source archive's); "
                   "otherwise every entry is dated 1980-01-01, mode 0644 (folders 0755), for reproducible archives");
    pack->add_option("--order", options->order,
                     "A file naming entries, one a line, to be stored first and in that order (the order a level "
                     "loads them, so that its batch reads are few and long); the rest follow by name");
    pack->add_flag("--skip-unreadable", options->skipUnreadable,
                   "Pack what can be read: each unreadable path is a warning, and the exit status is 1");
}

} // namespace draxel_tool
