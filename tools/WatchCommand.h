// draxel-assets watch: the changes of a merged tree, printed as they happen.
#pragma once

#include <Assets/AssetLibrary.h>

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace draxel_tool {

// The watch subcommand's options; the -m and --key options are the tree commands' own.
struct WatchCommand {
    CLI::App* command = nullptr;
    CLI::Option* mount = nullptr;
    CLI::Option* key = nullptr;
    std::vector<std::string> mounts;
    std::vector<std::string> keys;
    std::vector<std::string> paths;
    std::size_t count = 0;
};

// Adds "watch" to p_app.
void AddWatchCommand(CLI::App& p_app, WatchCommand& p_watch);

// Watches the paths of p_watch (the whole tree when none) in p_library and prints one line per
// change until interrupted, or until p_watch.count changes when that is not 0.
int RunWatch(const WatchCommand& p_watch, const boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary>& p_library);

// The demo's hot reload: a working directory below p_temporary is mounted above the library's
// shaders, and a shader written, edited and removed there is picked up by a watcher each time.
// The library is left as it was found.
void ShowHotReload(const boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary>& p_library,
                   const std::string& p_temporary, std::ostream& p_out);

} // namespace draxel_tool
