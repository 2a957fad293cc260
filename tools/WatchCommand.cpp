// draxel-assets watch: polls an AssetWatcher over the mounted sources and prints each change,
// one line each, with the volume that serves the path now.
#include "WatchCommand.h"
#include "ToolSupport.h"

#include <Assets/AssetWatcher.h>

#include <chrono>
#include <iostream>
#include <thread>

namespace draxel_tool {

using namespace Qor::Draxel::Assets;

namespace {

const char* KindName(AssetWatcher::Change::Kind p_kind)
{
    switch (p_kind) {
    case AssetWatcher::Change::Created: return "created";
    case AssetWatcher::Change::Modified: return "modified";
    case AssetWatcher::Change::Removed: return "removed";
    case AssetWatcher::Change::SourceChanged: return "source changed";
    case AssetWatcher::Change::MayHaveChanged: return "may have changed";
    }
    return "changed";
}

void PrintChange(const AssetWatcher::Change& p_change, std::ostream& p_out)
{
    std::string kind = KindName(p_change.kind);
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

} // namespace

void AddWatchCommand(CLI::App& p_app, WatchCommand& p_watch)
{
    p_watch.command = p_app.add_subcommand(
        "watch", "Print each change of the merged tree below PATHs (default: all of it) as it happens, with the "
                 "source that serves the path now; Ctrl-C stops");
    p_watch.mount = p_watch.command
                        ->add_option("-m,--mount", p_watch.mounts,
                                     "Mount SRC (a directory or an archive) at TARGET (default: the root) with "
                                     "priority PRIO (default 0); repeatable")
                        ->type_name("SRC[:TARGET[:PRIO]]")
                        ->allow_extra_args(false);
    p_watch.key = p_watch.command
                      ->add_option("--key", p_watch.keys, "Scramble key of the archive named by the -m before it")
                      ->allow_extra_args(false);
    p_watch.command->add_option("--count", p_watch.count, "Stop after this many changes (default: never)");
    p_watch.command->add_option("PATH", p_watch.paths, "Asset paths to watch, each with everything below it");
}

int RunWatch(const WatchCommand& p_watch, const boost::shared_ptr<AssetLibrary>& p_library)
{
    AssetWatcher watcher(p_library);
    std::vector<std::string> paths = p_watch.paths;
    if (paths.empty())
        paths.push_back(std::string());
    for (const std::string& path : paths)
        watcher.Watch(AssetPath(path));
    std::cerr << "watching " << watcher.WatchedFiles() << (watcher.WatchedFiles() == 1 ? " file" : " files")
              << (watcher.IsNative() ? " (inotify)" : " (polling)") << "; Ctrl-C stops" << std::endl;

    // The watcher never waits; this loop does, between polls, as a host's frame would.
    std::size_t printed = 0;
    for (;;) {
        for (const AssetWatcher::Change& change : watcher.Poll()) {
            PrintChange(change, std::cout);
            if (p_watch.count != 0 && ++printed >= p_watch.count)
                return Success;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace draxel_tool
