// The library's system calls: POSIX, or Win32 with its wide-character API (paths arrive as
// UTF-8 and are handed to the system as UTF-16; the narrow API would read them in the ANSI
// code page).
#include "Platform.h"

#include <algorithm>
#include <cerrno>

#ifdef _WIN32

// windows.h, with NOMINMAX and WIN32_LEAN_AND_MEAN
#include <WideText.h>

#include <string>

#else

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#endif

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Platform {

#ifdef _WIN32

namespace {

HANDLE AsHandle(FileHandle p_file)
{
    return reinterpret_cast<HANDLE>(p_file);
}

} // namespace

FileHandle OpenForReading(const char* p_path)
{
    // Others may go on reading, writing, renaming or deleting the file, as on POSIX.
    const HANDLE file = ::CreateFileW(widetext::Widen(p_path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        return reinterpret_cast<FileHandle>(file);
    // errno as the C runtime's open would set it, for callers that name the reason.
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errno = EACCES;
        break;
    default:
        errno = EIO;
    }
    return NoFile;
}

void CloseFile(FileHandle p_file)
{
    if (p_file != NoFile)
        ::CloseHandle(AsHandle(p_file));
}

bool FileLength(FileHandle p_file, std::int64_t& p_length)
{
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(AsHandle(p_file), &size))
        return false;
    p_length = size.QuadPart;
    return true;
}

bool IdentifyFile(FileHandle p_file, FileIdentity& p_identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(AsHandle(p_file), &info))
        return false;
    p_identity.device = info.dwVolumeSerialNumber;
    p_identity.file = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    p_identity.length = static_cast<std::int64_t>((std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    p_identity.written = static_cast<std::int64_t>((std::uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                                   info.ftLastWriteTime.dwLowDateTime);
    return true;
}

std::ptrdiff_t PositionedRead(FileHandle p_file, char* p_bytes, std::size_t p_count, std::int64_t p_position)
{
    // One ReadFile moves at most a DWORD; the caller loops over short counts.
    const DWORD count = p_count > (DWORD(1) << 30) ? (DWORD(1) << 30) : static_cast<DWORD>(p_count);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(p_position) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(p_position) >> 32);
    DWORD done = 0;
    if (!::ReadFile(AsHandle(p_file), p_bytes, count, &done, &at))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : ReadError;
    return static_cast<std::ptrdiff_t>(done);
}

bool IsDirectory(const char* p_path)
{
    const DWORD attributes = ::GetFileAttributesW(widetext::Widen(p_path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool OpenFileBuffer(std::filebuf& p_file, const char* p_path, std::ios_base::openmode p_mode)
{
    return p_file.open(widetext::Widen(p_path).c_str(), p_mode) != nullptr;
}

// Windows opens no directory as a file; its path is asked all the same.
bool FileBuffer::OpensDirectory(const char* p_path)
{
    return IsDirectory(p_path);
}

std::filesystem::path FileSystemPath(const std::string& p_path)
{
    return std::filesystem::path(widetext::Widen(p_path));
}

bool HostTranslatesText()
{
    return true;
}

void* MapZeroedBlock(std::size_t p_size)
{
    return ::VirtualAlloc(nullptr, p_size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapZeroedBlock(void* p_block, std::size_t)
{
    ::VirtualFree(p_block, 0, MEM_RELEASE);
}

#else

FileHandle OpenForReading(const char* p_path)
{
    const int file = ::open(p_path, O_RDONLY | O_CLOEXEC);
    return file < 0 ? NoFile : FileHandle(file);
}

void CloseFile(FileHandle p_file)
{
    if (p_file != NoFile)
        ::close(static_cast<int>(p_file));
}

bool FileLength(FileHandle p_file, std::int64_t& p_length)
{
    struct stat info;
    if (::fstat(static_cast<int>(p_file), &info) != 0 || S_ISDIR(info.st_mode))
        return false;
    p_length = info.st_size;
    return true;
}

bool IdentifyFile(FileHandle p_file, FileIdentity& p_identity)
{
    struct stat info;
    if (::fstat(static_cast<int>(p_file), &info) != 0)
        return false;
    p_identity.device = static_cast<std::uint64_t>(info.st_dev);
    p_identity.file = static_cast<std::uint64_t>(info.st_ino);
    p_identity.length = static_cast<std::int64_t>(info.st_size);
    p_identity.written = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

std::ptrdiff_t PositionedRead(FileHandle p_file, char* p_bytes, std::size_t p_count, std::int64_t p_position)
{
    for (;;) {
        const ssize_t count = ::pread(static_cast<int>(p_file), p_bytes, p_count, static_cast<off_t>(p_position));
        if (count >= 0)
            return count;
        if (errno == EINTR)
            continue;
        return errno == EISDIR ? ReadNamesDirectory : ReadError;
    }
}

bool IsDirectory(const char* p_path)
{
    struct stat info;
    return ::stat(p_path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool OpenFileBuffer(std::filebuf& p_file, const char* p_path, std::ios_base::openmode p_mode)
{
    return p_file.open(p_path, p_mode) != nullptr;
}

bool FileBuffer::OpensDirectory([[maybe_unused]] const char* p_path)
{
#ifdef __GLIBCXX__
    struct stat info;
    return ::fstat(_M_file.fd(), &info) == 0 && S_ISDIR(info.st_mode);
#else
    return IsDirectory(p_path);
#endif
}

std::filesystem::path FileSystemPath(const std::string& p_path)
{
    return std::filesystem::path(p_path);
}

bool HostTranslatesText()
{
    return false;
}

void* MapZeroedBlock(std::size_t p_size)
{
    void* block = ::mmap(nullptr, p_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    // Advice only: without it the pages are small. Huge pages make the first touches of a big
    // entry fault and clear 2 MiB at a time instead of 4 KiB.
    ::madvise(block, p_size, MADV_HUGEPAGE);
#endif
    return block;
}

void UnmapZeroedBlock(void* p_block, std::size_t p_size)
{
    ::munmap(p_block, p_size);
}

#endif

bool LocalTime(std::int64_t p_seconds, std::tm& p_local)
{
    const std::time_t seconds = static_cast<std::time_t>(p_seconds);
#ifdef _WIN32
    return ::localtime_s(&p_local, &seconds) == 0;
#else
    return ::localtime_r(&seconds, &p_local) != nullptr;
#endif
}

namespace {

bool IsSeparator(char p_character)
{
#ifdef _WIN32
    return p_character == '/' || p_character == '\\';
#else
    return p_character == '/';
#endif
}

// Windows drops trailing dots and spaces from a component, so ". ." or "..." name the parent
// there as ".." does.
bool NamesParent(std::string_view p_component)
{
#ifdef _WIN32
    return p_component.find_first_not_of(". ") == std::string_view::npos &&
           std::count(p_component.begin(), p_component.end(), '.') >= 2;
#else
    return p_component == "..";
#endif
}

} // namespace

bool LeavesDirectory(std::string_view p_relative)
{
#ifdef _WIN32
    if (p_relative.find(':') != std::string_view::npos)
        return true;
    // A rooted path: the root of the current drive, or a UNC prefix once the mount point's
    // separator is cut off.
    if (!p_relative.empty() && IsSeparator(p_relative[0]))
        return true;
#endif
    std::size_t start = 0;
    for (std::size_t i = 0; i <= p_relative.size(); ++i) {
        if (i < p_relative.size() && !IsSeparator(p_relative[i]))
            continue;
        if (NamesParent(p_relative.substr(start, i - start)))
            return true;
        start = i + 1;
    }
    return false;
}

} // namespace Platform
} // namespace Assets
} // namespace Draxel
} // namespace Qor
