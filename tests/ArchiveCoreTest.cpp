// The archive core: the key stream's index rule, the records' layout both ways, the entry
// reader's chunks (unscrambled, folded, counted), and the writer and the volume agreeing on every byte of an archive that
// passes the 2 GiB mark.
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/ArchiveWriter.h>

#include "ArchiveCore/KeyStream.h"
#include "ArchiveCore/EntryReader.h"
#include "ArchiveCore/Format.h"
#include "ArchiveCore/Names.h"
#include "ArchiveCore/Records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <streambuf>
#include <string>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

// A key whose every byte tells its index.
std::string IndexKey(std::size_t p_length)
{
    std::string key;
    for (std::size_t i = 0; i < p_length; ++i)
        key += static_cast<char>(i + 1);
    return key;
}

// The key index the first byte of a run at p_runStart meets: XOR it onto a zero.
std::size_t StartIndex(const Zip::ScrambleKey& p_key, std::int64_t p_runStart)
{
    char byte = 0;
    p_key.RunAt(p_runStart).Xor(&byte, 1);
    return static_cast<unsigned char>(byte) - 1u;
}

} // namespace

// Positions count as a stream's tellg cut to 32 bits: signed, so from 2 GiB on they are
// negative, and the index is the least non-negative remainder.
TEST(KeyStreamTest, RunsStartAtTheIndexOfTheirSigned32BitPosition)
{
    const std::int64_t TwoGiB = std::int64_t(1) << 31, FourGiB = std::int64_t(1) << 32;
    struct Case {
        std::size_t keyLength;
        std::int64_t runStart;
        std::size_t index;
    } cases[] = {
        {3, 0, 0},
        {3, 7, 1},
        {3, TwoGiB - 1, 1}, // 2147483647 mod 3
        {3, TwoGiB, 1},     // -2147483648 mod 3, where offset mod 3 would say 2
        {3, TwoGiB + 1, 2},
        {3, FourGiB - 1, 2}, // -1
        {3, FourGiB, 0},     // cut to 0
        {3, -1, 2},          // a failed stream's position
        {5, FourGiB + 7, 2},
        {7, TwoGiB + 101, 1}, // (-2147483547) mod 7, where offset mod 7 would say 5
        {32, TwoGiB + 5, 5},  // a length that divides 2^32 agrees with offset mod 32
        {64, FourGiB - 64 + 63, 63},
        {1, TwoGiB + 12345, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StartIndex(Zip::ScrambleKey(IndexKey(c.keyLength)), c.runStart), c.index)
            << "key length " << c.keyLength << ", run at " << c.runStart;
}

// A run continues from its start index byte by byte, whether it is XORed in one go, in
// chunks, or partly skipped, and across the repeated key's pattern.
TEST(KeyStreamTest, RunContinuesAcrossChunksSkipsAndThePattern)
{
    std::mt19937 random(24);
    for (std::size_t keyLength : {1u, 3u, 7u, 32u, 61u, 5000u}) {
        std::string keyText;
        for (std::size_t i = 0; i < keyLength; ++i)
            keyText += static_cast<char>(random());
        const Zip::ScrambleKey key(keyText);
        const std::int64_t start = (std::int64_t(1) << 31) - 5000 + static_cast<std::int64_t>(random() % 10000);
        std::string whole(20000, '\0');
        key.RunAt(start).Xor(&whole[0], whole.size());
        // The key as the run's first key bytes show it: rotated by the start index.
        std::size_t first = 0;
        while (first < keyLength && (keyText + keyText).compare(first, keyLength, whole, 0, keyLength) != 0)
            ++first;
        ASSERT_LT(first, keyLength);
        for (std::size_t i = 0; i < whole.size(); ++i)
            ASSERT_EQ(whole[i], keyText[(first + i) % keyLength]) << "key length " << keyLength << ", byte " << i;

        std::string chunked(whole.size(), '\0');
        Zip::KeyStream stream = key.RunAt(start);
        for (std::size_t done = 0; done < chunked.size();) {
            const std::size_t count = std::min<std::size_t>(1 + random() % 700, chunked.size() - done);
            if (random() % 4 == 0) {
                stream.Skip(count);
                chunked.replace(done, count, whole, done, count);
            } else {
                stream.Xor(&chunked[done], count);
            }
            done += count;
        }
        EXPECT_EQ(chunked, whole) << "key length " << keyLength;
    }
    std::string bytes = "unchanged";
    Zip::ScrambleKey().RunAt(12).Xor(&bytes[0], bytes.size());
    EXPECT_EQ(bytes, "unchanged");
}

namespace {

// A field of a record as it lies in the file: its offset, its width in bytes, and its value.
struct Field {
    std::size_t offset;
    std::size_t width;
    std::uint32_t value;
};

// p_record encodes to its signature and p_fields at their offsets, and decodes back from those
// bytes to a record that encodes the same again.
template <class Record>
void ExpectLayout(const Record& p_record, const char* p_signature, std::initializer_list<Field> p_fields)
{
    std::string bytes;
    p_record.EncodeTo(bytes);
    ASSERT_EQ(bytes.size(), Record::Size);
    EXPECT_EQ(bytes.substr(0, 4), std::string(p_signature, 4));
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (const Field& field : p_fields)
        EXPECT_EQ(field.width == 2 ? Zip::DecodeFixed16(data + field.offset) : Zip::DecodeFixed32(data + field.offset),
                  field.value)
            << "at offset " << field.offset;
    Record back;
    EXPECT_TRUE(back.DecodeFrom(bytes.data()));
    std::string again;
    back.EncodeTo(again);
    EXPECT_EQ(again, bytes);
    // Zeros, what a reader holds of a record it could not read, are no record.
    EXPECT_FALSE(Record().DecodeFrom(std::string(Record::Size, '\0').data()));
}

} // namespace

// Each field lands at its offset in the file, and decoding gives back what was encoded.
TEST(RecordsTest, FieldsEncodeAtTheirOffsetsAndDecodeBack)
{
    Zip::EndRecord end;
    end.entriesOnDisk = 0x1234;
    end.entriesTotal = 0x1235;
    end.centralDirectorySize = 0x01020304;
    end.centralDirectoryOffset = 0x90a0b0c0;
    end.commentLength = 7;
    ExpectLayout(end, "PK\x05\x06",
                 {{8, 2, 0x1234}, {10, 2, 0x1235}, {12, 4, 0x01020304}, {16, 4, 0x90a0b0c0}, {20, 2, 7}});

    Zip::CentralHeader central;
    central.versionMadeBy = 0x0314;
    central.flags = 0x0801;
    central.method = 8;
    central.crc32 = 0xdeadbeef;
    central.compressedSize = 11;
    central.uncompressedSize = 22;
    central.fileNameLength = 3;
    central.extraFieldLength = 4;
    central.fileCommentLength = 5;
    central.externalAttributes = 0x81a40000;
    central.localHeaderOffset = 0xfedcba98;
    ExpectLayout(central, "PK\x01\x02",
                 {{4, 2, 0x0314},
                  {8, 2, 0x0801},
                  {10, 2, 8},
                  {16, 4, 0xdeadbeef},
                  {20, 4, 11},
                  {24, 4, 22},
                  {28, 2, 3},
                  {30, 2, 4},
                  {32, 2, 5},
                  {38, 4, 0x81a40000},
                  {42, 4, 0xfedcba98}});

    Zip::LocalHeader local;
    local.flags = 0x0008;
    local.method = 12;
    local.crc32 = 0x01234567;
    local.compressedSize = 0x11111111;
    local.uncompressedSize = 0x22222222;
    local.fileNameLength = 9;
    local.extraFieldLength = 10;
    ExpectLayout(local, "PK\x03\x04",
                 {{6, 2, 0x0008},
                  {8, 2, 12},
                  {14, 4, 0x01234567},
                  {18, 4, 0x11111111},
                  {22, 4, 0x22222222},
                  {26, 2, 9},
                  {28, 2, 10}});
}

// The one loop over an entry's data: in any chunk size, with or without a key (and runs that
// start past 2 GiB), each chunk is unscrambled as the whole run would be, text mode folds every
// CR LF to LF left to right while a lone CR stays (a CR at a chunk's end waits for the next
// chunk's first byte), the CRC-32 is of the bytes as stored, and a source that ends early ends
// the reading with what it gave.
TEST(EntryReaderTest, ChunkedReadsAsTheWholeRunAndFold)
{
    const auto fold = [](std::string p_text) {
        for (std::size_t at = p_text.find("\r\n"); at != std::string::npos; at = p_text.find("\r\n", at + 1))
            p_text.erase(at, 1);
        return p_text;
    };
    std::mt19937 random(4);
    std::vector<std::string> texts = {"", "\r", "\r\r\n", "a\r\nb\rc\r\n", "\n\r", "\r\n\r\n\r"};
    for (int i = 0; i < 400; ++i) {
        std::string text(random() % 40, 'a');
        for (char& byte : text)
            byte = "\r\nab"[random() % 4];
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        const std::string key = random() % 3 == 0 ? std::string() : IndexKey(1 + random() % 9);
        const Zip::ScrambleKey scramble(key);
        const std::int64_t offset = random() % 2 ? random() % 1000 : (std::int64_t(1) << 31) - 20 + random() % 40;
        std::string stored = text;
        scramble.RunAt(offset).Xor(&stored[0], stored.size());
        const bool asText = random() % 2 == 0;
        // Cut short by the source now and then: the reading shows what came.
        const std::size_t given = random() % 5 == 0 ? random() % (text.size() + 1) : text.size();
        const std::size_t chunk = random() % 4 == 0 ? std::max<std::size_t>(1, text.size()) : 1 + random() % 7;
        const std::string context = "text of " + std::to_string(text.size()) + " bytes, chunk " +
                                    std::to_string(chunk) + ", key " + std::to_string(key.size()) + ", given " +
                                    std::to_string(given) + (asText ? ", text mode" : "");

        std::size_t next = 0;
        std::string buffer(chunk + 1, '\0'), shown;
        const Zip::EntryRead read = Zip::EntryReader(key.empty() ? nullptr : &scramble, offset, text.size())
                                        .Text(asText)
                                        .CountCrc(true)
                                        .Read(
                                            [&](char* p_bytes, std::size_t p_count) {
                                                const std::size_t count = std::min(p_count, given - next);
                                                std::memcpy(p_bytes, stored.data() + next, count);
                                                next += count;
                                                return count;
                                            },
                                            &buffer[0], chunk,
                                            [&](const char* p_bytes, std::size_t p_count) {
                                                EXPECT_LE(p_count, chunk + 1) << context;
                                                shown.append(p_bytes, p_count);
                                                return true;
                                            });
        const std::string expected = asText ? fold(text.substr(0, given)) : text.substr(0, given);
        EXPECT_EQ(shown, expected) << context;
        EXPECT_EQ(read.shown, expected.size()) << context;
        EXPECT_EQ(read.stored, given) << context;
        EXPECT_EQ(read.ended, given < text.size()) << context;
        EXPECT_EQ(read.crc32, Zip::Crc32(0, text.data(), given)) << context;
    }
}

// A sink that says stop is handed nothing more.
TEST(EntryReaderTest, StopsWhenTheSinkSaysSo)
{
    const std::string data(100, 'x');
    std::size_t next = 0, calls = 0;
    char buffer[11];
    const Zip::EntryRead read = Zip::EntryReader(nullptr, 0, data.size())
                                    .Read(
                                        [&](char* p_bytes, std::size_t p_count) {
                                            std::memcpy(p_bytes, data.data() + next, p_count);
                                            next += p_count;
                                            return p_count;
                                        },
                                        buffer, 10, [&](const char*, std::size_t) { return ++calls < 3; });
    EXPECT_EQ(calls, 3u);
    EXPECT_EQ(read.stored, 30u);
    EXPECT_FALSE(read.ended);
}

// The UTF-8 rule the writer's flag, the diagnostics' NotUtf8 and draxel-assets' printable names
// share: the length of the sequence at a position, 0 where no well-formed one starts, at the
// edges of each form (overlong, surrogate, past U+10FFFF, cut short by the text's end).
TEST(NamesTest, Utf8SequencesAtTheEdgesOfEachForm)
{
    const struct {
        std::string text;
        std::size_t length;
    } cases[] = {
        {"a", 1},
        {std::string(1, '\0'), 1},
        {"\x7f", 1},
        {"\x80", 0},
        {"\xc1\xbf", 0},
        {"\xc2\x80", 2},
        {"\xdf\xbf", 2},
        {"\xc2", 0},
        {"\xc2\x41", 0},
        {"\xe0\x9f\xbf", 0},
        {"\xe0\xa0\x80", 3},
        {"\xed\x9f\xbf", 3},
        {"\xed\xa0\x80", 0},
        {"\xef\xbf\xbf", 3},
        {"\xe2\x82", 0},
        {"\xf0\x8f\xbf\xbf", 0},
        {"\xf0\x90\x80\x80", 4},
        {"\xf4\x8f\xbf\xbf", 4},
        {"\xf4\x90\x80\x80", 0},
        {"\xf5\x80\x80\x80", 0},
        {"\xf8\x88\x80\x80", 0},
        {"\xff", 0},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(Zip::Utf8SequenceLength(entry.text, 0), entry.length) << ::testing::PrintToString(entry.text);
        // Behind a well-formed prefix the same bytes give the same length, and a text is UTF-8
        // exactly when the sequence takes all of it.
        const std::string behind = "\xc3\xa9" + entry.text;
        EXPECT_EQ(Zip::Utf8SequenceLength(behind, 2), entry.length) << ::testing::PrintToString(entry.text);
        EXPECT_EQ(Zip::IsUtf8(behind), entry.length == entry.text.size()) << ::testing::PrintToString(entry.text);
    }
    EXPECT_TRUE(Zip::IsUtf8(""));
}

namespace {

// An output file that skips the bytes in [from, to): they stay a hole, which costs no disk.
class HoleFile : public std::streambuf {
public:
    HoleFile(const std::string& p_path, std::uint64_t p_from, std::uint64_t p_to)
        : _file(std::filesystem::u8path(p_path), std::ios::binary | std::ios::trunc | std::ios::out), _from(p_from),
          _to(p_to)
    {
    }
    bool good() const { return _file.good(); }

protected:
    std::streamsize xsputn(const char* p_bytes, std::streamsize p_count) override
    {
        for (std::streamsize done = 0; done < p_count;) {
            const std::uint64_t at = _position;
            std::uint64_t count = static_cast<std::uint64_t>(p_count - done);
            if (at < _from)
                count = std::min(count, _from - at);
            else if (at < _to)
                count = std::min(count, _to - at);
            if (at < _from || at >= _to) {
                _file.seekp(static_cast<std::streamoff>(at));
                _file.write(p_bytes + done, static_cast<std::streamsize>(count));
            }
            _position += count;
            done += static_cast<std::streamsize>(count);
        }
        return _file ? p_count : 0;
    }
    int_type overflow(int_type p_char) override
    {
        if (traits_type::eq_int_type(p_char, traits_type::eof()))
            return traits_type::not_eof(p_char);
        const char byte = traits_type::to_char_type(p_char);
        return xsputn(&byte, 1) == 1 ? p_char : traits_type::eof();
    }
    int sync() override { return _file.flush() ? 0 : -1; }

private:
    std::ofstream _file;
    std::uint64_t _position = 0;
    std::uint64_t _from, _to;
};

} // namespace

// An archive that passes 2 GiB, packed with keys of lengths that do not divide 2^32, mounts
// and reads back: the records, names and data behind the mark are scrambled in the runs the
// reader unscrambles. The big entry's scrambled bytes are not written out but left a hole; a
// local header straddles the 2 GiB mark.
TEST(ArchiveWriterTest, ArchivePastTwoGiBReadsBackWithAnyKeyLength)
{
    ScratchDir dir;
    const std::string before = "written before the mark";
    const std::string name = "big";
    // The big entry ends 10 bytes before 2 GiB, so that the next local header straddles it.
    const std::uint64_t bigOffset = Zip::LocalHeader::Size + 6 + before.size() + Zip::LocalHeader::Size + name.size();
    const std::uint64_t bigSize = (std::uint64_t(1) << 31) - 10 - bigOffset;
    // The big entry is zeros, made as the writer asks for them: no file to read.
    const std::vector<char> zeros(std::size_t(1) << 20, '\0');
    const std::uint32_t zerosCrc = Zip::Crc32(0, zeros.data(), zeros.size());
    std::uint32_t bigCrc = 0;
    for (std::uint64_t done = 0; done < bigSize; done += zeros.size()) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), bigSize - done));
        bigCrc = count == zeros.size() ? static_cast<std::uint32_t>(crc32_combine(bigCrc, zerosCrc, count))
                                       : Zip::Crc32(bigCrc, zeros.data(), count);
    }
    const auto produceBig = [&](const ArchiveWriter::Sink& p_sink) {
        for (std::uint64_t done = 0; done < bigSize; done += zeros.size())
            p_sink(zeros.data(), static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), bigSize - done)));
    };

    std::mt19937 random(std::random_device{}());
    std::vector<std::size_t> lengths = {3};
    while (lengths.size() < 3) {
        const std::size_t length = 1 + random() % 64;
        if ((length & (length - 1)) != 0 && length != 3)
            lengths.push_back(length);
    }
    for (const std::size_t length : lengths) {
        std::string key;
        for (std::size_t i = 0; i < length; ++i)
            key += static_cast<char>(random());
        const std::string archive = dir / ("past-2GiB-" + std::to_string(length) + ".pak");
        {
            HoleFile file(archive, bigOffset + 4096, bigOffset + bigSize - 4096);
            std::ostream out(&file);
            ArchiveWriter writer(out, key);
            writer.AddBytes("before", before);
            writer.AddStream(name, bigSize, bigCrc, produceBig);
            writer.AddBytes("after/straddle", "the local header straddles 2 GiB\r\n");
            writer.AddDirectory("after/dir");
            for (int i = 0; i < 5; ++i)
                writer.AddBytes("after/" + std::to_string(i), std::string(1 + i * 37, static_cast<char>('a' + i)));
            writer.Finish();
            ASSERT_TRUE(out.good() && file.good());
        }
        EnsureRecorder recorder;
        auto volume = ArchiveVolume::Open(qorfile::filepath(archive), key);
        EXPECT_EQ(recorder.messages(), std::vector<std::string>()) << "key length " << length;
        for (const char* present : {"before", "big", "after", "after/straddle", "after/dir", "after/4"})
            EXPECT_TRUE(volume->Exists(P(present))) << present << ", key length " << length;
        EXPECT_EQ(ReadAsset(volume, "before"), before) << "key length " << length;
        EXPECT_EQ(ReadAsset(volume, "after/straddle", Volume::Text), "the local header straddles 2 GiB\n")
            << "key length " << length;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(ReadAsset(volume, "after/" + std::to_string(i)),
                      std::string(1 + i * 37, static_cast<char>('a' + i)))
                << "key length " << length;
        EXPECT_EQ(recorder.messages(), std::vector<std::string>()) << "key length " << length;
    }
}
