// ArchiveVolume: a ZIP archive served under one mount point.
//
// The central directory is read once, at construction; Exists answers from it alone. Open
// reads one stored entry whole into memory and returns a stream that owns those bytes, so the
// stream may outlive the volume. Deflated entries are listed but cannot be opened.
//
// An archive whose extension is not exactly "zip" is scrambled: every byte is XORed with a
// key byte. Each record, name and entry's data is a run that starts at the key index of its
// offset taken as a signed 32-bit number (negative from 2 GiB on), reduced to the least
// non-negative remainder modulo the key's length, and goes on through the key from there
// (docs/ARCHIVE_FORMAT.md). Without a given key such an archive carries its key in its last
// 32 bytes. With a key and the extension "zip", records and names are unscrambled but entry
// data is handed out as stored.
//
// An archive that lies inside another volume is copied into memory once, at construction;
// the other volume is not consulted afterwards, so what it serves never changes. An archive on
// disk is opened by the constructor and by each Open, and closed again each time.
//
// A replaced archive file is never misread. The volume remembers which file it read (the
// system's identity of the file, its length and its time of last write). When the entry's
// local header no longer shows the method, CRC-32 and sizes the directory recorded, Open asks
// the file it opened whether it is that same file; another one (renamed over it, or rewritten
// in place) is read no further: Open reports "<path>: archive changed on disk since it was
// mounted" through ensure and returns an empty pointer when the handler returns. An entry that
// a new file holds unchanged at its old place is the entry listed, and still opens. Unmount
// and mount the archive again to serve the new file.
//
// Damage is reported through the logger's ensure. If a host's ensure handler returns at a
// check that guards a use, the volume skips what it cannot use and stays memory-safe: a
// nameless central entry is left out, an archive inside a volume that cannot be read leaves
// the volume empty, and Open returns an empty pointer (for a path the directory lacks, a
// directory entry, an archive that does not open or was replaced, or an invalid local
// header). At the other checks the walk and Open go on with what they read.
//
// Memory is bounded by the archive: an archive is outside data, and a local header may claim
// up to 4 GiB that the archive does not hold. A stream from Open holds the entry's bytes as
// the local header counts them, but never more than the archive holds from the entry's data
// on: where the claim reaches past the archive's end, the stream ends where the archive ends
// (holding whatever lies behind the data there, such as the central directory), and nothing
// stands for the missing bytes. A scrambled entry unscrambles only the bytes held.
//
// An empty entry opens as an empty stream, in either mode, as an empty file of a directory
// does: real archives hold empty files, and every file a listing shows must open. So does an
// entry whose data would start at or past the archive's end, of which nothing is held.
//
// No allocation of the volume is sized by a field of the archive beyond what the archive's
// length allows, so std::bad_alloc comes only from entries (or an archive inside another
// volume) that truly are that large. Several threads may Exists and Open on one volume at once.
#pragma once

#include <Assets/Export.h>
#include <Assets/Listing.h>
#include <Assets/Volume.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

struct DeferredOpen;

