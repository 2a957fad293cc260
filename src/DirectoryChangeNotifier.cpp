// The Windows notifier behind AssetWatcher: ReadDirectoryChangesW on one directory handle per
// watched tree, its reads completed without waiting (GetOverlappedResult in Take).
#include "WatchNotifier.h"

#include "Platform.h"

#ifdef _WIN32

// windows.h, with NOMINMAX and WIN32_LEAN_AND_MEAN
#include <WideText.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

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
        watch->handle = ::CreateFileW(widetext::Widen(p_directory).c_str(), FILE_LIST_DIRECTORY,
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
        return ::ReadDirectoryChangesW(p_watch.handle, p_watch.notices.get(), NoticeBytes, TRUE, WatchFilter, nullptr,
                                       &p_watch.overlapped, nullptr) != FALSE;
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
            std::string name = widetext::Narrow(notice->FileName, notice->FileNameLength / sizeof(WCHAR));
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

} // namespace

std::unique_ptr<WatchNotifier> CreateDirectoryChangeNotifier()
{
    return std::unique_ptr<WatchNotifier>(new DirectoryChangeNotifier);
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor

#endif
