// draxel-assets watch: the changes of a merged tree, printed as they happen (the command is
// added with the others, Commands.h); and the demo's hot reload.
#pragma once

#include <Assets/AssetLibrary.h>

#include <ostream>
#include <string>

namespace draxel_tool {

// The demo's hot reload: a working directory below p_temporary is mounted above the library's
// shaders, and a shader written, edited and removed there is picked up by a watcher each time.
// The library is left as it was found.
void ShowHotReload(const boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary>& p_library,
                   const std::string& p_temporary, std::ostream& p_out);

} // namespace draxel_tool
