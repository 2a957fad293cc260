// The archive volume's private state: what the walk over the central directory recorded,
// shared by the volume's source (the walk and Open) and its listing. Nothing outside the
// archive volume includes this header.
#pragma once

#include "ArchiveCore/KeyStream.h"
#include "ArchiveDirectory.h"
#include "PathText.h"
#include "Platform.h"

#include <Assets/ArchiveVolume.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace Archive {
class FileSource;
} // namespace Archive

struct ArchiveVolume::State {
    Archive::Directory directory; // with the folders the names imply
    bool scrambled = false;
    Zip::ScrambleKey key; // given, or read from the archive's trailer by the walk
    std::string archiveData;
    std::string target; // the mount point's text, which every Resolve cuts off
    // The archive file the directory was read from; Open reads only from that same file.
    Platform::FileIdentity identity;
    bool identified = false;

    // Resolve on texts: the part of p_path below the mount point, or p_path whole when the
    // mount point is no parent of it.
    std::string_view Resolve(std::string_view p_path) const { return PathText::RelativeTo(p_path, target); }

    // The listing's one way into the directory: calls p_visit(path, entry) for each element
    // from the first path not less than p_first, in path order, until p_visit returns false.
    // The entry seen has the record's fields name, file and isDirectory.
    template <class Visit>
    void VisitFrom(std::string_view p_first, Visit p_visit) const
    {
        struct Listed {
            std::string name;
            const std::optional<Archive::FileInfo>& file;
            bool isDirectory;
        };
        for (std::size_t index = directory.LowerBound(p_first); index < directory.size(); ++index) {
            const Archive::Entry& entry = directory[index];
            const std::string path(directory.Path(entry));
            if (!p_visit(path, Listed{directory.Name(entry), entry.file, entry.isDirectory}))
                return;
        }
    }

    // Where an entry's data begins in the archive, and how many bytes its local header claims.
    struct EntryData {
        std::streamoff offset;
        std::size_t claimed;
    };

    // The walk over the central directory, and Open's reading of one entry; both in the
    // volume's source, over a StreamSource or a FileSource.
    template <class Source>
    void ParseArchive(Source& p_source);
    template <class Source>
    boost::shared_ptr<std::istream> ReadEntry(Source& p_archive, const Archive::FileInfo& p_file,
                                              OpenMode p_mode) const;
    // Open's checks from the source to the local header, in its order: the entry's data, or
    // nothing after a check that guards a use. Throws std::out_of_range for a claim of 0 bytes.
    // Defined for StreamSource and FileSource.
    template <class Source>
    std::optional<EntryData> LocateEntry(Source& p_archive, const Archive::FileInfo& p_file) const;
    // Whether p_archive, opened afresh and prefetched at p_file's local header, is still the
    // file the directory was read from; reported, naming p_source, when it is another one.
    bool StillTheArchive(const Archive::FileSource& p_archive, const Archive::FileInfo& p_file,
                         const AssetPath& p_source) const;
    // The key an entry's data is unscrambled with: none unless the archive is scrambled.
    const Zip::ScrambleKey* DataKey() const { return scrambled ? &key : nullptr; }
    // Read's steps after the directory: the entry's bytes, as Open would show them, into the
    // caller's memory (ArchiveVolumeRead.cpp).
    template <class Source>
    std::optional<std::uint64_t> ReadEntryInto(Source& p_archive, const Archive::FileInfo& p_file, OpenMode p_mode,
                                               char* p_buffer, std::size_t p_capacity) const;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
