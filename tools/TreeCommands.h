// The merged tree of mounted sources as draxel-assets shows it (tree, and the demo).
#pragma once

#include <Assets/AssetLibrary.h>

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace draxel_tool {

class Reports;

// The -m, --key and --key-file options of a command that works on a tree of mounted sources.
struct MountOptions {
    CLI::Option* mount = nullptr;
    CLI::Option* key = nullptr;
    CLI::Option* keyFile = nullptr;
    std::vector<std::string> mounts;
    std::vector<std::string> keys;
    std::vector<std::string> keyFiles;
};

// Adds the three options to p_command; p_options must outlive the command's parsing.
void AddMountOptions(CLI::App& p_command, MountOptions& p_options);

// The library those options describe, in the order given (archives inspected first: one the
// library would read only in part is a Failure).
boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary> MountedLibrary(const CLI::App& p_command,
                                                                     const MountOptions& p_options, Reports& p_reports);

// The merged tree below p_directory, one line per child with the source that wins it.
void PrintTree(const Qor::Draxel::Assets::AssetLibrary& p_library, const Qor::Draxel::Assets::AssetPath& p_directory,
               const std::string& p_indent, std::ostream& p_out);

} // namespace draxel_tool
