// What draxel-assets needs of the operating system beyond standard C++, behind one small
// interface: PlatformPosix.cpp implements it for Linux and other POSIX systems; a port
// implements these few calls and nothing else of the tool changes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace draxel_tool {
namespace platform {

bool StandardErrorIsTerminal();

// The running process's id, for names of temporary files.
unsigned long ProcessId();

// While set, SIGINT and SIGTERM remove p_path before the process ends as the signal ends it.
// An empty path clears it.
void RemoveOnSignal(const std::string& p_path);

// A file being written; every call gives the system's reason on failure, empty on success.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual std::string Write(const char* p_bytes, std::size_t p_count) = 0;
    virtual std::string Close() = 0;
};

// A directory that files are extracted into. Nothing below it is reached through a symbolic
// link, and nothing outside it is touched: each path is resolved below the directory without
// following links (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has it,
// otherwise one component at a time with O_NOFOLLOW).
class ExtractDirectory {
public:
    virtual ~ExtractDirectory() = default;
    // Makes the folders of p_relative ('/' separated, no '.' or '..' components), missing ones
    // included. The system's reason on failure.
    virtual std::string MakeFolders(const std::string& p_relative) = 0;
    // Creates the file p_relative (its folders must exist); an existing file is an error unless
    // p_replace, and a symbolic link always is.
    virtual std::string CreateFile(const std::string& p_relative, bool p_replace, std::unique_ptr<OutputFile>& p_file) = 0;
};

// Opens p_path, creating it (and its parents) when missing; null with p_error set on failure.
std::unique_ptr<ExtractDirectory> OpenExtractDirectory(const std::string& p_path, std::string& p_error);

} // namespace platform
} // namespace draxel_tool
