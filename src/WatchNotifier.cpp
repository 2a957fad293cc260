// The notifiers behind AssetWatcher: inotify on Linux, ReadDirectoryChangesW on Windows,
// polling everywhere else; and file signatures.
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

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unordered_map>

#ifdef __linux__
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#elif defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
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

#elif defined(_WIN32)

// What a watched tree reports: names coming, going and renamed, and writes, sizes, attributes
// and creation times changing (so that touch counts).
const DWORD WatchFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES |
                          FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;

// The most one read of notices may ask for on a network share. The system keeps notices
// between reads in a buffer of this size too; more notices than fit are lost (Overflow).
const DWORD NoticeBytes = 64 * 1024;

bool IsSeparator(char p_character)
{
    return p_character == '/' || p_character == '\\';
}

// Whether a tree watch of p_tree sees p_directory: the same text, or text below it.
bool Covers(const std::string& p_tree, const std::string& p_directory)
{
    if (p_directory.compare(0, p_tree.size(), p_tree) != 0)
        return false;
    return p_directory.size() == p_tree.size() || (!p_tree.empty() && IsSeparator(p_tree.back())) ||
           IsSeparator(p_directory[p_tree.size()]);
}

// One directory with everything below it, and its read of notices outstanding.
struct TreeWatch {
    TreeWatch() = default;
    TreeWatch(const TreeWatch&) = delete;
    TreeWatch& operator=(const TreeWatch&) = delete;
    ~TreeWatch()
    {
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        if (overlapped.hEvent)
            ::CloseHandle(overlapped.hEvent);
    }

    std::string directory;
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped = {};
    // DWORD-aligned, as the notices in it are.
    std::unique_ptr<DWORD[]> notices{new DWORD[NoticeBytes / sizeof(DWORD)]};
};

// One directory handle per watched tree, each with a read of notices outstanding: a watch
// of the whole tree rather than one per directory, because Windows refuses to rename or
// delete a directory while a handle is open below it, and a host reorganising its assets
// should not meet that. Take asks the reads' events with a zero timeout, and takes what the
// completed ones hold.
class DirectoryChangeNotifier : public WatchNotifier {
public:
    ~DirectoryChangeNotifier() override
    {
        Clear();
        // The system writes into a read's buffer until the read's cancellation completes,
        // which it does at once; a buffer it still holds after a second is left to it.
        for (std::unique_ptr<TreeWatch>& watch : _retired)
            if (!HasOverlappedIoCompleted(&watch->overlapped) &&
                ::WaitForSingleObject(watch->overlapped.hEvent, 1000) != WAIT_OBJECT_0 &&
                !HasOverlappedIoCompleted(&watch->overlapped))
                watch.release();
    }

    bool Native() const override { return true; }

    bool WatchDirectory(const std::string& p_directory) override
    {
        for (const std::unique_ptr<TreeWatch>& watch : _watches)
            if (Covers(watch->directory, p_directory))
                return true;
        if (!Platform::IsDirectory(p_directory.c_str()))
            return true;
        bool refused = false;
        std::unique_ptr<TreeWatch> watch = Open(p_directory, refused);
        if (!watch)
            return !refused;
        // The trees below this one are seen through it now.
        for (auto other = _watches.begin(); other != _watches.end();) {
            if (Covers(p_directory, (*other)->directory)) {
                Retire(std::move(*other));
                other = _watches.erase(other);
            } else {
                ++other;
            }
        }
        _watches.push_back(std::move(watch));
        return true;
    }

    void Clear() override
    {
        for (std::unique_ptr<TreeWatch>& watch : _watches)
            Retire(std::move(watch));
        _watches.clear();
    }

