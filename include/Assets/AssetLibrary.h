// AssetLibrary: the mount table of the virtual asset tree.
//
// Directories and ZIP archives are mounted at a mount point with a priority. Exists and Open
// ask the volumes from the highest priority number down and, within one priority, in the
// byte order of their source paths; the first volume whose mount point lies above the asked
// path and that has the asset answers. A mount point, and every directory above one, exists;
// Open of such a path alone gives an empty pointer. An empty file opens as an empty stream,
// whether it lies in a directory or in an archive.
//
// Ownership: the library owns its volumes and never hands them out. It lives behind the
// pointer Create returns; views made by RelativeTo keep it alive. Streams from Open own their
// bytes and may outlive the library. Mounting and unmounting are not synchronised: a host
// that shares one library between threads serialises them against every other call.
#pragma once

#include <Assets/ArchiveVolume.h>
#include <Assets/Export.h>
#include <Assets/Volume.h>

#include <boost/enable_shared_from_this.hpp>
#include <boost/make_shared.hpp>
#include <boost/noncopyable.hpp>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API AssetLibrary : public Volume,
                                public boost::enable_shared_from_this<AssetLibrary>,
                                private boost::noncopyable {
public:
    static boost::shared_ptr<AssetLibrary> Create();
    ~AssetLibrary() override;

    // Reports a missing directory or a source mounted already (then mounts all the same if
    // the ensure handler returns).
    void MountDirectory(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority);

    // How a mounted directory answers whether something exists there and what a directory
    // holds (Exists, Open's choice of volume, Locate, Children).
    //   Live: the disk is asked at every call.
    //   Kept: from an index of the directory's tree, read at mount and kept current from the
    //   platform's notices; before every answer the notices queued so far are applied
    //   (without waiting), so that the answer is what the disk says at the moment of the
    //   call, as Live gives it, the ".." refusal included. Open and the reads still open the
    //   file on disk. The directory is watched through the library's one notifier (one
    //   inotify descriptor, shared by its kept mounts and its native AssetWatchers, open
    //   while any of them lives).
    //   Where notices cannot promise that, the disk is asked as Live does: on hosts other
    //   than Linux (on Windows the notices of ReadDirectoryChangesW arrive after the change
    //   returns, so the disk answers, with the file system's own case rule), for a source
    //   given by a relative path, on a remote or user-space file system (NFS, SMB, FUSE...),
    //   once the watch limit is reached or the mounted directory itself is moved or removed,
    //   and, for their part of the tree, below a symbolic link, a directory of another file
    //   system, a directory that cannot be watched or listed, a file that cannot be opened
    //   or is no regular file. When notices were lost (a full queue) the tree is read again
    //   before the next answer. Changes made by another machine to a local disk it shares
    //   are not seen.
    enum class DirectoryIndex { Live, Kept };
    // As MountDirectory, with the answers taken as p_index says; same reports and log lines.
    void MountDirectory(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority,
                        DirectoryIndex p_index);
    // As MountDirectory, for a ZIP archive file; the archive's directory is read now and
    // p_key is handed to the archive volume. An exception while reading leaves the source
    // unmounted.
    void MountArchive(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority,
                      const std::string& p_key);
    // Reports a source that is not mounted (and does nothing if the ensure handler returns).
    void Unmount(const qorfile::filepath& p_source);
    // Mounts p_source anew with the mount point, priority and key it was mounted with, and logs
    // the three lines of a mount: an archive rebuilt on disk is read again. Reports a source
    // that is not mounted, and one that cannot be read now (a directory that is gone; an
    // archive that is gone, cut short or no archive): the volume mounted before then stays, as
    // it does when reading the new archive raises an exception (which passes to the caller).
    void Remount(const qorfile::filepath& p_source);
    // Grows with every mount and unmount: equal numbers mean an unchanged mount table, so a
    // watcher tells a remount without listing the table.
    unsigned long long MountRevision() const;

    bool Exists(const AssetPath& p_path) const override;
    // Empty when no volume has the asset.
    boost::shared_ptr<std::istream> Open(const AssetPath& p_path, OpenMode p_mode) const override;
    // Those of the volume Open would ask; nothing when no volume has the asset.
    std::optional<std::uint64_t> Size(const AssetPath& p_path, OpenMode p_mode) const override;
    std::optional<std::uint64_t> Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                      std::size_t p_capacity) const override;

    // The streams Open would hand out for each of p_paths, in their order: each from the
    // volume Open would ask, with the same bytes, the same checks reported in the same order
    // and the same exception where one Open after the other would throw. Each archive is
    // opened once for the batch and read in the order its entries lie, neighbours in one read.
    std::vector<boost::shared_ptr<std::istream>> OpenBatch(const std::vector<AssetPath>& p_paths,
                                                           OpenMode p_mode) const;

    // Where a path of the merged tree comes from: the one lookup behind Exists, Open and
    // Children, by their search order.
    struct Location {
        enum Kind { Absent, Directory, File };
        // File exactly when Open(path) hands out a file's bytes; Directory for everything else
        // that Exists(path) affirms; Absent when Exists denies it.
        Kind kind = Absent;
        // The winner, as for Child: for a file the volume that Open reads, for a directory the
        // first volume that has it (a volume mounted at or below it counts). Empty and 0 for
        // Absent.
        AssetPath source;
        unsigned int priority = 0;
        bool isArchive = false;
        // For a file of a directory volume: the file on disk.
        std::string hostPath;
        // For a file of an archive volume: its element of the archive's directory, the one
        // Open reads.
        ArchiveVolume::ListedEntry entry;
    };
    Location Locate(const AssetPath& p_path) const;

    // A view of this library below p_path: asking it about a path asks the library about
    // p_path joined with that path. The view keeps the library alive and sees later mounts.
    boost::shared_ptr<Volume> RelativeTo(const AssetPath& p_path) const;

    // ---- Listing -----------------------------------------------------------------------

    // One mounted volume, as the mount table records it.
    struct MountedVolume {
        // The source: the normalised text of the directory or archive file, which tells mounts
        // apart.
        AssetPath source;
        AssetPath target;
        unsigned int priority = 0;
        bool isArchive = false;
    };

    // The mounted volumes in search order: priorities from the highest number down, sources
    // in byte order within one priority.
    std::vector<MountedVolume> Mounts() const;

    // One direct child of a directory of the merged tree.
    struct Child {
        // The last component, and the whole path (the directory joined with the name).
        std::string name;
        AssetPath path;
        // False exactly when Open(path) hands out a file's bytes; true for everything else
        // that Exists(path) affirms: a directory on disk or in an archive, a folder implied by
        // archive names, a mount point or a directory above one.
        bool isDirectory = false;
        // The volume that wins the child by the search order of Exists and Open: for a file
        // the volume that Open reads, for a directory the first volume that has it (a volume
        // mounted below it counts). Its source and the priority it was mounted with.
        AssetPath source;
        unsigned int priority = 0;
    };

    // The direct children of p_directory across all volumes, each name once, in byte order
    // of the names. A volume mounted at or above p_directory contributes its own children
    // (a directory volume reads its directory on disk, an archive volume its directory read
    // at mount); a volume mounted below p_directory contributes the first component of its
    // mount point, as a directory. A listing never disagrees with Exists and Open: every
    // child exists, and a child that is not a directory opens.
    std::vector<Child> Children(const AssetPath& p_directory) const;

private:
    struct ASSETS_LOCAL State;

    // The watcher asks as if the sources in p_skipped (archives gone from the disk) were not
    // mounted, and remounts archives rebuilt on disk itself.
    friend class AssetWatcher;
    ASSETS_LOCAL Location Locate(const AssetPath& p_path, const std::set<AssetPath>* p_skipped) const;
    ASSETS_LOCAL std::vector<Child> Children(const AssetPath& p_directory, const std::set<AssetPath>* p_skipped) const;
    enum class RemountResult { Remounted, NotMounted, Unreadable };
    // Remount of a source by its normalised text, without a report; logs the mount lines with
    // p_logged, or the source as it was mounted when that is null.
    ASSETS_LOCAL RemountResult Remount(const AssetPath& p_source, const qorfile::filepath* p_logged);

    ASSETS_LOCAL AssetLibrary();

    template <class T, class... Args>
    friend typename boost::detail::sp_if_not_array<T>::type boost::make_shared(Args&&... args);

    std::unique_ptr<State> _state;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