class ASSETS_API ArchiveVolume : public AssetVolume {
public:
    // Reads the archive file named by p_source and mounts it at p_target.
    ArchiveVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority,
                  const std::string& p_key);
    ~ArchiveVolume() override;

    // A stand-alone volume over the asset p_path of p_volume, read whole into memory now.
    // Throws std::out_of_range("invalid string position") when the asset has no bytes.
    static boost::shared_ptr<Volume> Open(const Volume& p_volume, const AssetPath& p_path, const std::string& p_key);
    // A stand-alone volume over the archive file p_source, mounted at the root.
    static boost::shared_ptr<Volume> Open(const qorfile::filepath& p_source, const std::string& p_key);

    bool Exists(const AssetPath& p_path) const override;
    // An empty stream (good, at its end on the first read) for an entry whose local header
    // records a size of 0, or of which the archive holds no byte. The stream seeks anywhere
    // in the entry and owns its bytes.
    boost::shared_ptr<std::istream> Open(const AssetPath& p_path, OpenMode p_mode) const override;
    // Open's lookup and checks, then the entry's bytes straight into the caller's memory: one
    // read of the archive for a small entry, no memory of the volume's own (except a bounded
    // scratch for a Text entry larger than p_capacity). Size reads the local header, and in
    // Text mode the entry.
    std::optional<std::uint64_t> Size(const AssetPath& p_path, OpenMode p_mode) const override;
    std::optional<std::uint64_t> Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                      std::size_t p_capacity) const override;

    // The streams Open would hand out for each of p_paths, in their order: the same bytes,
    // the same checks reported in the same order, the same exception where one Open after the
    // other would throw (the streams before it are then dropped). The archive file is opened
    // once for the batch and its entries are read in the order they lie, neighbours in one
    // read.
    std::vector<boost::shared_ptr<std::istream>> OpenBatch(const std::vector<AssetPath>& p_paths,
                                                           OpenMode p_mode) const;

    // ---- Listing -----------------------------------------------------------------------
    // Everything below answers from the directory read at construction; nothing is read from
    // the archive again.

    // One element of the directory: a distinct name of the central directory. When two
    // central names normalise to one path, the element holds the stored name of the first
    // and the file record of the last file among them, as Open sees it.
    struct ListedEntry {
        // The stored name, normalised (the path Exists and Open look up).
        AssetPath path;
        // The name as stored in the central directory, after unscrambling.
        std::string storedName;
        // The stored name ends in '/' or '\\'.
        bool isDirectory = false;
        // A file record is present; the fields below describe it (all zero when absent).
        bool isFile = false;
        // The compression method: 0 stored, 8 deflate; any other value was reported.
        std::uint16_t method = 0;
        // Bit 0 of the general-purpose flags (reported when the archive was read).
        bool encrypted = false;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        // The CRC-32 the central directory records; Open never verifies it.
        std::uint32_t crc32 = 0;
        std::uint64_t localHeaderOffset = 0;
    };

    // Every element, in AssetPath order.
    std::vector<ListedEntry> Entries() const;
    // Every folder implied by the names (each prefix of a name up to one of its slashes), in
    // AssetPath order. A folder that is also stored as a directory entry is listed here too.
    std::vector<AssetPath> Folders() const;
    // The paths of Entries and Folders are inside the archive: the mount point is not part
    // of them. Children, like Exists, takes a path of the tree, mount point included.

    // The direct children of p_directory (the mount point is the archive's root), in byte
    // order of their names; empty when p_directory holds nothing. Costs one directory search
    // per child, however deep the tree below it.
    std::vector<ListedChild> Children(const AssetPath& p_directory) const;

private:
    struct ASSETS_LOCAL State;
    friend class AssetLibrary;

    // The batch read's work for p_paths, each path's outcome kept in p_results[i] to be
    // delivered in the caller's order.
    ASSETS_LOCAL void OpenDeferred(const std::vector<const AssetPath*>& p_paths, OpenMode p_mode,
                                   DeferredOpen* p_results) const;

    ASSETS_LOCAL ArchiveVolume(const qorfile::filepath& p_source, const std::string& p_key);
    ASSETS_LOCAL ArchiveVolume(const Volume& p_volume, const AssetPath& p_path, const std::string& p_key);

    ASSETS_LOCAL Found Find(const AssetPath& p_path) const override;
    ASSETS_LOCAL boost::shared_ptr<std::istream> OpenFound(const Found& p_found, OpenMode p_mode) const override;
    // The element a Find gave, as the listing describes it (the mount table's lookup).
    ASSETS_LOCAL ListedEntry Describe(const Found& p_found) const;
    friend class AssetLibrary;

    ASSETS_LOCAL AssetPath Resolve(const AssetPath& p_path) const;
    ASSETS_LOCAL boost::shared_ptr<std::istream> OpenSourceStream() const;
    ASSETS_LOCAL void ParseArchive(std::istream& p_source);
    ASSETS_LOCAL void ParseArchive(const Volume& p_volume, const AssetPath& p_path);
    ASSETS_LOCAL void ParseArchive(const qorfile::filepath& p_source);

    std::unique_ptr<State> _state;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
