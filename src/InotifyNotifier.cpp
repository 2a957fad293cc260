// The Linux notifier behind AssetWatcher and the kept directory indexes: one inotify
// descriptor, opened non-blocking and read in Take, never waited on; one watch per directory,
// each directory's own entries.
#include "WatchNotifier.h"

#ifdef __linux__

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <unordered_map>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// What a watched directory reports: its entries coming, going, changing (attributes too, so
// that touch counts), and itself going away or moving.
const std::uint32_t WatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class InotifyNotifier : public ImmediateNotifier {
public:
    explicit InotifyNotifier(int p_descriptor) : _descriptor(p_descriptor) {}
    ~InotifyNotifier() override { ::close(_descriptor); }

    bool Native() const override { return true; }

    bool WatchDirectory(const std::string& p_directory) override
    {
        // Asked of the kernel every time: the directory at this path may be another one than
        // the one watched under it before (replaced while its notices were lost), and the
        // kernel hands back the watch of the directory there now.
        const int watch = ::inotify_add_watch(_descriptor, p_directory.c_str(), WatchMask);
        if (watch < 0) {
            const int error = errno;
            Unrecord(p_directory);
            return error != ENOSPC && error != ENOMEM;
        }
        auto known = _watches.find(p_directory);
        if (known != _watches.end() && known->second == watch)
            return true;
        Unrecord(p_directory);
        _watches.emplace(p_directory, watch);
        // Two paths of one directory (a link, two mounts of one tree) share one watch.
        _directories[watch].push_back(p_directory);
        return true;
    }

    bool Watching(const std::string& p_directory) const override { return _watches.count(p_directory) != 0; }

    // Notices of a remote or user-space file system tell only what this machine did, if that.
    bool Complete(const std::string& p_directory) const override
    {
        struct statfs system;
        if (::statfs(p_directory.c_str(), &system) != 0)
            return false;
        switch (static_cast<unsigned long>(system.f_type)) {
        case 0x6969ul:     // NFS
        case 0x517Bul:     // SMB
        case 0xFF534D42ul: // CIFS
        case 0xFE534D42ul: // SMB2
        case 0x65735546ul: // FUSE
        case 0x01021997ul: // 9P
        case 0x00C36400ul: // Ceph
        case 0x5346414Ful: // AFS
        case 0x6B414653ul: // kAFS
        case 0x47504653ul: // GPFS
        case 0x0BD00BD0ul: // Lustre
        case 0x73757245ul: // Coda
            return false;
        default:
            return true;
        }
    }

    void Clear() override
    {
        for (const auto& watch : _directories)
            ::inotify_rm_watch(_descriptor, watch.first);
        _directories.clear();
        _watches.clear();
    }

    void Unwatch(const std::string& p_directory) override { Unrecord(p_directory); }

    Outcome Take(std::vector<std::string>& p_paths) override { return Read(p_paths, nullptr, nullptr); }

    Outcome TakeFrom(std::vector<std::string>& p_paths, std::vector<std::string>& p_directories,
                     std::vector<std::string>& p_dropped) override
    {
        return Read(p_paths, &p_directories, &p_dropped);
    }

private:
    Outcome Read(std::vector<std::string>& p_paths, std::vector<std::string>* p_directories,
                 std::vector<std::string>* p_dropped)
    {
        _dropped = p_dropped;
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
                if (Handle(*event, p_paths, p_directories) && outcome == Quiet)
                    outcome = Changed;
            }
        }
        return outcome;
    }

    bool Handle(const inotify_event& p_event, std::vector<std::string>& p_paths,
                std::vector<std::string>* p_directories)
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
            if (p_directories)
                p_directories->push_back(directory);
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
                    Dropped(_watches.find(directory));
                _directories.erase(dropped);
            }
        }
        return true;
    }

    // Forgets that p_directory was watched, and drops its watch when no other path shares it.
    void Unrecord(const std::string& p_directory)
    {
        auto known = _watches.find(p_directory);
        if (known == _watches.end())
            return;
        auto directories = _directories.find(known->second);
        if (directories != _directories.end()) {
            std::vector<std::string>& names = directories->second;
            names.erase(std::remove(names.begin(), names.end(), p_directory), names.end());
            if (names.empty()) {
                ::inotify_rm_watch(_descriptor, known->second);
                _directories.erase(directories);
            }
        }
        _watches.erase(known);
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
            watch = Dropped(watch);
        }
    }

    // Erases a directory the notices made this notifier forget, telling it to TakeFrom's caller.
    std::unordered_map<std::string, int>::iterator Dropped(std::unordered_map<std::string, int>::iterator p_watch)
    {
        if (p_watch == _watches.end())
            return p_watch;
        if (_dropped)
            _dropped->push_back(p_watch->first);
        return _watches.erase(p_watch);
    }

    int _descriptor;
    std::vector<std::string>* _dropped = nullptr; // during a read: TakeFrom's list of them
    // Kept with the notifier: a quiet read should not touch 64 KiB of fresh stack each time.
    alignas(inotify_event) char _buffer[64 * 1024];
    std::unordered_map<std::string, int> _watches;
    std::unordered_map<int, std::vector<std::string>> _directories;
};

} // namespace

std::unique_ptr<ImmediateNotifier> CreateInotifyNotifier()
{
    const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    return std::unique_ptr<ImmediateNotifier>(new InotifyNotifier(descriptor));
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor

#endif
