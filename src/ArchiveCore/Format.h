// The archive core's constants: the little-endian coding of fixed-width fields, the flags,
// methods and limits of the ZIP format as this library reads and writes it, the key trailer
// and CRC-32. The three records are in Records.h, the scramble key and its stream in
// KeyStream.h, the rules on names in Names.h; docs/ARCHIVE_FORMAT.md describes the format.
//
//   [local header 30 | name | extra | data] ...   one per entry, found through the directory
//   [central header 46 | name | extra | comment] ... the central directory
//   [end of central directory 22]                 exactly the last 22 bytes of the ZIP data
//   [key 32]                                      only in a scrambled archive that carries
//                                                 its key; stored as is, not scrambled
//
// All numbers are unsigned little-endian; offsets count from the archive's first byte. The
// archive volume, the writer, the diagnostics and draxel-assets all take the layout from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
    return static_cast<std::uint64_t>(DecodeFixed32(p_bytes)) |
           (static_cast<std::uint64_t>(DecodeFixed32(p_bytes + 4)) << 32);
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

// Whether the external attributes hold a Unix mode (one that is not all zero).
inline bool HoldsUnixMode(std::uint16_t p_madeBy, std::uint32_t p_externalAttributes)
{
    const std::uint16_t system = static_cast<std::uint16_t>(p_madeBy >> 8);
    const bool unixMode =
        system == MadeByUnixSystem || system == MadeByMacSystem || (p_externalAttributes & UnixModeMarker) != 0;
    return unixMode && (p_externalAttributes >> 16) != 0;
}

// Whether the external attributes hold a Unix mode, and that mode says symbolic link.
inline bool IsSymbolicLink(std::uint16_t p_madeBy, std::uint32_t p_externalAttributes)
{
    return HoldsUnixMode(p_madeBy, p_externalAttributes) &&
           ((p_externalAttributes >> 16) & UnixTypeMask) == UnixTypeLink;
}

// ---- Limits of the 32-bit format --------------------------------------------------------

constexpr std::size_t MaxEntries = 0xffff;
constexpr std::size_t MaxNameLength = 0xffff;
constexpr std::uint64_t MaxOffset = 0xffffffffu;

// ---- The key trailer ---------------------------------------------------------------------

// An archive that carries its own key holds exactly this many key bytes at its very end.
constexpr std::size_t KeyTrailerLength = 32;

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
