// Volume: anything that answers, for an AssetPath, whether something exists there and a stream
// over its bytes. AssetVolume: the base of the mountable volumes (a source, a mount point and
// a priority, fixed at construction).
//
// Ownership: a stream returned by Open owns whatever it reads from (a file, or the bytes of an
// archive entry) and may outlive the volume that made it. Volumes are shared through
// boost::shared_ptr<Volume> and cannot be copied.
#pragma once

#include <Assets/AssetPath.h>
#include <Assets/Export.h>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API Volume {
public:
    enum OpenMode { Text = 0, Binary = 1 };

    virtual ~Volume();
    // True when a file or a directory exists at p_path. Never reports and never throws: an
    // answer that cannot be had is false.
    virtual bool Exists(const AssetPath& p_path) const = 0;
    // A stream positioned at the start of the asset's bytes, owned by the returned pointer.
    //
    // Failure: Open is meant for paths that Exists affirms. Otherwise the failed precondition
    // goes to the logger's ensure (whose default handler throws qordebug::ensure_failure), and
    // when a host's handler returns, the result depends on the volume: a directory volume
    // hands out the stream it opened, failed (good() is false); an archive volume hands out
    // an empty pointer. Callers test both: `if (stream && stream->good())`.
    virtual boost::shared_ptr<std::istream> Open(const AssetPath& p_path, OpenMode p_mode) const = 0;

    // Beside Open, for callers that bring their own memory. Both report and throw as Open
    // does, in Open's order, and give nothing where Open would hand out no stream or a failed
    // one. A volume without a read of its own reads the stream of its Open.
    //
    // The count of bytes Open(p_path, p_mode) would hand out. In Text mode that is after the
    // line ends are folded, which takes reading the asset.
    virtual std::optional<std::uint64_t> Size(const AssetPath& p_path, OpenMode p_mode) const;
    // The bytes Open(p_path, p_mode) would hand out, read into p_buffer instead of memory of a
    // stream's own: the first p_capacity of them at most (p_buffer may be null when p_capacity
    // is 0). The result counts all of them, as Size does: above p_capacity, the asset was cut.
    virtual std::optional<std::uint64_t> Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                              std::size_t p_capacity) const;
};

class ASSETS_API AssetVolume : private boost::noncopyable, public Volume {
public:
    ~AssetVolume() override;

protected:
    AssetVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority);

    // Where the content comes from (a directory or an archive file, as normalised host text).
    const AssetPath _source;
    // The mount point in the virtual tree; the empty path is the root.
    const AssetPath _target;
    // The priority the volume was made with; the mount table keeps its own record.
    const unsigned int _priority;

    // What the volume holds at a path of the tree (mount point included), found once: the
    // mount table's Exists, Open, listing and lookup all start from this one probe, and Open
    // then reads what was found without looking the path up again.
    struct Found {
        enum Kind { Absent, Directory, File };
        Kind kind = Absent;
        // The volume's own handle on a file it found (an archive's directory element), valid
        // while the volume lives.
        const void* entry = nullptr;
        // The file or directory on disk, for a volume over a directory; empty otherwise.
        std::string hostPath;
    };

private:
    // Exists is Find's kind other than Absent; Open of a File is OpenFound.
    virtual Found Find(const AssetPath& p_path) const = 0;
    virtual boost::shared_ptr<std::istream> OpenFound(const Found& p_found, OpenMode p_mode) const = 0;

    // The mount table reads the mount point of its volumes and asks them through Find.
    friend class AssetLibrary;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
