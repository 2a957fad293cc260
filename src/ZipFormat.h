// The ZIP layout this library reads and writes, in one place: record signatures and sizes,
// the offset of every field that is read or written, the key trailer, the rule that decides
// whether an archive is scrambled, and the little-endian coding of fixed-width fields.
//
//   [local header 30 | name | extra | data] ...   one per entry, found through the directory
//   [central header 46 | name | extra | comment] ... the central directory
//   [end of central directory 22]                 exactly the last 22 bytes of the ZIP data
//   [key 32]                                      only in a scrambled archive that carries
//                                                 its key; stored as is, not scrambled
//
// All numbers are unsigned little-endian; offsets count from the archive's first byte. The
// archive volume, the writer, the inspection and draxel-assets all take the layout from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <zlib.h>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Zip {

// ---- Fixed-width fields: encode and decode side by side ---------------------------------

inline std::uint16_t DecodeFixed16(const unsigned char* p_bytes)
{
    return static_cast<std::uint16_t>(p_bytes[0] | (p_bytes[1] << 8));
}

inline std::uint32_t DecodeFixed32(const unsigned char* p_bytes)
{
    return static_cast<std::uint32_t>(p_bytes[0]) | (static_cast<std::uint32_t>(p_bytes[1]) << 8) |
           (static_cast<std::uint32_t>(p_bytes[2]) << 16) | (static_cast<std::uint32_t>(p_bytes[3]) << 24);
}

inline std::uint64_t DecodeFixed64(const unsigned char* p_bytes)
{
    return static_cast<std::uint64_t>(DecodeFixed32(p_bytes)) | (static_cast<std::uint64_t>(DecodeFixed32(p_bytes + 4)) << 32);
}

inline void EncodeFixed16(std::string& p_out, std::uint16_t p_value)
{
    p_out += static_cast<char>(p_value & 0xff);
    p_out += static_cast<char>(p_value >> 8);
}

inline void EncodeFixed32(std::string& p_out, std::uint32_t p_value)
{
    for (int shift = 0; shift < 32; shift += 8)
        p_out += static_cast<char>((p_value >> shift) & 0xff);
}

// ---- The three records: signature, size, and the offset of each field that is used -------
//
//   end of central directory (22)     central directory header (46)     local file header (30)
//    0 signature 0x06054b50            0 signature 0x02014b50            0 signature 0x04034b50
//    4 this disk                       4 version made by                 4 version needed
//    6 disk of the central directory   6 version needed                  6 flags
//    8 entries on this disk            8 flags                           8 method
//   10 entries in all                 10 method                         10 time, 12 date
//   12 central directory size         12 time, 14 date                  14 CRC-32
//   16 central directory offset       16 CRC-32                         18 compressed size
//   20 comment length                 20 compressed size                22 uncompressed size
//                                     24 uncompressed size              26 name length
//                                     28 name length, 30 extra length   28 extra length
//                                     32 comment length, 34 disk
//                                     36 internal, 38 external attributes
//                                     42 local header offset
//
// The central header is followed by its name, extra field and comment; the local header by
// its name, extra field and the data. The reader walks "entries on this disk" headers from the
// central directory offset, and opens an entry with the local header's uncompressed size.

namespace End {
constexpr std::uint32_t Signature = 0x06054b50;
constexpr std::size_t Size = 22, EntriesOnDiskAt = 8, EntriesTotalAt = 10, CentralSizeAt = 12, CentralOffsetAt = 16,
                      CommentLengthAt = 20;
} // namespace End

namespace Central {
constexpr std::uint32_t Signature = 0x02014b50;
constexpr std::size_t Size = 46, MadeByAt = 4, FlagsAt = 8, MethodAt = 10, CrcAt = 16, CompressedSizeAt = 20,
                      UncompressedSizeAt = 24, NameLengthAt = 28, ExtraLengthAt = 30, CommentLengthAt = 32,
                      ExternalAttributesAt = 38, LocalHeaderOffsetAt = 42;
} // namespace Central

