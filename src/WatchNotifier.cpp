// The choice of notifier behind AssetWatcher (inotify on Linux, InotifyNotifier.cpp;
// ReadDirectoryChangesW on Windows, DirectoryChangeNotifier.cpp; polling, here, everywhere
// and on request), and file signatures.
//
// Why no notification library: Debian's candidates fail the watcher's contract of "no thread,
// a poll that never waits, several watchers in one process". libinotifytools keeps one
// inotify instance in process-wide state (two watchers would share and steal each other's
// events), is Linux-only and GPL-2; libfswatch (not packaged as a library in Debian 12) and
// efsw (not packaged) run their monitors in a thread of their own or in a blocking loop;
// gamin needs a daemon and is abandoned. inotify with IN_NONBLOCK is a few lines, and the
// portable polling fallback is needed anyway.
#include "WatchNotifier.h"

#include "Platform.h"

#include <filesystem>
#include <system_error>

#ifdef __linux__
#include <sys/stat.h>
#elif defined(_WIN32)
// windows.h, with NOMINMAX and WIN32_LEAN_AND_MEAN
#include <WideText.h>
#endif

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// Tells the watcher when a full rescan is due; knows nothing of directories.
class PollingNotifier : public WatchNotifier {
public:
    explicit PollingNotifier(std::chrono::milliseconds p_interval)
        : _interval(p_interval), _last(std::chrono::steady_clock::now())
    {
    }

    bool Native() const override { return false; }
    bool WatchDirectory(const std::string&) override { return true; }
    void Clear() override {}

    Outcome Take(std::vector<std::string>&) override
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - _last < _interval)
            return Quiet;
        _last = now;
        return Rescan;
    }

private:
    std::chrono::milliseconds _interval;
    std::chrono::steady_clock::time_point _last;
};

} // namespace

bool FileSignature::operator==(const FileSignature& p_other) const
{
    return kind == p_other.kind && size == p_other.size && modified == p_other.modified && changed == p_other.changed &&
           file == p_other.file && device == p_other.device;
}

FileSignature SignatureOf(const std::string& p_hostPath)
{
    FileSignature signature;
#ifdef __linux__
    struct stat status;
    if (::stat(p_hostPath.c_str(), &status) != 0) {
        if (::lstat(p_hostPath.c_str(), &status) == 0)
            signature.kind = FileSignature::Other;
        return signature;
    }
    signature.kind = S_ISREG(status.st_mode)   ? FileSignature::Regular
                     : S_ISDIR(status.st_mode) ? FileSignature::Directory
                                               : FileSignature::Other;
    signature.size = status.st_size;
    signature.modified = std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    signature.changed = std::int64_t(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    signature.file = status.st_ino;
    signature.device = status.st_dev;
#elif defined(_WIN32)
    // A handle asks for no access to the content, so it never stands in anybody's way; it
    // gives what a path alone does not: the file's identity (a file renamed over another is
    // another file) and its status change time.
    const std::wstring path = widetext::Widen(p_hostPath);
    const HANDLE file =
        ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (!path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            signature.kind = FileSignature::Other;
        return signature;
    }
    BY_HANDLE_FILE_INFORMATION information;
    FILE_BASIC_INFO times;
    const bool known = ::GetFileInformationByHandle(file, &information) &&
                       ::GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times);
    const DWORD type = ::GetFileType(file);
    ::CloseHandle(file);
    if (!known) {
        signature.kind = FileSignature::Other;
        return signature;
    }
    signature.kind = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileSignature::Directory
                     : type == FILE_TYPE_DISK                                  ? FileSignature::Regular
                                                                               : FileSignature::Other;
    signature.size =
        static_cast<std::int64_t>((std::uint64_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
    signature.modified = times.LastWriteTime.QuadPart;
    signature.changed = times.ChangeTime.QuadPart;
    signature.file = (std::uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    signature.device = information.dwVolumeSerialNumber;
#else
    std::error_code error;
    const std::filesystem::path path = Platform::FileSystemPath(p_hostPath);
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        if (std::filesystem::exists(std::filesystem::symlink_status(path, error)))
            signature.kind = FileSignature::Other;
        return signature;
    }
    signature.kind = std::filesystem::is_regular_file(status) ? FileSignature::Regular
                     : std::filesystem::is_directory(status)  ? FileSignature::Directory
                                                              : FileSignature::Other;
    if (signature.kind != FileSignature::Regular)
        return signature;
    const auto size = std::filesystem::file_size(path, error);
    const auto modified = std::filesystem::last_write_time(path, error);
    if (error)
        return signature;
    signature.size = static_cast<std::int64_t>(size);
    signature.modified = static_cast<std::int64_t>(modified.time_since_epoch().count());
#endif
    return signature;
}

WatchNotifier::~WatchNotifier() = default;

bool WatchNotifier::Watching(const std::string&) const
{
    return false;
}

bool WatchNotifier::Complete(const std::string&) const
{
    return false;
}

std::unique_ptr<ImmediateNotifier> CreateImmediateNotifier()
{
#ifdef __linux__
    return CreateInotifyNotifier();
#else
    return nullptr;
#endif
}

std::unique_ptr<WatchNotifier> WatchNotifier::Create(bool p_native, std::chrono::milliseconds p_interval)
{
#ifdef __linux__
    if (p_native) {
        if (std::unique_ptr<WatchNotifier> notifier = CreateInotifyNotifier())
            return notifier;
    }
#elif defined(_WIN32)
    if (p_native)
        return CreateDirectoryChangeNotifier();
#else
    (void)p_native;
#endif
    return std::unique_ptr<WatchNotifier>(new PollingNotifier(p_interval));
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
