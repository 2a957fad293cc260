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
//
// Beside them, the two fields that date an entry: the MS-DOS date and time of both headers
// and the extended timestamp extra field.
#pragma once

#include "Format.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
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

// The MS-DOS date and time of the local and central headers: a local time in 2-second steps,
// date = (year - 1980) << 9 | month << 5 | day, time = hour << 11 | minute << 5 | second / 2.
// 1980-01-01 00:00:00 is what a writer stores for an entry it gives no time.
constexpr std::uint16_t DosFirstDate = (1 << 5) | 1;
constexpr std::uint16_t DosFirstTime = 0;

// The fields of a broken-down local time, held to the years the fields hold (1980 to 2107).
inline void EncodeDosTime(const std::tm& p_local, std::uint16_t& p_date, std::uint16_t& p_time)
{
    const int year = p_local.tm_year + 1900;
    if (year < 1980) {
        p_date = DosFirstDate;
        p_time = DosFirstTime;
        return;
    }
    if (year > 2107) {
        p_date = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
        p_time = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
        return;
    }
    p_date = static_cast<std::uint16_t>(((year - 1980) << 9) | ((p_local.tm_mon + 1) << 5) | p_local.tm_mday);
    p_time = static_cast<std::uint16_t>((p_local.tm_hour << 11) | (p_local.tm_min << 5) | (p_local.tm_sec / 2));
}

// The broken-down local time of the fields, daylight saving time left for mktime to tell.
inline std::tm DecodeDosTime(std::uint16_t p_date, std::uint16_t p_time)
{
    std::tm local{};
    local.tm_year = 80 + (p_date >> 9);
    local.tm_mon = ((p_date >> 5) & 0x0f) - 1;
    local.tm_mday = p_date & 0x1f;
    local.tm_hour = p_time >> 11;
    local.tm_min = (p_time >> 5) & 0x3f;
    local.tm_sec = (p_time & 0x1f) * 2;
    local.tm_isdst = -1;
    return local;
}

// The extended timestamp extra field ("UT", 0x5455): a flags byte (bit 0: a modification time
// follows; bits 1 and 2: access and creation times, in the local header only) and each time as
// signed 32-bit seconds since 1970-01-01 00:00 UTC. This library writes the modification time
// alone, the same 9 bytes in the local header and the central directory.
struct ExtendedTimestamp {
    static constexpr std::uint16_t Tag = 0x5455;
    static constexpr unsigned char HasModified = 1;
    static constexpr std::size_t Size = 9;

    std::int64_t modified = 0;

    // Whether the field can hold the time (1901-12-13 to 2038-01-19).
    static bool Holds(std::int64_t p_seconds) { return p_seconds >= INT32_MIN && p_seconds <= INT32_MAX; }

    void EncodeTo(std::string& p_out) const
    {
        EncodeFixed16(p_out, Tag);
        EncodeFixed16(p_out, static_cast<std::uint16_t>(Size - 4));
        p_out += static_cast<char>(HasModified);
        EncodeFixed32(p_out, static_cast<std::uint32_t>(static_cast<std::int32_t>(modified)));
    }

    // Looks for the field with a modification time among the extra fields p_extra holds (tag,
    // length, data, one after another); false when there is none or the block is cut short.
    bool FindIn(const char* p_extra, std::size_t p_length)
    {
        const unsigned char* at = reinterpret_cast<const unsigned char*>(p_extra);
        while (p_length >= 4) {
            const std::uint16_t tag = DecodeFixed16(at);
            const std::size_t length = DecodeFixed16(at + 2);
            if (length > p_length - 4)
                return false;
            if (tag == Tag && length >= 5 && (at[4] & HasModified)) {
                modified = static_cast<std::int32_t>(DecodeFixed32(at + 5));
                return true;
            }
            at += 4 + length;
            p_length -= 4 + length;
        }
        return false;
    }
};

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