namespace Local {
constexpr std::uint32_t Signature = 0x04034b50;
constexpr std::size_t Size = 30, FlagsAt = 6, MethodAt = 8, CrcAt = 14, CompressedSizeAt = 18, UncompressedSizeAt = 22,
                      NameLengthAt = 26, ExtraLengthAt = 28;
} // namespace Local

// ---- Records this library does not read but recognises ----------------------------------

namespace Zip64 {
constexpr std::uint32_t EndSignature = 0x06064b50;
constexpr std::uint32_t LocatorSignature = 0x07064b50;
constexpr std::size_t LocatorSize = 20;
constexpr std::uint16_t ExtraTag = 0x0001;
} // namespace Zip64

constexpr std::uint32_t DataDescriptorSignature = 0x08074b50;

// ---- Flags and methods ------------------------------------------------------------------

constexpr std::uint16_t FlagEncrypted = 1u << 0;
constexpr std::uint16_t FlagDataDescriptor = 1u << 3;
constexpr std::uint16_t FlagUtf8 = 1u << 11;

constexpr std::uint16_t MethodStored = 0;
constexpr std::uint16_t MethodDeflate = 8;

// ---- External attributes ------------------------------------------------------------------
//
// The high byte of "version made by" names the system whose attributes the archive holds. A
// Unix system keeps the file's mode (type and permission bits, as st_mode) in the high 16 bits
// of the external attributes; 7-Zip does so under any system and marks it with bit 15 of the
// low half. A symbolic link's data is the path it points to.

constexpr std::uint16_t MadeByUnixSystem = 3;
constexpr std::uint16_t MadeByMacSystem = 19;
constexpr std::uint32_t UnixModeMarker = 0x8000;
constexpr std::uint32_t UnixTypeMask = 0170000, UnixTypeLink = 0120000;

// Whether the external attributes hold a Unix mode, and that mode says symbolic link.
inline bool IsSymbolicLink(std::uint16_t p_madeBy, std::uint32_t p_externalAttributes)
{
    const std::uint16_t system = static_cast<std::uint16_t>(p_madeBy >> 8);
    const bool unixMode =
        system == MadeByUnixSystem || system == MadeByMacSystem || (p_externalAttributes & UnixModeMarker) != 0;
    return unixMode && ((p_externalAttributes >> 16) & UnixTypeMask) == UnixTypeLink;
}

// ---- Limits of the 32-bit format --------------------------------------------------------

constexpr std::size_t MaxEntries = 0xffff;
constexpr std::size_t MaxNameLength = 0xffff;
constexpr std::uint64_t MaxOffset = 0xffffffffu;

// ---- Scrambling -------------------------------------------------------------------------

// An archive that carries its own key holds exactly this many key bytes at its very end.
constexpr std::size_t KeyTrailerLength = 32;

// An archive is read scrambled unless its extension (without the dot) is exactly "zip":
// the comparison is case-sensitive, so "ZIP" is scrambled too.
constexpr std::string_view PlainExtension = "zip";
inline bool IsScrambledExtension(std::string_view p_extension)
{
    return p_extension != PlainExtension;
}

// ---- CRC-32 -----------------------------------------------------------------------------

// zlib's crc32 takes a 32-bit count: longer runs go in chunks.
inline std::uint32_t Crc32(std::uint32_t p_crc, const char* p_bytes, std::size_t p_count)
{
    while (p_count > 0) {
        const uInt chunk = static_cast<uInt>(p_count < (std::size_t(1) << 30) ? p_count : (std::size_t(1) << 30));
        p_crc = static_cast<std::uint32_t>(::crc32(p_crc, reinterpret_cast<const Bytef*>(p_bytes), chunk));
        p_bytes += chunk;
        p_count -= chunk;
    }
    return p_crc;
}

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
