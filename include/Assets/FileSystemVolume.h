// FileSystemVolume: one directory on disk served under one mount point.
//
// An asset path is resolved by cutting the mount point off and joining the rest onto the
// source directory. Nothing is cached and nothing is checked at construction: every Exists
// asks the file system afresh and every Open opens the file anew. Text mode turns CR LF into
// LF while reading; Binary hands the bytes over unchanged.
//
// Paths stay inside the directory: an asset path may come from a level file, a mod or a save
// game, and must never read the user's other files. A path whose part below the mount point
// has a ".." component (on Windows also a drive letter, a UNC prefix or a ':') is never
// resolved, wherever the component stands and whether or not it would lead back inside:
// Exists is false, Open fails as for a missing file (reported, a stream that is not good)
// without touching the disk, and Children lists nothing. Symbolic links inside the directory
// are the user's own layout and are followed, wherever they lead.
#pragma once

#include <Assets/Export.h>
#include <Assets/Listing.h>
#include <Assets/Volume.h>

#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API FileSystemVolume : public AssetVolume {
public:
    FileSystemVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority);
    ~FileSystemVolume() override;

    // A stand-alone volume over p_source, mounted at the root with priority 0.
    static boost::shared_ptr<Volume> Open(const qorfile::filepath& p_source);

    bool Exists(const AssetPath& p_path) const override;
    // Reports a mode other than Text or Binary (and opens as Text), and a file that cannot be
    // opened, a directory included (and hands back the failed stream).
    boost::shared_ptr<std::istream> Open(const AssetPath& p_path, OpenMode p_mode) const override;
    // Open's checks, then the file's bytes: in Binary mode read by position straight into
    // p_buffer (Size asks the file's length), in Text mode through the stream Open would make.
    std::optional<std::uint64_t> Size(const AssetPath& p_path, OpenMode p_mode) const override;
    std::optional<std::uint64_t> Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                      std::size_t p_capacity) const override;

    // ---- Listing -----------------------------------------------------------------------
    // The direct children of p_directory (a path of the tree, resolved as Exists resolves
    // it), read from the disk afresh, in byte order of their names: a directory on disk is a
    // directory, anything else a file. Empty when p_directory names no directory.
    std::vector<ListedChild> Children(const AssetPath& p_directory) const;

protected:
    // The disk's answer (the indexed directory volume answers from its index where it can).
    ASSETS_LOCAL Found Find(const AssetPath& p_path) const override;
    // The host path of p_path into p_resolved; false, leaving it alone, for a path that
    // could leave the directory.
    ASSETS_LOCAL bool Resolve(const AssetPath& p_path, AssetPath& p_resolved) const;

private:
    ASSETS_LOCAL boost::shared_ptr<std::istream> OpenFound(const Found& p_found, OpenMode p_mode) const override;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
