// AssetWatcher: which assets of a library changed since the host last asked (hot reload).
//
// The host names paths of the merged tree to watch (a file, or a directory with everything
// below it) and calls Poll when it likes, say once a frame. Poll reports every path whose
// answer from the library changed since the last Poll: a file that appeared, changed or went,
// or that another volume serves now (a file in a directory of higher priority shadowing an
// archive entry, or its removal un-shadowing it). Mounts and unmounts are seen at the next
// Poll, so files below a directory mounted after the watcher was made are reported too. Only
// files are reported, never directories on their own.
//
// Archives. A mounted archive whose file is gone from the disk serves nothing to the watcher:
// its paths are reported Removed, or SourceChanged to the volume that serves them without it
// (the archive stays mounted until the host unmounts it; a file that comes back is read
// again). An archive changed on disk is, by default, reported as MayHaveChanged for every file
// it serves: the mounted volume keeps serving the directory it read at mount, and the host
// remounts to see the new one. With RemountArchives, Poll remounts a changed archive itself
// (AssetLibrary::Remount, with the mount lines logged) and reports the change entry by entry
// from the new directory, as a library built afresh would answer: Created, Removed, Modified
// (an entry whose sizes, CRC-32 or method changed) and SourceChanged. An archive that cannot
// be read when Poll sees it (half written, say) is reported like a deleted one until it can.
//
// Poll never waits and starts no thread. With native notification (inotify on Linux,
// ReadDirectoryChangesW on Windows) it reads the notices queued since the last call and
// rescans only the paths they name, so a Poll with nothing changed costs one system call (on
// Windows one per 64 watched trees). When the system's queue overflowed, Poll reports each
// watched path as MayHaveChanged and rescans all of them, reporting what it finds changed as
// well. Without native notification (other platforms, Polling asked for, or the system's
// watch limit reached) Poll rescans everything once per polling interval and does nothing in
// between.
//
// Unlike the rest of the library, a watcher keeps resources between calls, released by the
// destructor: its watches on the library's inotify descriptor (one per library, shared with
// the library's other watchers and kept directory indexes, and closed with the last of them;
// each is told every change of the directories it watches, whichever of them read the notice
// first), or on Windows a handle of each watched mounted directory and of each mounted
// archive's directory (the directories below those stay free to be renamed and deleted, the
// ones above them do not). A watcher keeps its library
// alive, reads it in Poll and Watch only, and is used from one thread at a time; a host that
// mounts from another thread serialises that against Poll, as against any call on the library.
#pragma once

#include <Assets/AssetLibrary.h>
#include <Assets/Export.h>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <chrono>
#include <memory>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API AssetWatcher : private boost::noncopyable {
public:
    enum Notification {
        Native, // the platform's notification where it has one that starts, else Polling
        Polling // a full rescan once per polling interval
    };

    struct Change {
        enum Kind {
            Created,
            Modified,
            Removed,
            SourceChanged, // the same path, now served by another volume
            MayHaveChanged // notices were lost: anything at or below path may have changed
        };
        Kind kind = Modified;
        AssetPath path;
        // The source of the volume that serves path now and the priority it was mounted
        // with; empty and 0 for Removed and MayHaveChanged.
        AssetPath source;
        unsigned int priority = 0;
    };

    // What Poll does with a mounted archive rebuilt on disk (see Archives above).
    enum ArchiveChanges {
        KeepMountedArchives, // report its files as MayHaveChanged; the host remounts
        RemountArchives      // remount it, and report its entries' changes
    };

    explicit AssetWatcher(boost::shared_ptr<const AssetLibrary> p_library, Notification p_notification = Native,
                          std::chrono::milliseconds p_pollingInterval = std::chrono::milliseconds(250));
    // With RemountArchives the watcher changes the library (remounts only; its mount table
    // stays the host's): for hosts that mount from this one place, serialised against Poll.
    AssetWatcher(boost::shared_ptr<AssetLibrary> p_library, ArchiveChanges p_archives,
                 Notification p_notification = Native,
                 std::chrono::milliseconds p_pollingInterval = std::chrono::milliseconds(250));
    ~AssetWatcher();

    // Watches p_path and everything below it (the empty path: the whole tree). The path need
    // not exist yet. Its present state is the baseline: nothing is reported for it until it
    // changes.
    void Watch(const AssetPath& p_path);

    // The changes since the last Poll (or since Watch), in path order within each rescan.
    std::vector<Change> Poll();

    // The kind in words, as the command-line program prints it: "created", "modified",
    // "removed", "source changed", "may have changed".
    static const char* KindName(Change::Kind p_kind);

    // True while native notification is in use.
    bool IsNative() const;
    // The number of files below the watched paths, as of the last Poll or Watch.
    std::size_t WatchedFiles() const;

private:
    struct ASSETS_LOCAL State;

    std::unique_ptr<State> _state;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
