// The platform interface of draxel-assets on POSIX systems (Linux: openat2 where the kernel
// has it).
#include "Platform.h"
#include "ToolSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/openat2.h>
#endif

namespace draxel_tool {
namespace platform {

namespace {

// The paths a signal removes: fixed buffers, since a handler may not allocate. A slot is
// filled before it is marked used, and marked unused before it is filled again.
constexpr int RemovedPaths = 8;
char g_removeOnSignal[RemovedPaths][4096];
volatile std::sig_atomic_t g_removeUsed[RemovedPaths];

void RemoveRegistered()
{
    // Files first, then the folders they were in.
    for (int slot = 0; slot < RemovedPaths; ++slot)
        if (g_removeUsed[slot])
            ::unlink(g_removeOnSignal[slot]);
    for (int slot = 0; slot < RemovedPaths; ++slot)
        if (g_removeUsed[slot])
            ::rmdir(g_removeOnSignal[slot]);
}

extern "C" void RemoveAndEnd(int p_signal)
{
    RemoveRegistered();
    std::signal(p_signal, SIG_DFL);
    ::raise(p_signal);
}

std::string Reason(int p_error)
{
    return std::strerror(p_error);
}

// Gives the open file or folder p_descriptor what p_stamp has.
std::string RestoreStamp(int p_descriptor, const Stamp& p_stamp)
{
    if (p_stamp.hasMode && ::fchmod(p_descriptor, static_cast<mode_t>(p_stamp.mode & 0777)) != 0)
        return "cannot set its permission bits: " + Reason(errno);
    if (p_stamp.hasTime) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT; // the access time stays
        times[1].tv_sec = static_cast<time_t>(p_stamp.modified);
        times[1].tv_nsec = 0;
        if (::futimens(p_descriptor, times) != 0)
            return "cannot set its modification time: " + Reason(errno);
    }
    return std::string();
}

class PosixOutputFile : public OutputFile {
public:
    explicit PosixOutputFile(int p_descriptor) : _descriptor(p_descriptor) {}
    ~PosixOutputFile() override
    {
        if (_descriptor >= 0)
            ::close(_descriptor);
    }

    std::string Write(const char* p_bytes, std::size_t p_count) override
    {
        while (p_count > 0) {
            const ssize_t written = ::write(_descriptor, p_bytes, p_count);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return Reason(errno);
            }
            p_bytes += written;
            p_count -= static_cast<std::size_t>(written);
        }
        return std::string();
    }

    std::string Restore(const Stamp& p_stamp) override { return RestoreStamp(_descriptor, p_stamp); }

    std::string Close() override
    {
        const int descriptor = _descriptor;
        _descriptor = -1;
        return ::close(descriptor) == 0 ? std::string() : Reason(errno);
    }

private:
    int _descriptor;
};

// openat2 below p_root without links; -1 with errno ENOSYS where the kernel lacks it.
int OpenBeneath(int p_root, const std::string& p_relative, int p_flags, mode_t p_mode)
{
#if defined(__linux__) && defined(SYS_openat2)
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = static_cast<std::uint64_t>(p_flags);
    how.mode = (p_flags & O_CREAT) ? p_mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    return static_cast<int>(::syscall(SYS_openat2, p_root, p_relative.c_str(), &how, sizeof how));
#else
    (void)p_root, (void)p_relative, (void)p_flags, (void)p_mode;
    errno = ENOSYS;
    return -1;
#endif
}

class PosixExtractDirectory : public ExtractDirectory {
public:
    explicit PosixExtractDirectory(int p_root) : _root(p_root) {}
    ~PosixExtractDirectory() override { ::close(_root); }

    std::string MakeFolders(const std::string& p_relative) override
    {
        int folder = -1;
        return WalkFolders(PathComponents(p_relative), true, folder);
    }

