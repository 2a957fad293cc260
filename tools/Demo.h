// The guided tour of draxel-assets: a Resource over an example resource tree, shown section
// by section.
#pragma once

#include <Assets/AssetLibrary.h>

#include <ostream>
#include <string>

namespace draxel_tool {

// Builds a Resource over p_root (Shaders/ with Tests/, images/, fonts/, assets/) and writes
// the tour to p_out. Returns the exit status.
int RunDemo(const std::string& p_root, std::ostream& p_out);

// The merged tree below p_directory, one line per child with the source that wins it.
void PrintTree(const Qor::Draxel::Assets::AssetLibrary& p_library, const Qor::Draxel::Assets::AssetPath& p_directory,
               const std::string& p_indent, std::ostream& p_out);

} // namespace draxel_tool
