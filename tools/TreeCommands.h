// The merged tree of mounted sources as draxel-assets shows it (tree, and the demo).
#pragma once

#include <Assets/AssetLibrary.h>

#include <ostream>
#include <string>

namespace draxel_tool {

// The merged tree below p_directory, one line per child with the source that wins it.
void PrintTree(const Qor::Draxel::Assets::AssetLibrary& p_library, const Qor::Draxel::Assets::AssetPath& p_directory,
               const std::string& p_indent, std::ostream& p_out);

} // namespace draxel_tool
