// The host layer's system calls: POSIX, or Win32 with its wide-character API (UTF-8 paths are
// handed to the system as UTF-16 and names come back as UTF-8; the narrow API would use the
// ANSI code page, and MinGW's stat has a 32-bit size and refuses a trailing separator).
#include "HostPlatform.h"

#ifdef _WIN32

// windows.h, with NOMINMAX and WIN32_LEAN_AND_MEAN
#include "WideText.h"

#else

#include <dirent.h>
#include <sys/stat.h>

#endif

#include <cstring>

namespace qorfile {
namespace platform {

namespace {

bool IsDot(const char* p_name)
{
    return std::strcmp(p_name, ".") == 0 || std::strcmp(p_name, "..") == 0;
}

} // namespace

#ifdef _WIN32

namespace {

} // namespace

bool IsSeparator(char p_character)
{
    return p_character == '/' || p_character == '\\';
}

bool StatusOf(const std::string& p_path, FileStatus& p_status)
{
    std::string path = p_path;
    const bool trailing = !path.empty() && IsSeparator(path.back());
    while (path.size() > 1 && IsSeparator(path.back()))
        path.pop_back();
    // A drive alone ("C:") names the drive's current directory; its root is meant.
    if (path.size() == 2 && path[1] == ':')
        path += '\\';
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !::GetFileAttributesExW(widetext::Widen(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    p_status.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    p_status.size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return p_status.directory || !trailing;
}

// Windows reads the first name when it opens the search.
struct Search {
    HANDLE handle;
    WIN32_FIND_DATAW found;
    bool holdsFound;
};

DirectoryReader::DirectoryReader(const std::string& p_directory)
{
    if (p_directory.empty())
        return;
    std::string pattern = p_directory;
    if (!IsSeparator(pattern.back()))
        pattern += '\\';
    pattern += '*';
    Search* search = new Search();
    search->handle = ::FindFirstFileW(widetext::Widen(pattern).c_str(), &search->found);
    search->holdsFound = true;
    if (search->handle == INVALID_HANDLE_VALUE)
        delete search;
    else
        _handle = search;
}

void DirectoryReader::Close()
{
    if (Search* search = static_cast<Search*>(_handle)) {
        ::FindClose(search->handle);
        delete search;
    }
    _handle = nullptr;
}

bool DirectoryReader::Next(std::string& p_name)
{
    while (Search* search = static_cast<Search*>(_handle)) {
        if (!search->holdsFound && !::FindNextFileW(search->handle, &search->found)) {
            Close();
            break;
        }
        search->holdsFound = false;
        p_name = widetext::Narrow(search->found.cFileName);
        if (!IsDot(p_name.c_str()))
            return true;
    }
    return false;
}

#else

bool IsSeparator(char p_character)
{
    return p_character == '/';
}

bool StatusOf(const std::string& p_path, FileStatus& p_status)
{
    struct stat info;
    if (p_path.empty() || ::stat(p_path.c_str(), &info) != 0)
        return false;
    p_status.directory = S_ISDIR(info.st_mode);
    p_status.size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

DirectoryReader::DirectoryReader(const std::string& p_directory)
{
    if (!p_directory.empty())
        _handle = ::opendir(p_directory.c_str());
}

void DirectoryReader::Close()
{
    if (_handle)
        ::closedir(static_cast<DIR*>(_handle));
    _handle = nullptr;
}

bool DirectoryReader::Next(std::string& p_name)
{
    while (_handle) {
        const dirent* entry = ::readdir(static_cast<DIR*>(_handle));
        if (!entry) {
            Close();
            break;
        }
        if (!IsDot(entry->d_name)) {
            p_name = entry->d_name;
            return true;
        }
    }
    return false;
}

#endif

DirectoryReader::~DirectoryReader()
{
    Close();
}

} // namespace platform
} // namespace qorfile
