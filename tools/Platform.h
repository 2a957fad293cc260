// What draxel-assets needs of the operating system beyond standard C++, behind one small
// interface: PlatformPosix.cpp implements it for Linux and other POSIX systems,
// PlatformWindows.cpp for Windows; nothing else of the tool names a platform.
//
// Text crossing this interface is UTF-8, whatever the system's code page: paths given to the
// tool are UTF-8, as the library's are (std::filesystem paths are made with u8path and read
// back with u8string for the same reason).
#pragma once

#include "EntryStamp.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace draxel_tool {
namespace platform {

// The command line as UTF-8 (on Windows taken from the wide command line, not from argv,
// which holds it in the ANSI code page).
std::vector<std::string> Arguments(int p_argc, char** p_argv);

// Standard output writes bytes as they are, and standard input reads them so: no LF <-> CR LF
// translation where the C runtime has a text mode, so that cat and pack to "-" give the
// entry's or archive's exact bytes, and an archive read from standard input is its bytes.
void BinaryStandardOutput();

// Whether a write to standard output that failed with p_errno (the C runtime's errno) failed
// because the reader closed the pipe (POSIX: EPIPE, where SIGPIPE is ignored; Windows: the
// system's ERROR_NO_DATA, ERROR_BROKEN_PIPE or ERROR_PIPE_NOT_CONNECTED, which the C runtime
// reports as EINVAL).
bool StandardOutputPipeClosed(int p_errno);
// Ends the process quietly as a closed pipe ends a program on the system: POSIX by SIGPIPE,
// Windows with exit status 1. Temporary files are removed first.
[[noreturn]] void EndForClosedPipe();

bool StandardErrorIsTerminal();

// The length of p_path's drive prefix, which a ':' separator never splits: 2 for "C:" at the
// start on Windows, 0 elsewhere.
std::size_t DrivePrefixLength(const std::string& p_path);

// The name of the system's change notices that a native AssetWatcher reads, for messages.
const char* NativeNoticesName();

// The running process's id, for names of temporary files.
unsigned long ProcessId();

// The running program's own file, absolute (empty when the system does not say), so that the
// program finds what was installed beside it.
std::string ExecutablePath();

// While registered, SIGINT, SIGTERM, SIGHUP and SIGPIPE (Windows: Ctrl-C, Ctrl-Break, and
// the console closing or the user logging off) remove p_path before the process ends as the
// signal ends it: a file, or a folder emptied by the paths registered before it. At most eight
// paths at once (more are not registered).
void RemoveOnSignal(const std::string& p_path);
// Stops removing p_path.
void KeepOnSignal(const std::string& p_path);

// A file being written; every call gives the system's reason on failure, empty on success.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual std::string Write(const char* p_bytes, std::size_t p_count) = 0;
    // Gives the file what p_stamp has: the modification time, and the rwx bits of user, group
    // and other (never set-user-ID, set-group-ID or sticky; Windows keeps no permission bits).
    // Call it after the last Write.
    virtual std::string Restore(const Stamp& p_stamp) = 0;
    virtual std::string Close() = 0;
};

// A directory that files are extracted into. Nothing below it is reached through a symbolic
// link, and nothing outside it is touched: each path is resolved below the directory without
// following links (POSIX: openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel
// has it, otherwise one component at a time with O_NOFOLLOW; Windows: each component opened
// without following reparse points, and names Windows would alias refused: a device name
// such as NUL or COM1, a ':' that would name a data stream, a trailing dot or space).
class ExtractDirectory {
public:
    virtual ~ExtractDirectory() = default;
    // Makes the folders of p_relative ('/' separated, no '.' or '..' components), missing ones
    // included. The system's reason on failure.
    virtual std::string MakeFolders(const std::string& p_relative) = 0;
    // Creates the file p_relative (its folders must exist); an existing file is an error unless
    // p_replace, and a symbolic link always is.
    virtual std::string CreateOutput(const std::string& p_relative, bool p_replace,
                                     std::unique_ptr<OutputFile>& p_file) = 0;
    // Gives the existing folder p_relative what p_stamp has, as OutputFile::Restore does.
    virtual std::string RestoreFolder(const std::string& p_relative, const Stamp& p_stamp) = 0;
};

// The modification time and permission bits of the file or folder p_path (a link followed);
// false with p_error set when they cannot be had. Windows gives the time alone.
bool ReadStamp(const std::string& p_path, Stamp& p_stamp, std::string& p_error);

// Creates p_path, or empties it, for writing; null with p_error set on failure. Others may
// remove the file while it is open (Windows: FILE_SHARE_DELETE), so that RemoveOnSignal can
// remove it on every system.
std::unique_ptr<OutputFile> CreateOutputFile(const std::string& p_path, std::string& p_error);

// Opens p_path, creating it (and its parents) when missing; null with p_error set on failure.
std::unique_ptr<ExtractDirectory> OpenExtractDirectory(const std::string& p_path, std::string& p_error);

} // namespace platform
} // namespace draxel_tool
