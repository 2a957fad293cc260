// WatchNotifier: the platform's word on changes below host directories, for AssetWatcher.
//
// The only platform-specific part of watching. A native notifier (inotify on Linux,
// ReadDirectoryChangesW on Windows) is read, never waited on; every other platform gets the
// polling notifier, which only tells the watcher when a full rescan is due. File signatures
// (what tells a changed file from an unchanged one) come from here too.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

// What a stat of one host file says about its content; equal signatures mean no change seen.
struct FileSignature {
    // Other: anything else that is there (a device, a link to nothing).
    enum Kind { Absent, Regular, Directory, Other };
    Kind kind = Absent;
    std::int64_t size = 0;
    std::int64_t modified = 0; // in the platform's finest unit (nanoseconds, 100 ns ticks)
    std::int64_t changed = 0;  // status change time, 0 where the platform has none
    std::uint64_t file = 0;    // inode (or 0)
    std::uint64_t device = 0;

    bool operator==(const FileSignature& p_other) const;
    bool operator!=(const FileSignature& p_other) const { return !(*this == p_other); }
};

FileSignature SignatureOf(const std::string& p_hostPath);

class WatchNotifier {
public:
    enum Outcome {
        Quiet,    // nothing to do
        Changed,  // the host paths handed out changed (a watched directory, or an entry of one)
        Overflow, // notices were lost: rescan everything (the paths handed out count too)
        Rescan    // polling: a full rescan is due
    };

    // A native notifier when p_native and the platform has one that starts, else polling
    // every p_interval.
    static std::unique_ptr<WatchNotifier> Create(bool p_native, std::chrono::milliseconds p_interval);
    virtual ~WatchNotifier();

    virtual bool Native() const = 0;
    // Asks for notices about p_directory and its direct entries (a notifier may see more: what
    // lies below too); a path that is no directory is skipped. False when the platform refuses
    // a directory that exists (a watch limit, a file system without notices): then this
    // notifier can no longer be trusted and the caller falls back to polling.
    virtual bool WatchDirectory(const std::string& p_directory) = 0;
    // True when a watch on p_directory is in place (WatchDirectory may skip a directory it
    // cannot watch and still answer true).
    virtual bool Watching(const std::string& p_directory) const;
    // True when this notifier's notices tell every change below p_directory: a local file
    // system (a remote one tells only what this machine did). False where that cannot be told.
    virtual bool Complete(const std::string& p_directory) const;
    // Forgets every watched directory.
    virtual void Clear() = 0;
    // Appends the host paths changed since the last call. Never waits.
    virtual Outcome Take(std::vector<std::string>& p_paths) = 0;
};

// A notifier whose notices are queued before the call that made the change returns, so that
// reading them tells the disk as it is now (inotify), and that watches directory by directory:
// what the shared notifier of a library (NotifierHub) needs to serve several consumers.
class ImmediateNotifier : public WatchNotifier {
public:
    // As Take, with beside each path handed out the watched directory (as WatchDirectory was
    // given it) whose notice named the path: p_directories[i] for p_paths[i]. Appends to
    // p_dropped the directories no longer watched because of these notices (gone, or moved:
    // a watch follows its directory, so its old name is forgotten).
    virtual Outcome TakeFrom(std::vector<std::string>& p_paths, std::vector<std::string>& p_directories,
                             std::vector<std::string>& p_dropped) = 0;
    // Forgets p_directory alone, as Clear forgets all; a watch another path shares stays.
    virtual void Unwatch(const std::string& p_directory) = 0;
};

// Null on other platforms (the notices of ReadDirectoryChangesW arrive when they arrive) and
// when it does not start.
std::unique_ptr<ImmediateNotifier> CreateImmediateNotifier();

// The native notifiers, each built on its own system only (Create chooses): inotify (null
// when the kernel refuses a descriptor), and ReadDirectoryChangesW.
std::unique_ptr<ImmediateNotifier> CreateInotifyNotifier();
std::unique_ptr<WatchNotifier> CreateDirectoryChangeNotifier();

} // namespace Assets
} // namespace Draxel
} // namespace Qor
