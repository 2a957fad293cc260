// The merged tree of mounted sources as draxel-assets shows it (tree, and the demo).
#pragma once

#include <Assets/AssetLibrary.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace draxel_tool {

// The merged tree below p_directory, one line per child with the source that wins it, and
// what p_note says of the child when it says something.
void PrintTree(const Qor::Draxel::Assets::AssetLibrary& p_library, const Qor::Draxel::Assets::AssetPath& p_directory,
               const std::string& p_indent, std::ostream& p_out,
               const std::function<std::string(const Qor::Draxel::Assets::AssetLibrary::Child&)>& p_note = {});

} // namespace draxel_tool
