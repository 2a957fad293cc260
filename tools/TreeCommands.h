// The merged tree of mounted sources as draxel-assets shows it (tree, and the demo).
#pragma once

#include <Assets/AssetLibrary.h>

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>

namespace draxel_tool {

class Reports;

// The library a command's -m, --key and --key-file options describe, in the order given
// (archives inspected first: one the library would read only in part is a Failure).
boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary> MountedLibrary(const CLI::App& p_command,
                                                                     const CLI::Option* p_mount,
                                                                     const CLI::Option* p_key,
                                                                     const CLI::Option* p_keyFile, Reports& p_reports);

// The merged tree below p_directory, one line per child with the source that wins it.
void PrintTree(const Qor::Draxel::Assets::AssetLibrary& p_library, const Qor::Draxel::Assets::AssetPath& p_directory,
               const std::string& p_indent, std::ostream& p_out);

} // namespace draxel_tool
