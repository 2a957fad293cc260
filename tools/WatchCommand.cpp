// draxel-assets watch: polls an AssetWatcher over the mounted sources and prints each change,
// one line each, with the volume that serves the path now.
#include "WatchCommand.h"

#include "Commands.h"
#include "Platform.h"
#include "ToolSupport.h"
#include "Mounts.h"
#include "TreeCommands.h"

#include <Assets/ArchiveWriter.h>
#include <Assets/AssetWatcher.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

namespace draxel_tool {

using namespace Qor::Draxel::Assets;

namespace {

void PrintChange(const AssetWatcher::Change& p_change, std::ostream& p_out)
{
    std::string kind = AssetWatcher::KindName(p_change.kind);
    kind.resize(16, ' ');
    p_out << kind << "  ";
    if (p_change.kind == AssetWatcher::Change::MayHaveChanged) {
        p_out << (p_change.path.str().empty() ? "/" : p_change.path.str() + "/")
              << "  (change notices were lost; rescanned)" << std::endl;
        return;
    }
    p_out << p_change.path.str();
    if (p_change.kind != AssetWatcher::Change::Removed)
        p_out << "  <- " << p_change.source.str() << " (priority " << p_change.priority << ")";
    p_out << std::endl;
}

// Polls until a change comes (at most ten seconds) and prints it with the time it took.
void AwaitChange(AssetWatcher& p_watcher, std::ostream& p_out)
{
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        const std::vector<AssetWatcher::Change> changes = p_watcher.Poll();
        if (changes.empty()) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
        std::ostringstream milliseconds;
        milliseconds.precision(1);
        milliseconds << std::fixed << elapsed.count();
        p_out << "     Poll() " << milliseconds.str() << " ms after the write:\n";
        for (const AssetWatcher::Change& change : changes) {
            p_out << "       ";
            PrintChange(change, p_out);
        }
        return;
    }
    throw Failure("demo", "the watcher saw no change within ten seconds");
}

void WriteShader(const std::filesystem::path& p_file, const std::string& p_text)
{
    std::ofstream out(p_file, std::ios_base::binary | std::ios_base::trunc);
    out << p_text;
    out.close();
    if (!out)
        throw Failure(p_file.u8string(), "cannot write the shader");
}

// Packs p_shaders (name, text) into p_archive as a packer does: a new file renamed over the old.
void PackShaders(const std::filesystem::path& p_archive,
                 const std::vector<std::pair<std::string, std::string>>& p_shaders)
{
    std::filesystem::path staged = p_archive;
    staged += ".new";
    {
        std::ofstream out(staged, std::ios_base::binary | std::ios_base::trunc);
        ArchiveWriter writer(out);
        for (const auto& shader : p_shaders)
            writer.AddBytes(shader.first, shader.second);
        writer.Finish();
        out.close();
        if (!out)
            throw Failure(staged.u8string(), "cannot write the archive");
    }
    std::error_code error;
    std::filesystem::rename(staged, p_archive, error);
    if (error)
        throw Failure(p_archive.u8string(), "cannot replace the archive: " + error.message());
}

void ShowShader(const AssetLibrary& p_library, const AssetPath& p_path, std::ostream& p_out)
{
    boost::shared_ptr<std::istream> stream = p_library.Open(p_path, Volume::Text);
    if (!stream)
        throw Failure(p_path.str(), "no such asset");
    std::ostringstream text;
    text << stream->rdbuf();
    std::istringstream lines(text.str());
    for (std::string line; std::getline(lines, line);)
        if (line.find("colour =") != std::string::npos)
            p_out << "     Open(\"" << p_path.str() << "\") now reads: " << line << '\n';
}

} // namespace

