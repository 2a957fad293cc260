// What the library needs of the operating system beyond the C++ standard library: files read
// at a position, large zero-filled blocks, file streams and std::filesystem paths made of a
// UTF-8 path, and whether the host's C runtime translates text itself. Platform.cpp is the one source that knows which
// system it runs on; everything else asks here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Platform {

// ---- Files read at a position. Paths are UTF-8 text; '/' serves as a separator everywhere.

using FileHandle = std::intptr_t;
constexpr FileHandle NoFile = -1;

// Opens the file for reading only; NoFile when it cannot be opened, with errno telling why
// (on Windows too, as its C runtime's open would set it). A directory either fails
// here or opens and fails on its first read (ReadNamesDirectory), as the system decides.
FileHandle OpenForReading(const char* p_path);
void CloseFile(FileHandle p_file);

// The file's length in bytes (64-bit on every host); false when it cannot be told or when the
// handle names a directory.
bool FileLength(FileHandle p_file, std::int64_t& p_length);

// What tells one file from another, and a file from itself rewritten: the system's identity
// of the file (device and inode; on Windows the volume serial and the file index), its length
// and the time of its last write (in the system's own unit).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::int64_t length = 0;
    std::int64_t written = 0;

    bool operator==(const FileIdentity& p_other) const
    {
        return device == p_other.device && file == p_other.file && length == p_other.length &&
               written == p_other.written;
    }
    bool operator!=(const FileIdentity& p_other) const { return !(*this == p_other); }
};

// The identity of the open file, in one call on it; false when it cannot be told.
bool IdentifyFile(FileHandle p_file, FileIdentity& p_identity);

// What PositionedRead gives back besides a count.
constexpr std::ptrdiff_t ReadError = -1;
constexpr std::ptrdiff_t ReadNamesDirectory = -2;

// Reads up to p_count bytes at p_position without moving any shared file position: the count
// read (0 at or past the end), ReadError, or ReadNamesDirectory. Interrupted reads are retried.
std::ptrdiff_t PositionedRead(FileHandle p_file, char* p_bytes, std::size_t p_count, std::int64_t p_position);

// True when the path names an existing directory.
bool IsDirectory(const char* p_path);

// True when p_relative, a path to be joined below a directory ('/' separates), could name
// something outside that directory, or something that is no file or directory in it: a ".."
// component anywhere. On Windows also a component the system trims to ".." (only dots and
// spaces, two dots or more), a colon anywhere (a drive letter, an alternate data stream, a
// device) and a leading separator (a rooted or UNC path); '\\' separates there as well.
bool LeavesDirectory(std::string_view p_relative);

// ---- File streams.

// Opens p_file on the UTF-8 path with p_mode. Without std::ios_base::binary the host's C
// runtime translates text where it does so (HostTranslatesText).
bool OpenFileBuffer(std::filebuf& p_file, const char* p_path, std::ios_base::openmode p_mode);

// A file buffer that can tell whether what it opened is a directory (which POSIX opens for
// reading, and which no file stream may read).
class FileBuffer : public std::filebuf {
public:
    // Whether the file open in this buffer, opened by the UTF-8 path p_path, is a directory:
    // asked of the open file where the C++ library shows its descriptor (no second walk of the
    // path, and the answer is about the file the buffer reads), else of p_path.
    bool OpensDirectory(const char* p_path);
};

// The std::filesystem path of the UTF-8 path: a path made of narrow text is read in the ANSI
// code page on Windows.
std::filesystem::path FileSystemPath(const std::string& p_path);

// Whether a file stream opened without std::ios_base::binary already reads text in the host's
// own way (CR LF to LF, a Ctrl-Z ends the text). Where it does not, the library imitates it.
bool HostTranslatesText();

// ---- Time.

// The local time of p_seconds since 1970-01-01 00:00 UTC, as the system's time zone has it
// (thread-safe, unlike std::localtime); false when the system cannot tell it.
bool LocalTime(std::int64_t p_seconds, std::tm& p_local);

// ---- Large zero-filled blocks, taken straight from the system: pages are committed only
// where they are written. Null when the address space cannot hold the block.
void* MapZeroedBlock(std::size_t p_size);
void UnmapZeroedBlock(void* p_block, std::size_t p_size);

} // namespace Platform
} // namespace Assets
} // namespace Draxel
} // namespace Qor
