// What the host layer needs of the operating system: path separators, the status of a path
// and the names in a directory. HostPlatform.cpp is the host layer's one source that knows
// which system it runs on. Paths are UTF-8 text.
#pragma once

#include <cstdint>
#include <string>

namespace qorfile {
namespace platform {

// '/' everywhere; on Windows '\' as well.
bool IsSeparator(char p_character);

struct FileStatus {
    bool directory;
    std::uint64_t size; // 64-bit on every host
};

// The status of what p_path names; false when nothing is there. A path that ends in a
// separator names only a directory.
bool StatusOf(const std::string& p_path, FileStatus& p_status);

// The names in one directory, '.' and '..' left out, in the order the system gives them.
class DirectoryReader {
public:
    // Opens p_directory; IsOpen() is false when it is missing or cannot be read.
    explicit DirectoryReader(const std::string& p_directory);
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;

    bool IsOpen() const { return _handle != nullptr; }
    // The next name; false (and the directory closed) at the end.
    bool Next(std::string& p_name);

private:
    void Close();

    void* _handle = nullptr; // the system's open directory, or a search that holds one
};

} // namespace platform
} // namespace qorfile
