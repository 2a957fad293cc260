// The notifiers behind AssetWatcher: inotify on Linux, polling everywhere else (Windows
// included, until a ReadDirectoryChangesW notifier is added here), and file signatures.
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
#include <unordered_map>

#ifdef __linux__
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

#ifdef __linux__

// What a watched directory reports: its entries coming, going, changing (attributes too, so
// that touch counts), and itself going away or moving.
const std::uint32_t WatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class InotifyNotifier : public WatchNotifier {
public:
    explicit InotifyNotifier(int p_descriptor) : _descriptor(p_descriptor) {}
    ~InotifyNotifier() override { ::close(_descriptor); }

    bool Native() const override { return true; }

    bool WatchDirectory(const std::string& p_directory) override
    {
        if (_watches.count(p_directory))
            return true;
        const int watch = ::inotify_add_watch(_descriptor, p_directory.c_str(), WatchMask);
        if (watch < 0)
            return errno != ENOSPC && errno != ENOMEM;
        _watches.emplace(p_directory, watch);
        // Two paths of one directory (a link, two mounts of one tree) share one watch.
        _directories[watch].push_back(p_directory);
        return true;
    }

    void Clear() override
    {
        for (const auto& watch : _directories)
            ::inotify_rm_watch(_descriptor, watch.first);
        _directories.clear();
        _watches.clear();
    }

    Outcome Take(std::vector<std::string>& p_paths) override
    {
        Outcome outcome = Quiet;
        char* const buffer = _buffer;
        for (;;) {
            const ssize_t length = ::read(_descriptor, buffer, sizeof _buffer);
            if (length < 0 && errno == EINTR)
                continue;
            if (length < 0 && errno == EAGAIN)
                break;
            if (length <= 0)
                return Overflow; // an unexpected read failure: trust nothing, rescan
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    outcome = Overflow;
                    continue;
                }
                if (Handle(*event, p_paths) && outcome == Quiet)
                    outcome = Changed;
            }
        }
        return outcome;
    }

private:
    bool Handle(const inotify_event& p_event, std::vector<std::string>& p_paths)
    {
        auto found = _directories.find(p_event.wd);
        if (found == _directories.end())
            return false;
        const std::vector<std::string> directories = found->second;
        for (const std::string& directory : directories) {
            std::string path = directory;
            if (p_event.len)
                path.append(path.back() == '/' ? "" : "/").append(p_event.name);
            p_paths.push_back(path);
            // A watch follows its directory to the new name, so the old name's watches go:
            // the watcher's rescan of the new name watches it afresh.
            if ((p_event.mask & IN_MOVED_FROM) && (p_event.mask & IN_ISDIR))
                Forget(path);
        }
        if (p_event.mask & IN_MOVE_SELF)
            for (const std::string& directory : directories)
                Forget(directory);
        if (p_event.mask & IN_IGNORED) {
            // The kernel dropped the watch (its directory is gone).
            auto dropped = _directories.find(p_event.wd);
            if (dropped != _directories.end()) {
                for (const std::string& directory : dropped->second)
                    _watches.erase(directory);
                _directories.erase(dropped);
            }
        }
        return true;
    }

    // Drops the watches of p_directory and of every directory below it.
    void Forget(const std::string& p_directory)
    {
        const std::string below = p_directory + "/";
        for (auto watch = _watches.begin(); watch != _watches.end();) {
            if (watch->first != p_directory && watch->first.compare(0, below.size(), below) != 0) {
                ++watch;
                continue;
            }
            auto directories = _directories.find(watch->second);
            if (directories != _directories.end()) {
                std::vector<std::string>& names = directories->second;
                for (auto name = names.begin(); name != names.end();)
                    name = *name == watch->first ? names.erase(name) : name + 1;
                if (names.empty()) {
                    ::inotify_rm_watch(_descriptor, watch->second);
                    _directories.erase(directories);
                }
            }
            watch = _watches.erase(watch);
        }
    }

    int _descriptor;
    // Kept with the notifier: a quiet read should not touch 64 KiB of fresh stack each time.
    alignas(inotify_event) char _buffer[64 * 1024];
    std::unordered_map<std::string, int> _watches;
    std::unordered_map<int, std::vector<std::string>> _directories;
};

#endif

} // namespace

bool FileSignature::operator==(const FileSignature& p_other) const
{
    return kind == p_other.kind && size == p_other.size && modified == p_other.modified &&
           changed == p_other.changed && file == p_other.file && device == p_other.device;
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
    signature.kind = S_ISREG(status.st_mode) ? FileSignature::Regular
                     : S_ISDIR(status.st_mode) ? FileSignature::Directory
                                               : FileSignature::Other;
    signature.size = status.st_size;
    signature.modified = std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    signature.changed = std::int64_t(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    signature.file = status.st_ino;
    signature.device = status.st_dev;
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

std::unique_ptr<WatchNotifier> WatchNotifier::Create(bool p_native, std::chrono::milliseconds p_interval)
{
#ifdef __linux__
    if (p_native) {
        const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (descriptor >= 0)
            return std::unique_ptr<WatchNotifier>(new InotifyNotifier(descriptor));
    }
#else
    (void)p_native;
#endif
    return std::unique_ptr<WatchNotifier>(new PollingNotifier(p_interval));
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
