// The watcher's private state: a snapshot of the watched files of a library (who serves each,
// and the signature of what it serves), the mount table as last seen, and the mounted archives'
// files. Kept up to date by AssetWatcher.cpp (mounts, archives, notices) and
// AssetWatcherScan.cpp (rescans and the comparison that reports).
#pragma once

#include <Assets/AssetWatcher.h>

#include "WatchNotifier.h"

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

// One watched file as the library serves it.
struct WatchedFile {
    AssetPath source;
    unsigned int priority;
    // A directory volume's file: the file's own signature. An archive entry: EntrySignature.
    FileSignature signature;
};

// What tells a changed archive entry from an unchanged one across two directories of the
// archive: its sizes, CRC-32 and method, in the fields of a file's signature.
inline FileSignature EntrySignature(const ArchiveVolume::ListedEntry& p_entry)
{
    FileSignature signature;
    signature.kind = FileSignature::Regular;
    signature.size = static_cast<std::int64_t>(p_entry.uncompressedSize);
    signature.modified = p_entry.crc32;
    signature.changed = static_cast<std::int64_t>(p_entry.compressedSize);
    signature.file = p_entry.method;
    return signature;
}

using Snapshot = std::map<AssetPath, WatchedFile>;
// Paths of the tree that notices named, each with the sources of the volumes that place the
// named host file there.
using Named = std::map<AssetPath, std::set<AssetPath>>;

AssetPath ParentOf(const AssetPath& p_path);
AssetWatcher::Change MakeChange(AssetWatcher::Change::Kind p_kind, const AssetPath& p_path,
                                const WatchedFile* p_file = nullptr);

struct AssetWatcher::State {
    boost::shared_ptr<const AssetLibrary> library;
    // The same library, when Poll remounts changed archives.
    boost::shared_ptr<AssetLibrary> remounting;
    std::chrono::milliseconds interval;
    std::unique_ptr<WatchNotifier> notifier;

    // The mount table as of revision, by source.
    unsigned long long revision = 0;
    std::map<AssetPath, AssetLibrary::MountedVolume> mounts;
    // The signatures of the mounted archive files, by their host text (the source's).
    std::unordered_map<std::string, FileSignature> archives;
    // Mounted archives that serve nothing now: gone from the disk, or (when remounting) not
    // readable. Every lookup leaves them out.
    std::set<AssetPath> skipped;

    // Watched paths, none below another.
    std::vector<AssetPath> roots;
    Snapshot files;
    // Changes found by Watch, handed out by the next Poll.
    std::vector<Change> pending;
    // Notices may have been missed without an overflow (the notifier was replaced).
    bool rescanDue = false;
    std::vector<std::string> notices;

    // ---- Mount table and archives (AssetWatcher.cpp) -----------------------------------
    void RefreshMounts();
    void WatchHost(const std::string& p_directory);
    void WatchBacking(const AssetPath& p_path);
    void WatchAncestors(const AssetPath& p_path);
    // Looks at the archives p_names (host texts): those whose file changed since last seen (or
    // all of them with p_force) are remounted, skipped or marked. Adds to p_paths the watched
    // paths to rescan, and to p_uncertain the archives whose files may have changed.
    void CheckArchives(const std::set<std::string>& p_names, bool p_force, std::set<AssetPath>& p_paths,
                       std::set<AssetPath>& p_uncertain);
    // Reports MayHaveChanged for every watched file that an archive of p_uncertain serves.
    void ReportUncertain(const std::set<AssetPath>& p_uncertain, std::vector<Change>& p_changes) const;
    // The watched paths at or below p_path, or p_path itself when a watched path lies above it.
    void AddWatched(const AssetPath& p_path, std::set<AssetPath>& p_paths) const;

    // ---- Notices (AssetWatcher.cpp) ------------------------------------------------------
    void Affected(const std::string& p_host, std::set<AssetPath>& p_paths, Named& p_named,
                  std::set<std::string>& p_archives);
    void ApplyNotices(std::vector<Change>& p_changes);
    void RescanAll(std::vector<Change>& p_changes);

    // ---- Scanning (AssetWatcherScan.cpp) -------------------------------------------------
    FileSignature SignatureFor(const AssetLibrary::Child& p_child) const;
    void Collect(const AssetLibrary::Child& p_child, Snapshot& p_into);
    void CollectDirectory(const AssetPath& p_directory, Snapshot& p_into);
    void Rescan(const std::set<AssetPath>& p_paths, std::vector<Change>& p_changes, const Named& p_named = Named());
    bool BehindAFile(const AssetPath& p_path) const;
    bool ResolveFile(const AssetPath& p_path, Snapshot& p_into) const;
    void Replace(const AssetPath& p_path, Snapshot& p_found, std::vector<Change>& p_changes,
                 const std::set<AssetPath>* p_touched);
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