    std::string CreateOutput(const std::string& p_relative, bool p_replace,
                             std::unique_ptr<OutputFile>& p_file) override
    {
        const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (p_replace ? O_TRUNC : O_EXCL);
        int descriptor = OpenBeneath(_root, p_relative, flags, 0666);
        if (descriptor < 0 && (errno == ENOSYS || errno == EPERM)) {
            // No openat2 (or a filter refuses it): the folders one by one, then the leaf.
            std::vector<std::string> parts = PathComponents(p_relative);
            const std::string leaf = parts.empty() ? std::string() : parts.back();
            if (!parts.empty())
                parts.pop_back();
            int folder = -1;
            const std::string error = WalkFolders(parts, false, folder);
            if (!error.empty())
                return error;
            descriptor = ::openat(folder, leaf.c_str(), flags, 0666);
            const int saved = errno;
            if (folder != _root)
                ::close(folder);
            errno = saved;
        }
        if (descriptor < 0) {
            if (errno == EEXIST) {
                struct stat status;
                if (::fstatat(_root, p_relative.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
                    return "a symbolic link is in the way";
                return p_replace ? Reason(errno) : "exists (--overwrite replaces it)";
            }
            if (errno == ELOOP || errno == EXDEV)
                return "a symbolic link is in the way";
            return Reason(errno);
        }
        struct stat status;
        if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(descriptor);
            return "not a regular file";
        }
        p_file = std::make_unique<PosixOutputFile>(descriptor);
        return std::string();
    }

    std::string RestoreFolder(const std::string& p_relative, const Stamp& p_stamp) override
    {
        int folder = -1;
        const std::string error = WalkFolders(PathComponents(p_relative), false, folder);
        if (!error.empty())
            return error;
        const std::string restored = RestoreStamp(folder, p_stamp);
        if (folder != _root)
            ::close(folder);
        return restored;
    }

private:
    // Opens each folder below the root without following a link, creating it when p_create;
    // p_folder receives the last (the root itself for none; the caller closes any other).
    std::string WalkFolders(const std::vector<std::string>& p_parts, bool p_create, int& p_folder)
    {
        int folder = _root;
        for (const std::string& part : p_parts) {
            if (p_create && ::mkdirat(folder, part.c_str(), 0777) != 0 && errno != EEXIST) {
                const std::string error = Reason(errno);
                if (folder != _root)
                    ::close(folder);
                return error;
            }
            const int next = ::openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int saved = errno;
            if (folder != _root)
                ::close(folder);
            if (next < 0)
                return saved == ELOOP || saved == ENOTDIR ? "a symbolic link or a file is in the way of " + part
                                                          : Reason(saved);
            folder = next;
        }
        if (p_create && folder != _root)
            ::close(folder);
        else
            p_folder = folder;
        return std::string();
    }

    int _root;
};

} // namespace

std::vector<std::string> Arguments(int p_argc, char** p_argv)
{
    return std::vector<std::string>(p_argv, p_argv + p_argc);
}

void BinaryStandardOutput()
{
    // POSIX streams have no text mode.
}

std::size_t DrivePrefixLength(const std::string&)
{
    return 0;
}

const char* NativeNoticesName()
{
    return "inotify";
}

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

unsigned long ProcessId()
{
    return static_cast<unsigned long>(::getpid());
}

std::string ExecutablePath()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.u8string();
}

bool StandardOutputPipeClosed(int p_errno)
{
    return p_errno == EPIPE;
}

void EndForClosedPipe()
{
    RemoveRegistered();
    std::signal(SIGPIPE, SIG_DFL);
    ::raise(SIGPIPE);
    std::_Exit(Failed); // SIGPIPE blocked: end all the same
}

void RemoveOnSignal(const std::string& p_path)
{
    if (p_path.empty() || p_path.size() >= sizeof g_removeOnSignal[0])
        return;
    for (int slot = 0; slot < RemovedPaths; ++slot) {
        if (g_removeUsed[slot])
            continue;
        std::memcpy(g_removeOnSignal[slot], p_path.c_str(), p_path.size() + 1);
        g_removeUsed[slot] = 1;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = RemoveAndEnd;
        sigemptyset(&action.sa_mask);
        for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            ::sigaction(number, &action, nullptr);
        return;
    }
}

void KeepOnSignal(const std::string& p_path)
{
    for (int slot = 0; slot < RemovedPaths; ++slot)
        if (g_removeUsed[slot] && p_path == g_removeOnSignal[slot])
            g_removeUsed[slot] = 0;
}

std::unique_ptr<OutputFile> CreateOutputFile(const std::string& p_path, std::string& p_error)
{
    const int descriptor = ::open(p_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        p_error = Reason(errno);
        return nullptr;
    }
    return std::make_unique<PosixOutputFile>(descriptor);
}

bool ReadStamp(const std::string& p_path, Stamp& p_stamp, std::string& p_error)
{
    struct stat status;
    if (::stat(p_path.c_str(), &status) != 0) {
        p_error = Reason(errno);
        return false;
    }
    p_stamp.hasTime = true;
    p_stamp.modified = static_cast<std::int64_t>(status.st_mtime);
    p_stamp.hasMode = true;
    p_stamp.mode = static_cast<std::uint32_t>(status.st_mode & 07777);
    return true;
}

std::unique_ptr<ExtractDirectory> OpenExtractDirectory(const std::string& p_path, std::string& p_error)
{
    std::error_code error;
    std::filesystem::create_directories(p_path, error);
    const int root = ::open(p_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        p_error = error ? error.message() : Reason(errno);
        return nullptr;
    }
    return std::make_unique<PosixExtractDirectory>(root);
}

} // namespace platform
} // namespace draxel_tool
