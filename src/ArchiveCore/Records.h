// The three ZIP records this library reads and writes, each with its decoding and its encoding
// side by side, field by field in file order, so that the reader and the writer cannot drift:
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
// A central header is followed by its name, extra field and comment; a local header by its
// name, extra field and the data. DecodeFrom takes exactly Size bytes, already unscrambled;
// a record decoded from zeros (what a reader that could not read it holds) is not Valid().
// A record made for writing starts with its signature and zero in every other field.
#pragma once

#include "Format.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Zip {

// Reads fixed-width fields one after another.
class FieldDecoder {
public:
    explicit FieldDecoder(const char* p_bytes) : _at(reinterpret_cast<const unsigned char*>(p_bytes)) {}
    std::uint16_t U16()
    {
        const std::uint16_t value = DecodeFixed16(_at);
        _at += 2;
        return value;
    }
    std::uint32_t U32()
    {
        const std::uint32_t value = DecodeFixed32(_at);
        _at += 4;
        return value;
    }

private:
    const unsigned char* _at;
};

struct EndRecord {
    static constexpr std::uint32_t Signature = 0x06054b50;
    static constexpr std::size_t Size = 22;

    std::uint32_t signature = Signature;
    std::uint16_t diskNumber = 0;
    std::uint16_t centralDirectoryDisk = 0;
    std::uint16_t entriesOnDisk = 0;
    std::uint16_t entriesTotal = 0;
    std::uint32_t centralDirectorySize = 0;
    std::uint32_t centralDirectoryOffset = 0;
    std::uint16_t commentLength = 0;

    bool Valid() const { return signature == Signature; }

    bool DecodeFrom(const char* p_bytes)
    {
        FieldDecoder in(p_bytes);
        signature = in.U32();
        diskNumber = in.U16();
        centralDirectoryDisk = in.U16();
        entriesOnDisk = in.U16();
        entriesTotal = in.U16();
        centralDirectorySize = in.U32();
        centralDirectoryOffset = in.U32();
        commentLength = in.U16();
        return Valid();
    }

    void EncodeTo(std::string& p_out) const
    {
        EncodeFixed32(p_out, signature);
        EncodeFixed16(p_out, diskNumber);
        EncodeFixed16(p_out, centralDirectoryDisk);
        EncodeFixed16(p_out, entriesOnDisk);
        EncodeFixed16(p_out, entriesTotal);
        EncodeFixed32(p_out, centralDirectorySize);
        EncodeFixed32(p_out, centralDirectoryOffset);
        EncodeFixed16(p_out, commentLength);
    }
};

struct CentralHeader {
    static constexpr std::uint32_t Signature = 0x02014b50;
    static constexpr std::size_t Size = 46;

    std::uint32_t signature = Signature;
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t fileNameLength = 0;
    std::uint16_t extraFieldLength = 0;
    std::uint16_t fileCommentLength = 0;
    std::uint16_t diskNumberStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;

    bool Valid() const { return signature == Signature; }

    bool DecodeFrom(const char* p_bytes)
    {
        FieldDecoder in(p_bytes);
        signature = in.U32();
        versionMadeBy = in.U16();
        versionNeeded = in.U16();
        flags = in.U16();
        method = in.U16();
        time = in.U16();
        date = in.U16();
        crc32 = in.U32();
        compressedSize = in.U32();
        uncompressedSize = in.U32();
        fileNameLength = in.U16();
        extraFieldLength = in.U16();
        fileCommentLength = in.U16();
        diskNumberStart = in.U16();
        internalAttributes = in.U16();
        externalAttributes = in.U32();
        localHeaderOffset = in.U32();
        return Valid();
    }

    void EncodeTo(std::string& p_out) const
    {
        EncodeFixed32(p_out, signature);
        EncodeFixed16(p_out, versionMadeBy);
        EncodeFixed16(p_out, versionNeeded);
        EncodeFixed16(p_out, flags);
        EncodeFixed16(p_out, method);
        EncodeFixed16(p_out, time);
        EncodeFixed16(p_out, date);
        EncodeFixed32(p_out, crc32);
        EncodeFixed32(p_out, compressedSize);
        EncodeFixed32(p_out, uncompressedSize);
        EncodeFixed16(p_out, fileNameLength);
        EncodeFixed16(p_out, extraFieldLength);
        EncodeFixed16(p_out, fileCommentLength);
        EncodeFixed16(p_out, diskNumberStart);
        EncodeFixed16(p_out, internalAttributes);
        EncodeFixed32(p_out, externalAttributes);
        EncodeFixed32(p_out, localHeaderOffset);
    }
};

struct LocalHeader {
    static constexpr std::uint32_t Signature = 0x04034b50;
    static constexpr std::size_t Size = 30;

    std::uint32_t signature = Signature;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t fileNameLength = 0;
    std::uint16_t extraFieldLength = 0;

    bool Valid() const { return signature == Signature; }

    bool DecodeFrom(const char* p_bytes)
    {
        FieldDecoder in(p_bytes);
        signature = in.U32();
        versionNeeded = in.U16();
        flags = in.U16();
        method = in.U16();
        time = in.U16();
        date = in.U16();
        crc32 = in.U32();
        compressedSize = in.U32();
        uncompressedSize = in.U32();
        fileNameLength = in.U16();
        extraFieldLength = in.U16();
        return Valid();
    }

    void EncodeTo(std::string& p_out) const
    {
        EncodeFixed32(p_out, signature);
        EncodeFixed16(p_out, versionNeeded);
        EncodeFixed16(p_out, flags);
        EncodeFixed16(p_out, method);
        EncodeFixed16(p_out, time);
        EncodeFixed16(p_out, date);
        EncodeFixed32(p_out, crc32);
        EncodeFixed32(p_out, compressedSize);
        EncodeFixed32(p_out, uncompressedSize);
        EncodeFixed16(p_out, fileNameLength);
        EncodeFixed16(p_out, extraFieldLength);
    }
};

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
