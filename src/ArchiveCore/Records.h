// The three ZIP records this library reads and writes, each with one list of its fields in file
// order that both its decoding and its encoding walk, so that the reader and the writer cannot
// drift (and a list whose widths do not add up to the record's size does not compile):
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

// What every record does with its field list (Record::Fields hands its fields, in file order,
// to one call of the walk): decoding and encoding take each field by its width.
struct RecordFields {
    template <class Record>
    static bool DecodeFrom(Record& p_record, const char* p_bytes)
    {
        const unsigned char* at = reinterpret_cast<const unsigned char*>(p_bytes);
        Record::Fields(p_record, [&](auto&... p_fields) { (Decode(at, p_fields), ...); });
        return p_record.Valid();
    }

    template <class Record>
    static void EncodeTo(const Record& p_record, std::string& p_out)
    {
        Record::Fields(p_record, [&](const auto&... p_fields) { (Encode(p_out, p_fields), ...); });
    }

    template <class Record>
    static constexpr std::size_t Width()
    {
        std::size_t width = 0;
        const Record record{};
        Record::Fields(record, [&](const auto&... p_fields) { width = (sizeof p_fields + ...); });
        return width;
    }

private:
    static void Decode(const unsigned char*& p_at, std::uint16_t& p_field)
    {
        p_field = DecodeFixed16(p_at);
        p_at += 2;
    }
    static void Decode(const unsigned char*& p_at, std::uint32_t& p_field)
    {
        p_field = DecodeFixed32(p_at);
        p_at += 4;
    }
    static void Encode(std::string& p_out, std::uint16_t p_field) { EncodeFixed16(p_out, p_field); }
    static void Encode(std::string& p_out, std::uint32_t p_field) { EncodeFixed32(p_out, p_field); }
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

    template <class Self, class Walk>
    static constexpr void Fields(Self& p_self, Walk p_walk)
    {
        p_walk(p_self.signature, p_self.diskNumber, p_self.centralDirectoryDisk, p_self.entriesOnDisk,
               p_self.entriesTotal, p_self.centralDirectorySize, p_self.centralDirectoryOffset, p_self.commentLength);
    }

    bool Valid() const { return signature == Signature; }
    bool DecodeFrom(const char* p_bytes) { return RecordFields::DecodeFrom(*this, p_bytes); }
    void EncodeTo(std::string& p_out) const { RecordFields::EncodeTo(*this, p_out); }
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

    template <class Self, class Walk>
    static constexpr void Fields(Self& p_self, Walk p_walk)
    {
        p_walk(p_self.signature, p_self.versionMadeBy, p_self.versionNeeded, p_self.flags, p_self.method, p_self.time,
               p_self.date, p_self.crc32, p_self.compressedSize, p_self.uncompressedSize, p_self.fileNameLength,
               p_self.extraFieldLength, p_self.fileCommentLength, p_self.diskNumberStart, p_self.internalAttributes,
               p_self.externalAttributes, p_self.localHeaderOffset);
    }

    bool Valid() const { return signature == Signature; }
    bool DecodeFrom(const char* p_bytes) { return RecordFields::DecodeFrom(*this, p_bytes); }
    void EncodeTo(std::string& p_out) const { RecordFields::EncodeTo(*this, p_out); }
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

    template <class Self, class Walk>
    static constexpr void Fields(Self& p_self, Walk p_walk)
    {
        p_walk(p_self.signature, p_self.versionNeeded, p_self.flags, p_self.method, p_self.time, p_self.date,
               p_self.crc32, p_self.compressedSize, p_self.uncompressedSize, p_self.fileNameLength,
               p_self.extraFieldLength);
    }

    bool Valid() const { return signature == Signature; }
    bool DecodeFrom(const char* p_bytes) { return RecordFields::DecodeFrom(*this, p_bytes); }
    void EncodeTo(std::string& p_out) const { RecordFields::EncodeTo(*this, p_out); }
};

static_assert(RecordFields::Width<EndRecord>() == EndRecord::Size, "the end record's fields");
static_assert(RecordFields::Width<CentralHeader>() == CentralHeader::Size, "the central header's fields");
static_assert(RecordFields::Width<LocalHeader>() == LocalHeader::Size, "the local header's fields");

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