    Outcome Take(std::vector<std::string>& p_paths) override
    {
        // Cancelled reads are done with their buffers once they complete.
        _retired.erase(std::remove_if(_retired.begin(), _retired.end(),
                                      [](const std::unique_ptr<TreeWatch>& p_watch) {
                                          return HasOverlappedIoCompleted(&p_watch->overlapped);
                                      }),
                       _retired.end());
        // One zero-timeout wait per 64 trees tells whether any of their reads completed.
        std::vector<TreeWatch*> signalled;
        for (std::size_t first = 0; first < _watches.size(); first += MAXIMUM_WAIT_OBJECTS) {
            const std::size_t count = std::min<std::size_t>(MAXIMUM_WAIT_OBJECTS, _watches.size() - first);
            HANDLE events[MAXIMUM_WAIT_OBJECTS];
            for (std::size_t index = 0; index < count; ++index)
                events[index] = _watches[first + index]->overlapped.hEvent;
            if (::WaitForMultipleObjects(static_cast<DWORD>(count), events, FALSE, 0) == WAIT_TIMEOUT)
                continue;
            for (std::size_t index = 0; index < count; ++index)
                signalled.push_back(_watches[first + index].get());
        }
        Outcome outcome = Quiet;
        for (TreeWatch* watch : signalled) {
            bool renamed = false;
            if (!Collect(*watch, p_paths, outcome, renamed))
                continue;
            if (renamed)
                Replace(*watch, p_paths, outcome);
            else if (!Arm(*watch))
                Drop(*watch, p_paths, outcome);
        }
        return outcome;
    }

private:
    // A watch of p_directory with its first read outstanding; null (and p_refused when the
    // system is out of handles or refuses notices there) when it cannot be had.
    static std::unique_ptr<TreeWatch> Open(const std::string& p_directory, bool& p_refused)
    {
        std::unique_ptr<TreeWatch> watch(new TreeWatch);
        watch->directory = p_directory;
        // Others may go on renaming and deleting the directory.
        watch->handle = ::CreateFileW(Platform::Widen(p_directory.c_str()).c_str(), FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        if (watch->handle == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            p_refused = error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
                        error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_TOO_MANY_OPEN_FILES;
            return nullptr;
        }
        watch->overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // A file system without notices (some network shares) refuses the read.
        if (!watch->overlapped.hEvent || !Arm(*watch)) {
            p_refused = Platform::IsDirectory(p_directory.c_str());
            return nullptr;
        }
        return watch;
    }

    static bool Arm(TreeWatch& p_watch)
    {
        return ::ReadDirectoryChangesW(p_watch.handle, p_watch.notices.get(), NoticeBytes, TRUE, WatchFilter,
                                       nullptr, &p_watch.overlapped, nullptr) != FALSE;
    }

    // Takes what a completed read holds: true when it held notices (or said that they were
    // lost), false while it is outstanding and when the watch failed and was dropped.
    bool Collect(TreeWatch& p_watch, std::vector<std::string>& p_paths, Outcome& p_outcome, bool& p_renamed)
    {
        DWORD bytes = 0;
        if (::GetOverlappedResult(p_watch.handle, &p_watch.overlapped, &bytes, FALSE)) {
            // No notices at all: more came than the system's buffer holds.
            if (bytes == 0)
                p_outcome = Overflow;
            else if (Read(p_watch, bytes, p_paths, p_renamed) && p_outcome == Quiet)
                p_outcome = Changed;
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return false;
        if (error == ERROR_NOTIFY_ENUM_DIR) {
            p_outcome = Overflow;
            return true;
        }
        // The directory went away (or cannot be read any more): its place is rescanned, and
        // the rescan watches it again if it is back.
        Drop(p_watch, p_paths, p_outcome);
        return false;
    }

    // Appends the paths that p_bytes of notices name; false when they name none. p_renamed
    // tells whether a directory came in by a rename.
    static bool Read(const TreeWatch& p_watch, DWORD p_bytes, std::vector<std::string>& p_paths, bool& p_renamed)
    {
        const char* const notices = reinterpret_cast<const char*>(p_watch.notices.get());
        const std::size_t header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
        bool named = false;
        for (std::size_t offset = 0; offset + header <= p_bytes;) {
            const auto* notice = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(notices + offset);
            if (offset + header + notice->FileNameLength > p_bytes)
                break;
            // Names are relative to the watched directory, with backslashes between directories.
            std::string name = Platform::Narrow(notice->FileName, notice->FileNameLength / sizeof(WCHAR));
            std::replace(name.begin(), name.end(), '\\', '/');
            std::string path = p_watch.directory;
            if (!name.empty())
                path.append(!path.empty() && IsSeparator(path.back()) ? "" : "/").append(name);
            if (notice->Action == FILE_ACTION_RENAMED_NEW_NAME && Platform::IsDirectory(path.c_str()))
                p_renamed = true;
            p_paths.push_back(path);
            named = true;
            if (notice->NextEntryOffset == 0)
                break;
            offset += notice->NextEntryOffset;
        }
        return named;
    }

    // Puts a fresh watch in place of one that saw a directory renamed inside its tree: some
    // implementations (Wine's) go on naming what lies below a renamed directory by its old
    // name for as long as a handle of the tree stays open. What the old handle buffered
    // since its read completed is taken when it comes at once; what changed in the renamed
    // directory is found by the rescan that the rename's notice brings.
    void Replace(TreeWatch& p_watch, std::vector<std::string>& p_paths, Outcome& p_outcome)
    {
        const std::string directory = p_watch.directory;
        bool renamed = false;
        if (Arm(p_watch) && HasOverlappedIoCompleted(&p_watch.overlapped))
            Collect(p_watch, p_paths, p_outcome, renamed);
        Retire(Remove(p_watch));
        bool refused = false;
        std::unique_ptr<TreeWatch> fresh = Open(directory, refused);
        if (fresh) {
            _watches.push_back(std::move(fresh));
        } else {
            p_paths.push_back(directory);
            if (p_outcome == Quiet)
                p_outcome = Changed;
        }
    }

    // Forgets a watch whose read is not outstanding, reporting its directory as changed.
    void Drop(TreeWatch& p_watch, std::vector<std::string>& p_paths, Outcome& p_outcome)
    {
        p_paths.push_back(p_watch.directory);
        if (p_outcome == Quiet)
            p_outcome = Changed;
        Remove(p_watch);
    }

    // Takes p_watch out of the live watches (null when it was dropped already).
    std::unique_ptr<TreeWatch> Remove(TreeWatch& p_watch)
    {
        auto found = std::find_if(_watches.begin(), _watches.end(),
                                  [&](const std::unique_ptr<TreeWatch>& p_other) { return p_other.get() == &p_watch; });
        if (found == _watches.end())
            return nullptr;
        std::unique_ptr<TreeWatch> watch = std::move(*found);
        _watches.erase(found);
        return watch;
    }

    // Cancels the watch's read and closes its directory at once (an open handle keeps some
    // implementations' idea of the tree alive); the buffer stays until the read completes.
    void Retire(std::unique_ptr<TreeWatch> p_watch)
    {
        if (!p_watch)
            return;
        ::CancelIoEx(p_watch->handle, &p_watch->overlapped);
        ::CloseHandle(p_watch->handle);
        p_watch->handle = INVALID_HANDLE_VALUE;
        _retired.push_back(std::move(p_watch));
    }

    std::vector<std::unique_ptr<TreeWatch>> _watches;
    // Watches whose reads were cancelled and may not have completed yet.
    std::vector<std::unique_ptr<TreeWatch>> _retired;
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
#elif defined(_WIN32)
    // A handle asks for no access to the content, so it never stands in anybody's way; it
    // gives what a path alone does not: the file's identity (a file renamed over another is
    // another file) and its status change time.
    const std::wstring path = Platform::Widen(p_hostPath.c_str());
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
    signature.size = static_cast<std::int64_t>((std::uint64_t(information.nFileSizeHigh) << 32) |
                                               information.nFileSizeLow);
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

std::unique_ptr<WatchNotifier> WatchNotifier::Create(bool p_native, std::chrono::milliseconds p_interval)
{
#ifdef __linux__
    if (p_native) {
        const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (descriptor >= 0)
            return std::unique_ptr<WatchNotifier>(new InotifyNotifier(descriptor));
    }
#elif defined(_WIN32)
    if (p_native)
        return std::unique_ptr<WatchNotifier>(new DirectoryChangeNotifier);
#else
    (void)p_native;
#endif
    return std::unique_ptr<WatchNotifier>(new PollingNotifier(p_interval));
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
