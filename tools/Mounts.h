// The sources a tree command of draxel-assets mounts: the -m options and the options that
// belong to the -m before them (--key, --key-file, --plain, --target, --priority), and the
// asset library they make. Archives are diagnosed first, so that the commands can say what
// the library would not (an entry that cannot be opened, a CRC-32 that does not match).
#pragma once

#include "ArchiveReading.h"
#include "Commands.h"

#include <Assets/AssetLibrary.h>

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

namespace draxel_tool {

class Reports;

// One source as the command line gave it.
struct Mount {
    std::string source; // as given
    Qor::Draxel::Assets::AssetPath target;
    unsigned int priority = 0;
    ArchiveOptions archive; // its key, --plain, and the file read (an archive's)
    bool keyGiven = false;
    // An archive's diagnostics: what cat streams entries from. Null for a directory.
    std::shared_ptr<ArchiveDiagnostics> diagnostics;
};

// The options of a command that works on a tree of mounted sources; they must outlive the
// command's parsing.
struct MountOptions {
    CLI::Option* mount = nullptr;
    CLI::Option* key = nullptr;
    CLI::Option* keyFile = nullptr;
    CLI::Option* plain = nullptr;
    CLI::Option* target = nullptr;
    CLI::Option* priority = nullptr;
    std::vector<std::string> mounts;
    std::vector<std::string> keys;
    std::vector<std::string> keyFiles;
    std::vector<std::string> targets;
    std::vector<std::string> priorities;
};

void AddMountOptions(CLI::App& p_command, MountOptions& p_options);

// The mounts the options give, in the order given; wrong usage is a Failure with BadUsage.
std::vector<Mount> CollectMounts(const CLI::App& p_command, const MountOptions& p_options);

// The library of p_mounts (archives diagnosed first: one the library would read only in part
// is a Failure).
boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary> BuildLibrary(std::vector<Mount>& p_mounts, Reports& p_reports);

// Both of the above, for commands that need only the library.
boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary> MountedLibrary(const CLI::App& p_command,
                                                                    const MountOptions& p_options, Reports& p_reports);

// The archive entry that Open of p_path reads when p_child (a file) comes from an archive
// mount: the last file entry of that name, as the volume keeps it, with its diagnostics in
// p_diagnostics. Null otherwise.
const ArchiveDiagnostics::Entry* ArchiveEntry(const std::vector<Mount>& p_mounts,
                                              const Qor::Draxel::Assets::AssetLibrary::Child& p_child,
                                              const Qor::Draxel::Assets::AssetPath& p_path,
                                              const ArchiveDiagnostics*& p_diagnostics);

// The archive entry that Open reads for a file p_location found in an archive mount: the
// diagnosed entry the library's lookup names. Null otherwise.
const ArchiveDiagnostics::Entry* ArchiveEntry(const std::vector<Mount>& p_mounts,
                                              const Qor::Draxel::Assets::AssetLibrary::Location& p_location,
                                              const ArchiveDiagnostics*& p_diagnostics);

// The host file behind p_path when p_child (a file) comes from a directory mount; empty
// otherwise.
std::string HostFile(const std::vector<Mount>& p_mounts, const Qor::Draxel::Assets::AssetLibrary::Child& p_child,
                     const Qor::Draxel::Assets::AssetPath& p_path);

// A source key of the library as the command line named it (standard input is "-", not the
// copy the library reads).
std::string SourceText(const std::vector<Mount>& p_mounts, const Qor::Draxel::Assets::AssetPath& p_source);

} // namespace draxel_tool
