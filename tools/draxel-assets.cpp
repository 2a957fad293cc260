// draxel-assets: the command-line program of the library: a guided demo, packing, listing,
// checking and extracting archives, and reading (and watching) the merged tree of mounted sources.
#include "BuiltInArchive.h"
#include "Demo.h"
#include "ToolPlatform.h"
#include "ToolSupport.h"
#include "WatchCommand.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/ArchiveWriter.h>
#include <Assets/AssetLibrary.h>

#include <CLI/CLI.hpp>

#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;
using namespace draxel_tool;

namespace {

struct KeyOptions {
    std::string text;
    std::string file;
};

void AddKeyOptions(CLI::App& p_command, KeyOptions& p_key)
{
    CLI::Option* text = p_command.add_option("--key", p_key.text, "Scramble key, as text");
    CLI::Option* file = p_command.add_option("--key-file", p_key.file, "Scramble key: the bytes of this file");
    text->excludes(file);
}

// An archive file opened as a volume at the root; reports are handled by the caller's mode.
std::unique_ptr<ArchiveVolume> OpenArchive(const std::string& p_file, const std::string& p_key, Reports& p_reports)
{
    if (fs::is_directory(p_file))
        throw Failure(p_file, "is a directory, not an archive");
    if (!fs::is_regular_file(p_file))
        throw Failure(p_file, "no such file");
    p_reports.SetSubject(p_file);
    return std::make_unique<ArchiveVolume>(AssetPath(qorfile::filepath(p_file)), AssetPath(), 0, p_key);
}

// Prints collected reports as error lines; true when there were any.
bool PrintReports(Reports& p_reports, const std::string& p_subject)
{
    const std::vector<std::string> reports = p_reports.Take();
    for (const std::string& report : reports)
        PrintError(p_subject, report);
    return !reports.empty();
}

// The bytes of one entry as Open gives them; an entry of size 0 gives none.
bool ReadEntry(const ArchiveVolume& p_volume, const AssetPath& p_path, std::string& p_bytes)
{
    boost::shared_ptr<std::istream> stream;
    try {
        stream = p_volume.Open(p_path, Volume::Binary);
    } catch (const std::out_of_range&) {
        p_bytes.clear();
        return true;
    }
    if (!stream)
        return false;
    std::ostringstream bytes;
    bytes << stream->rdbuf();
    p_bytes = bytes.str();
    return true;
}

std::uint32_t Crc32(const std::string& p_bytes)
{
    uLong crc = ::crc32(0L, Z_NULL, 0);
    const Bytef* data = reinterpret_cast<const Bytef*>(p_bytes.data());
    std::size_t left = p_bytes.size();
    while (left > 0) {
        const uInt chunk = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
        crc = ::crc32(crc, data, chunk);
        data += chunk;
        left -= chunk;
    }
    return static_cast<std::uint32_t>(crc);
}

std::string MethodName(std::uint16_t p_method)
{
    if (p_method == 0)
        return "stored";
    if (p_method == 8)
        return "deflate";
    return "method" + std::to_string(p_method);
}

std::string Hex32(std::uint32_t p_value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08" PRIx32, p_value);
    return text;
}

// ---------------------------------------------------------------------------------------
// pack

struct PackOptions {
    std::string out;
    std::vector<std::string> directories;
    KeyOptions key;
    bool trailer = false;
    bool builtIn = false;
    bool directoryEntries = false;
};

int Pack(const PackOptions& p_options)
{
    std::string key = ResolveKey(p_options.key.text, p_options.key.file);
    std::string out = p_options.out;
    bool trailer = p_options.trailer;
    if (p_options.builtIn) {
        // The built-in archive is mounted with the library's own key, so it carries none.
        const BuiltInArchive builtIn = BuiltInArchives().front();
        key = builtIn.key;
        trailer = false;
        if (fs::is_directory(out))
            out = (fs::path(out) / builtIn.name).string();
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

// ---------------------------------------------------------------------------------------
// ls, check, extract

int List(const std::string& p_file, const KeyOptions& p_key, bool p_long)
{
    const std::string key = ResolveKey(p_key.text, p_key.file);
    Reports reports(Reports::Collect);
    std::unique_ptr<ArchiveVolume> volume = OpenArchive(p_file, key, reports);
    const std::vector<ArchiveVolume::ListedEntry> entries = volume->Entries();
    if (p_long)
        std::cout << "type method   flags       packed         size    crc32     offset  name\n";
    for (const ArchiveVolume::ListedEntry& entry : entries) {
        if (!p_long) {
            std::cout << entry.storedName << '\n';
            continue;
        }
        const char* type = entry.isFile ? (entry.isDirectory ? "f+d " : "file") : "dir ";
        char line[160];
        if (entry.isFile)
            std::snprintf(line, sizeof line, "%s %-8s %-5s %12" PRIu64 " %12" PRIu64 " %s %10" PRIu64 "  ", type,
                          MethodName(entry.method).c_str(), entry.encrypted ? "E" : "-", entry.compressedSize,
                          entry.uncompressedSize, Hex32(entry.crc32).c_str(), entry.localHeaderOffset);
        else
            std::snprintf(line, sizeof line, "%s %-8s %-5s %12s %12s %8s %10s  ", type, "-", "-", "-", "-", "-", "-");
        std::cout << line << entry.storedName << '\n';
    }
    std::cout << std::flush;
    return PrintReports(reports, p_file) ? Failed : Success;
}

// The expressions of the two walk reports that check repeats per entry.
const char* const UnknownMethodReport =
    "\"(!compressed || compressedUsingDeflate) && \"ERROR: Compression method unsupported\"\" - ";
const char* const EncryptedReport = "\"!encrypted && \"ERROR: Encryption not yet supported\"\" - ";

int Check(const std::string& p_file, const KeyOptions& p_key)
{
    const std::string key = ResolveKey(p_key.text, p_key.file);
    Reports reports(Reports::Collect);
    std::unique_ptr<ArchiveVolume> volume = OpenArchive(p_file, key, reports);
    std::size_t problems = 0;
    for (const std::string& report : reports.Take()) {
        // Entries of an unknown method or encrypted are reported below, by name.
        if (report == Explain(UnknownMethodReport) || report == Explain(EncryptedReport))
            continue;
        PrintError(p_file, report);
        ++problems;
    }

    const std::vector<ArchiveVolume::ListedEntry> entries = volume->Entries();
    std::size_t files = 0;
    Progress progress("checking", entries.size());
    for (const ArchiveVolume::ListedEntry& entry : entries) {
        progress.Step();
        if (!entry.isFile)
            continue;
        ++files;
        const std::string subject = p_file + ": " + entry.storedName;
        auto problem = [&](const std::string& p_message) {
            PrintError(subject, p_message);
            ++problems;
        };
        if (entry.method == 8) {
            problem("deflated entry: only stored entries can be opened");
            continue;
        }
        if (entry.method != 0) {
            problem("unknown compression method " + std::to_string(entry.method));
            continue;
        }
        if (entry.encrypted) {
            problem("encrypted entry: its data cannot be checked");
            continue;
        }
        std::string bytes;
        const bool read = ReadEntry(*volume, entry.path, bytes);
        const std::vector<std::string> openReports = reports.Take();
        for (const std::string& report : openReports)
            problem(report);
        if (!read || !openReports.empty())
            continue;
        if (bytes.size() != entry.uncompressedSize)
            problem("size " + std::to_string(bytes.size()) + " in the local header, " +
                    std::to_string(entry.uncompressedSize) + " in the directory");
        const std::uint32_t crc = Crc32(bytes);
        if (crc != entry.crc32)
            problem("CRC-32 mismatch: directory " + Hex32(entry.crc32) + ", data " + Hex32(crc));
    }
    std::cout << p_file << ": " << files << (files == 1 ? " file" : " files") << " checked, "
              << (problems == 0 ? std::string("no problems") : std::to_string(problems) + " problem(s)") << std::endl;
    return problems == 0 ? Success : Failed;
}

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

int Extract(const std::string& p_file, const std::string& p_directory, const KeyOptions& p_key)
{
    const std::string key = ResolveKey(p_key.text, p_key.file);
    Reports reports(Reports::Collect);
    std::unique_ptr<ArchiveVolume> volume = OpenArchive(p_file, key, reports);
    bool failed = PrintReports(reports, p_file);

    std::error_code error;
    fs::create_directories(p_directory, error);
    if (!fs::is_directory(p_directory))
        throw Failure(p_directory, "cannot create the directory");

    const std::vector<ArchiveVolume::ListedEntry> entries = volume->Entries();
    std::size_t written = 0;
    Progress progress("extracting", entries.size());
    for (const ArchiveVolume::ListedEntry& entry : entries) {
        progress.Step();
        const std::string subject = p_file + ": " + entry.storedName;
        const std::string hostile = HostileName(entry.storedName);
        if (!hostile.empty()) {
            PrintError(subject, "refused, " + hostile + " would land outside " + p_directory);
            failed = true;
            continue;
        }
        const fs::path target = fs::path(p_directory) / fs::path(entry.path.str());
        if (!entry.isFile) {
            fs::create_directories(target, error);
            continue;
        }
        if (entry.method != 0) {
            PrintError(subject, entry.method == 8 ? "deflated entry: only stored entries can be extracted"
                                                  : "unknown compression method " + std::to_string(entry.method));
            failed = true;
            continue;
        }
        std::string bytes;
        const bool read = ReadEntry(*volume, entry.path, bytes);
        if (PrintReports(reports, subject) || !read) {
            failed = true;
            continue;
        }
        fs::create_directories(target.parent_path(), error);
        std::ofstream out(target, std::ios_base::binary | std::ios_base::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            PrintError(subject, "cannot write " + target.string());
            failed = true;
            continue;
        }
        ++written;
    }
    std::cout << p_file << ": " << written << (written == 1 ? " file" : " files") << " extracted into "
              << p_directory << std::endl;
    return failed ? Failed : Success;
}

// ---------------------------------------------------------------------------------------
// cat, exists, tree over a library of -m sources

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

int Cat(const boost::shared_ptr<AssetLibrary>& p_library, const std::string& p_path, bool p_text, Reports& p_reports)
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

int Exists(const boost::shared_ptr<AssetLibrary>& p_library, const std::string& p_path, Reports& p_reports)
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

} // namespace

namespace draxel_tool {

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

} // namespace draxel_tool

int main(int argc, char** argv)
{
    UseBinaryStandardOutput();
    CLI::App app{"draxel-assets: the command-line companion of Qor.Draxel.Assets, a read-only virtual tree of\n"
                 "assets over directories and ZIP archives (plain or XOR-scrambled)."};
    app.require_subcommand(1);

    CLI::App* demo = app.add_subcommand("demo", "A guided tour of the library over an example resource tree");
    std::string demoRoot = DRAXEL_DEMO_ROOT;
    demo->add_option("ROOT", demoRoot,
                     "Resource tree with Shaders/ (and Shaders/Tests/), images/, fonts/ and assets/ (the built-in "
                     "archive); default: the tree the build prepares")
        ->capture_default_str();

    CLI::App* pack = app.add_subcommand("pack", "Write an archive of stored entries from directories");
    PackOptions packOptions;
    pack->add_option("OUT", packOptions.out, "The archive to write (with --builtin: or the assets directory)")
        ->required();
    pack->add_option("DIR", packOptions.directories, "Directories whose content goes to the archive's root")
        ->required();
    AddKeyOptions(*pack, packOptions.key);
    CLI::Option* trailer =
        pack->add_flag("--trailer", packOptions.trailer, "Append the 32-byte key, so the archive carries its key");
    CLI::Option* builtIn = pack->add_flag("--builtin", packOptions.builtIn,
                                          "Scramble with the library's built-in archive key (no trailer: the library "
                                          "gives the key when it mounts the built-in archive)");
    builtIn->excludes(trailer)->excludes("--key")->excludes("--key-file");
    pack->add_flag("-d,--directories", packOptions.directoryEntries, "Store directory entries too");

    CLI::App* ls = app.add_subcommand("ls", "List the entries of an archive");
    std::string lsFile;
    KeyOptions lsKey;
    bool lsLong = false;
    ls->add_option("ARCHIVE", lsFile, "The archive")->required();
    AddKeyOptions(*ls, lsKey);
    ls->add_flag("-l,--long", lsLong, "Show type, method, flags, sizes, CRC-32 and offset");

    CLI::App* check = app.add_subcommand("check", "Verify every stored entry against its CRC-32");
    std::string checkFile;
    KeyOptions checkKey;
    check->add_option("ARCHIVE", checkFile, "The archive")->required();
    AddKeyOptions(*check, checkKey);

    CLI::App* extract = app.add_subcommand("extract", "Write the entries of an archive below a directory");
    std::string extractFile, extractDirectory;
    KeyOptions extractKey;
    extract->add_option("ARCHIVE", extractFile, "The archive")->required();
    extract->add_option("DIR", extractDirectory, "The directory to write into (created when missing)")->required();
    AddKeyOptions(*extract, extractKey);

    struct TreeCommand {
        CLI::App* command;
        CLI::Option* mount;
        CLI::Option* key;
        std::vector<std::string> mounts;
        std::vector<std::string> keys;
        std::string path;
        bool text = false;
    };
    TreeCommand cat, exists, tree;
    auto addTreeCommand = [&](TreeCommand& p_command, const char* p_name, const char* p_help, bool p_pathRequired) {
        p_command.command = app.add_subcommand(p_name, p_help);
        p_command.mount = p_command.command
                              ->add_option("-m,--mount", p_command.mounts,
                                           "Mount SRC (a directory or an archive) at TARGET (default: the root) "
                                           "with priority PRIO (default 0); repeatable")
                              ->type_name("SRC[:TARGET[:PRIO]]")
                              ->allow_extra_args(false);
        p_command.key = p_command.command
                            ->add_option("--key", p_command.keys, "Scramble key of the archive named by the -m before it")
                            ->allow_extra_args(false);
        CLI::Option* path = p_command.command->add_option("PATH", p_command.path, "Asset path");
        if (p_pathRequired)
            path->required();
    };
    addTreeCommand(cat, "cat", "Write an asset of the merged tree to standard output", true);
    cat.command->add_flag("-t,--text", cat.text, "Open in text mode (CR LF becomes LF)");
    addTreeCommand(exists, "exists", "Tell whether an asset exists, and where it comes from", true);
    addTreeCommand(tree, "tree", "Show the merged tree below PATH (default: the root)", false);
    WatchCommand watch;
    AddWatchCommand(app, watch);

    bool known = argc < 2 || argv[1][0] == '-';
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        known = known || command->get_name() == argv[1];
    if (!known) {
        PrintError(std::string(), std::string("unknown subcommand ") + argv[1] + " (see --help)");
        return BadUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0)
            return app.exit(error);
        std::string message = error.what();
        for (char& character : message)
            if (character == '\n')
                character = ' ';
        PrintError(std::string(), message + " (see --help)");
        return BadUsage;
    }

    std::string subject;
    try {
        if (*demo)
            return RunDemo(demoRoot, std::cout);
        if (*pack)
            return Pack(packOptions);
        if (*ls)
            return List(lsFile, lsKey, lsLong);
        if (*check)
            return Check(checkFile, checkKey);
        if (*extract)
            return Extract(extractFile, extractDirectory, extractKey);
        if (*watch.command) {
            Reports reports(Reports::Throw);
            return RunWatch(watch, BuildLibrary(CollectMounts(*watch.command, watch.mount, watch.key), reports));
        }
        for (TreeCommand* command : {&cat, &exists, &tree}) {
            if (!*command->command)
                continue;
            const std::vector<Mount> mounts = CollectMounts(*command->command, command->mount, command->key);
            Reports reports(Reports::Throw);
            boost::shared_ptr<AssetLibrary> library = BuildLibrary(mounts, reports);
            if (command == &cat)
                return Cat(library, cat.path, cat.text, reports);
            if (command == &exists)
                return Exists(library, exists.path, reports);
            const AssetPath root{std::string(tree.path)};
            reports.SetSubject(tree.path);
            if (!tree.path.empty() && !library->Exists(root))
                throw Failure(tree.path, "no such asset");
            PrintTree(*library, root, std::string(), std::cout);
            std::cout << std::flush;
            return Success;
        }
    } catch (const Failure& failure) {
        PrintError(failure.subject, failure.what());
        return failure.status;
    } catch (const std::exception& error) {
        PrintError(subject, error.what());
        return Failed;
    }
    return Success;
}