void ShowHotReload(const boost::shared_ptr<AssetLibrary>& p_library, const std::string& p_temporary,
                   std::ostream& p_out)
{
    namespace fs = std::filesystem;
    const fs::path edits = fs::u8path(p_temporary) / "shader-edits";
    const AssetPath shader(std::string("Shaders/Tests/colour.frag"));
    std::error_code ignored;
    fs::remove_all(edits, ignored);
    fs::create_directories(edits / "Tests");

    AssetWatcher watcher(p_library, AssetWatcher::RemountArchives);
    watcher.Watch(AssetPath(std::string("Shaders")));
    const char* notices = watcher.IsNative() ? platform::NativeNoticesName() : "polling";
    p_out << "   An AssetWatcher watches Shaders (" << watcher.WatchedFiles() << " files, " << notices
          << "). A working directory is mounted above\n"
          << "   everything at Shaders (priority 3), and a shader is edited there on disk:\n";
    p_library->MountDirectory(qorfile::filepath(edits.generic_u8string()), AssetPath(std::string("Shaders")), 3);
    watcher.Poll(); // the mount itself: an empty directory changes nothing

    p_out << "   - colour.frag written to the working directory shadows the test directory's:\n";
    WriteShader(edits / "Tests/colour.frag", "#version 330 core\nout vec4 colour;\n"
                                             "void main() { colour = vec4(1.0, 0.5, 0.0, 1.0); }\n");
    AwaitChange(watcher, p_out);
    ShowShader(*p_library, shader, p_out);

    p_out << "   - edited again, in place:\n";
    WriteShader(edits / "Tests/colour.frag", "#version 330 core\nout vec4 colour;\n"
                                             "void main() { colour = vec4(0.2, 0.4, 1.0, 1.0); }\n");
    AwaitChange(watcher, p_out);
    ShowShader(*p_library, shader, p_out);

    p_out << "   - removed: the test directory's shader is served again:\n";
    fs::remove(edits / "Tests/colour.frag");
    AwaitChange(watcher, p_out);
    ShowShader(*p_library, shader, p_out);

    p_out << "   - an archive of shaders is mounted above everything at Shaders (priority 4):\n";
    // Beside the working directory, not in it: the archive file is no asset of the tree.
    const fs::path pack = fs::u8path(p_temporary) / "shader-pack.zip";
    const char* header = "#version 330 core\nout vec4 colour;\n";
    PackShaders(pack,
                {{"Tests/colour.frag", std::string(header) + "void main() { colour = vec4(0.6, 0.0, 0.8, 1.0); }\n"}});
    const qorfile::filepath packPath(pack.generic_u8string());
    p_library->MountArchive(packPath, AssetPath(std::string("Shaders")), 4, std::string());
    AwaitChange(watcher, p_out);
    ShowShader(*p_library, shader, p_out);

    p_out << "   - repacked while the program runs, with another colour and one more shader: Poll remounts it\n"
          << "     and tells each entry's change:\n";
    PackShaders(pack,
                {{"Tests/colour.frag", std::string(header) + "void main() { colour = vec4(1.0, 1.0, 0.0, 1.0); }\n"},
                 {"Tests/extra.frag", std::string(header) + "void main() { colour = vec4(1.0); }\n"}});
    AwaitChange(watcher, p_out);
    ShowShader(*p_library, shader, p_out);

    p_library->Unmount(packPath);
    fs::remove(pack, ignored);
    p_library->Unmount(qorfile::filepath(edits.generic_u8string()));
    fs::remove_all(edits, ignored);
}

namespace {

// The watch subcommand's options; -m, --key and --key-file are the tree commands' own.
struct WatchOptions {
    CLI::App* command = nullptr;
    MountOptions mounting;
    std::vector<std::string> paths;
    std::size_t count = 0;
};

// Watches the paths of p_watch (the whole tree when none) and prints one line per change until
// interrupted, or until p_watch.count changes when that is not 0.
int RunWatch(const WatchOptions& p_watch)
{
    Reports reports(Reports::Throw);
    const boost::shared_ptr<AssetLibrary> library = MountedLibrary(*p_watch.command, p_watch.mounting, reports);
    // An archive rebuilt while the watch runs is read again, and its entries' changes printed.
    AssetWatcher watcher(library, AssetWatcher::RemountArchives);
    std::vector<std::string> paths = p_watch.paths;
    if (paths.empty())
        paths.push_back(std::string());
    for (const std::string& path : paths)
        watcher.Watch(AssetPath(path));
    const char* notices = watcher.IsNative() ? platform::NativeNoticesName() : "polling";
    std::cerr << "watching " << watcher.WatchedFiles() << (watcher.WatchedFiles() == 1 ? " file" : " files") << " ("
              << notices << "); Ctrl-C stops" << std::endl;

    // The watcher never waits; this loop does, between polls, as a host's frame would.
    std::size_t printed = 0;
    for (;;) {
        for (const AssetWatcher::Change& change : watcher.Poll()) {
            PrintChange(change, StandardOutput());
            FinishOutput(); // each line as it happens, and a failed write ends the watch
            if (p_watch.count != 0 && ++printed >= p_watch.count)
                return Success;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

void AddWatchCommand(CommandSet& p_commands)
{
    auto watch = std::make_shared<WatchOptions>();
    watch->command = p_commands.Add(
        "watch",
        "Print each change of the merged tree below PATHs (default: all of it) as it happens, with the source that "
        "serves the path now; Ctrl-C stops",
        [watch] { return RunWatch(*watch); });
    AddMountOptions(*watch->command, watch->mounting);
    watch->command->add_option("--count", watch->count, "Stop after this many changes (default: never)");
    watch->command->add_option("PATH", watch->paths, "Asset paths to watch, each with everything below it");
}

} // namespace draxel_tool
