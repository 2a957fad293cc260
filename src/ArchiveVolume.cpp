// The archive volume: the ZIP subset it reads, the scramble transform, the record reader, and
// the walk over the central directory.
//
// Format (all numbers unsigned little-endian; offsets count from the archive's first byte):
//
//   [local header 30 | name | extra | data] ...   one per entry, found through the directory
//   [central header 46 | name | extra | comment] ... the central directory
//   [end of central directory 22]                 exactly the last 22 bytes of the ZIP data
//   [key 32]                                      only in a scrambled archive read without a
//                                                 given key; stored as is, not scrambled
//
// The end record is never searched for: an archive comment (or any byte behind the record)
// makes the record at that place invalid, and that is reported. Not supported: comments,
// spanned archives, ZIP64, data descriptors. Only stored entries open; the CRC is not checked.
//
// Scrambling: the byte at offset p is XORed with key[p mod key length]. Records and central
// names are unscrambled whenever a key is known; entry data only in scrambled mode (an
// extension other than exactly "zip"). Skipped bytes (extra fields, comments, the local
// copy of the name) are never unscrambled.
#include <Assets/ArchiveVolume.h>

#include "Check.h"
#include "EntryBytes.h"
#include "FileStream.h"

#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/stream.hpp>
#include <boost/make_shared.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// ---------------------------------------------------------------------------------------
// Fixed-width fields.

inline std::uint16_t DecodeFixed16(const unsigned char* p_bytes)
{
    return static_cast<std::uint16_t>(p_bytes[0] | (p_bytes[1] << 8));
}

inline std::uint32_t DecodeFixed32(const unsigned char* p_bytes)
{
    return static_cast<std::uint32_t>(p_bytes[0]) | (static_cast<std::uint32_t>(p_bytes[1]) << 8) |
           (static_cast<std::uint32_t>(p_bytes[2]) << 16) | (static_cast<std::uint32_t>(p_bytes[3]) << 24);
}

// ---------------------------------------------------------------------------------------
// Records. Each holds its bytes exactly as laid out in the file, so one read of sizeof fills
// it; fields are decoded at their offsets on demand.

template <std::size_t Size, std::uint32_t Signature>
struct ZipRecord {
    unsigned char bytes[Size];

    std::uint16_t Field16(std::size_t p_offset) const { return DecodeFixed16(bytes + p_offset); }
    std::uint32_t Field32(std::size_t p_offset) const { return DecodeFixed32(bytes + p_offset); }
    bool Valid() const { return Field32(0) == Signature; }
};

struct ZipEndOfCentralDirectory : ZipRecord<22, 0x06054b50> {
    std::uint16_t entriesOnDisk() const { return Field16(8); }
    std::uint32_t centralDirectoryOffset() const { return Field32(16); }
};

struct ZipCentralDirectoryHeader : ZipRecord<46, 0x02014b50> {
    std::uint16_t flags() const { return Field16(8); }
    std::uint16_t method() const { return Field16(10); }
    std::uint32_t crc32() const { return Field32(16); }
    std::uint32_t compressedSize() const { return Field32(20); }
    std::uint32_t uncompressedSize() const { return Field32(24); }
    std::uint16_t fileNameLength() const { return Field16(28); }
    std::uint16_t extraFieldLength() const { return Field16(30); }
    std::uint16_t fileCommentLength() const { return Field16(32); }
    std::uint32_t localHeaderOffset() const { return Field32(42); }
};

struct ZipLocalFileHeader : ZipRecord<30, 0x04034b50> {
    std::uint32_t uncompressedSize() const { return Field32(22); }
    std::uint16_t fileNameLength() const { return Field16(26); }
    std::uint16_t extraFieldLength() const { return Field16(28); }
};

static_assert(sizeof(ZipEndOfCentralDirectory) == 22, "end of central directory is 22 bytes");
static_assert(sizeof(ZipCentralDirectoryHeader) == 46, "central directory header is 46 bytes");
static_assert(sizeof(ZipLocalFileHeader) == 30, "local file header is 30 bytes");

constexpr std::streamoff KeyTrailerLength = 32;

// ---------------------------------------------------------------------------------------
// The scramble transform, its own inverse. p_position is the archive offset of p_buffer[0];
// offsets are 32-bit, taken as unsigned so that every offset below 4 GiB maps to its key byte.
// p_count is in elements of T.
//
// The work goes by runs of the key: a run of the buffer that starts at key index 0 is XORed
// with the whole key, eight bytes at a time. A short key is first repeated into a pattern of
// at least 64 bytes (a multiple of its length, so offsets map to the same key bytes).

inline void XorBytes(unsigned char* p_bytes, const unsigned char* p_key, std::size_t p_count)
{
    std::size_t i = 0;
    for (; i + 8 <= p_count; i += 8) {
        std::uint64_t word, key;
        std::memcpy(&word, p_bytes + i, 8);
        std::memcpy(&key, p_key + i, 8);
        word ^= key;
        std::memcpy(p_bytes + i, &word, 8);
    }
    for (; i < p_count; ++i)
        p_bytes[i] ^= p_key[i];
}

// p_pattern is the key repeated p_patternLength / key length times.
inline void UnscrambleRuns(unsigned char* p_bytes, std::size_t p_count, std::uint32_t p_position,
                           const unsigned char* p_pattern, std::size_t p_patternLength)
{
    std::size_t index = p_position % p_patternLength;
    while (p_count > 0) {
        const std::size_t run = std::min(p_count, p_patternLength - index);
        XorBytes(p_bytes, p_pattern + index, run);
        p_bytes += run;
        p_count -= run;
        index = 0;
    }
}

// The key repeated to at least p_least bytes, a whole number of times.
inline std::string RepeatKey(const std::string& p_key, std::size_t p_least)
{
    std::string pattern = p_key;
    while (!pattern.empty() && pattern.size() < p_least)
        pattern += pattern;
    return pattern;
}

template <class T>
void Unscramble(T* p_buffer, std::size_t p_count, std::uint32_t p_position, const std::string& p_key)
{
    const std::size_t keyLength = p_key.size();
    if (keyLength == 0)
        return;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(p_buffer);
    std::size_t count = p_count * sizeof(T);

    constexpr std::size_t ShortPattern = 64;
    unsigned char repeated[2 * ShortPattern];
    const unsigned char* pattern = reinterpret_cast<const unsigned char*>(p_key.data());
    std::size_t patternLength = keyLength;
    if (keyLength < ShortPattern) {
        patternLength = (ShortPattern + keyLength - 1) / keyLength * keyLength;
        for (std::size_t i = 0; i < patternLength; ++i)
            repeated[i] = static_cast<unsigned char>(p_key[i % keyLength]);
        pattern = repeated;
    }

    UnscrambleRuns(bytes, count, p_position, pattern, patternLength);
}

// ---------------------------------------------------------------------------------------
// The record reader. The record comes in zeroed; whatever could not be read stays zero, so a
// record that was not read fails its Valid() test at the caller.

template <class T>
struct RecordMessages;

#define ASSETS_READSTRUCT_MESSAGES(Record)                                                              \
    template <>                                                                                         \
    struct RecordMessages<Record> {                                                                     \
        static constexpr const char* Signature =                                                        \
            " - void __cdecl `anonymous-namespace'::ReadStruct<struct `anonymous-namespace'::" #Record  \
            ">(class std::basic_istream<char,struct std::char_traits<char> > &,struct "                 \
            "`anonymous-namespace'::" #Record                                                           \
            " &,const class std::basic_string<char,struct std::char_traits<char>,class "                \
            "std::allocator<char> > &)";                                                                \
        static std::string Eof() { return std::string("\"!source.eof()\"") + Signature; }             \
        static std::string Count() { return std::string("\"source.gcount() == sizeof(T)\"") + Signature; } \
    };

ASSETS_READSTRUCT_MESSAGES(ZipEndOfCentralDirectory)
ASSETS_READSTRUCT_MESSAGES(ZipCentralDirectoryHeader)
ASSETS_READSTRUCT_MESSAGES(ZipLocalFileHeader)
#undef ASSETS_READSTRUCT_MESSAGES

// The sources the walk and Open read from. Both offer the few std::istream operations they
// use -- tellg, seekg, read, gcount, eof, fail, good -- with the std::istream state rules:
//   - tellg on a stream that is not good sets failbit and gives -1;
//   - seekg first clears eofbit; on a failed stream it does nothing (failbit stays); a target
//     before the start sets failbit; a target past the end is allowed (a file stream seeks
//     there, and reads then find nothing);
//   - read on a stream that is not good sets failbit and extracts nothing; a short read sets
//     eofbit and failbit; gcount is the count extracted by the last read.
//
// StreamSource hands each operation to a std::istream (an archive inside another volume, or
// in memory). FileSource is what std::ifstream in binary mode does over an archive file, with
// positioned reads (pread) into a window that a seek does not discard, so that the central
// directory comes in one read and each Open reads its local header and small data at once.

class StreamSource {
public:
    explicit StreamSource(std::istream& p_stream) : _stream(p_stream) {}

    std::streamoff tellg() { return _stream.tellg(); }
    void seekg(std::streamoff p_offset, std::ios_base::seekdir p_direction) { _stream.seekg(p_offset, p_direction); }
    void read(char* p_bytes, std::size_t p_count) { _stream.read(p_bytes, static_cast<std::streamsize>(p_count)); }
    std::streamsize gcount() const { return _stream.gcount(); }
    bool eof() const { return _stream.eof(); }
    bool fail() const { return _stream.fail(); }
    bool good() const { return _stream.good(); }
    // The stream buffers as it pleases.
    void Prefetch(std::streamoff, std::size_t) {}

private:
    std::istream& _stream;
};

class FileSource {
public:
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Opens p_path for reading. p_measure takes the file's length, which only a seek from the
    // end needs. A directory opens as a failed stream, as OpenFileStream makes it.
    FileSource(const char* p_path, bool p_measure)
    {
        _file = ::open(p_path, O_RDONLY | O_CLOEXEC);
        if (_file < 0) {
            _fail = true;
            return;
        }
        if (p_measure) {
            struct stat info;
            if (::fstat(_file, &info) != 0 || S_ISDIR(info.st_mode))
                _fail = true;
            else
                _length = info.st_size;
            _measured = true;
        }
    }

    ~FileSource()
    {
        if (_file >= 0)
            ::close(_file);
    }

    std::streamoff tellg()
    {
        if (!good()) {
            _fail = true;
            return -1;
        }
        return _position;
    }

    void seekg(std::streamoff p_offset, std::ios_base::seekdir p_direction)
    {
        _eof = false;
        if (_fail)
            return;
        std::streamoff target = p_offset;
        if (p_direction == std::ios_base::cur)
            target += _position;
        else if (p_direction == std::ios_base::end)
            target += _length;
        if (target < 0)
            _fail = true;
        else
            _position = target;
    }

    void read(char* p_bytes, std::size_t p_count)
    {
        _gcount = 0;
        if (!good()) {
            _fail = true;
            return;
        }
        std::size_t done = 0;
        if (!InWindow(_position, p_count)) {
            if (p_count >= DirectRead)
                done = ReadAt(_position, p_bytes, p_count);
            else
                Fill(_position, std::max(p_count, _fillSize));
        }
        if (done == 0 && !_fail) {
            const std::streamoff from = _position - _windowStart;
            if (from >= 0 && from < static_cast<std::streamoff>(_windowLength))
                done = std::min(p_count, _windowLength - static_cast<std::size_t>(from));
            if (done > 0)
                std::memcpy(p_bytes, _window + from, done);
        }
        _position += static_cast<std::streamoff>(done);
        _gcount = static_cast<std::streamsize>(done);
        if (done < p_count) {
            _eof = true;
            _fail = true;
        }
    }

    std::streamsize gcount() const { return _gcount; }
    bool eof() const { return _eof; }
    bool fail() const { return _fail; }
    bool good() const { return !_eof && !_fail; }

    // The next reads will cover about p_count bytes from p_from on: read them in one go (the
    // central directory, or a local header with its data). The position does not move.
    void Prefetch(std::streamoff p_from, std::size_t p_count)
    {
        if (_fail || p_from < 0)
            return;
        if (_measured)
            p_count = std::min<std::size_t>(p_count, p_from < _length ? static_cast<std::size_t>(_length - p_from) : 0);
        p_count = std::min(p_count, MaxWindow);
        if (p_count > 0 && !InWindow(p_from, p_count))
            Fill(p_from, p_count);
    }

private:
    static constexpr std::size_t DirectRead = 64 * 1024;
    static constexpr std::size_t MaxWindow = std::size_t(64) << 20;

    bool InWindow(std::streamoff p_position, std::size_t p_count) const
    {
        return p_position >= _windowStart &&
               p_position + static_cast<std::streamoff>(p_count) <= _windowStart + static_cast<std::streamoff>(_windowLength);
    }

    // Reads up to p_count bytes at p_position; fewer at the end of the file. A read error
    // counts as the end, except that a directory fails the stream as if it had not opened.
    std::size_t ReadAt(std::streamoff p_position, char* p_bytes, std::size_t p_count)
    {
        std::size_t done = 0;
        while (done < p_count) {
            const ssize_t count = ::pread(_file, p_bytes + done, p_count - done, p_position + static_cast<off_t>(done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && errno == EISDIR)
                _fail = true;
            if (count <= 0)
                break;
            done += static_cast<std::size_t>(count);
        }
        return done;
    }

    void Fill(std::streamoff p_position, std::size_t p_count)
    {
        if (p_count > _windowCapacity) {
            _heapWindow.reset(new char[p_count]);
            _window = _heapWindow.get();
            _windowCapacity = p_count;
        }
        _windowStart = p_position;
        _windowLength = ReadAt(p_position, _window, p_count);
        // Sequential reads after this one double the window, up to a bound.
        _fillSize = std::min(MaxWindow, std::max(_fillSize * 2, p_count));
    }

    int _file = -1;
    bool _measured = false;
    std::streamoff _length = 0;
    std::streamoff _position = 0;
    std::streamsize _gcount = 0;
    bool _eof = false;
    bool _fail = false;
    // Small windows (a local header with a small entry) need no allocation.
    char _inlineWindow[8 * 1024];
    std::unique_ptr<char[]> _heapWindow;
    char* _window = _inlineWindow;
    std::size_t _windowCapacity = sizeof _inlineWindow;
    std::streamoff _windowStart = 0;
    std::size_t _windowLength = 0;
    std::size_t _fillSize = 16 * 1024;
};

template <class Source, class T>
void ReadStruct(Source& source, T& record, const std::string& key)
{
    const std::streamoff position = source.tellg();
    if (source.eof())
        Utility::GetLogger().ensure(false, RecordMessages<T>::Eof());
    source.read(reinterpret_cast<char*>(record.bytes), sizeof(T));
    if (source.gcount() != static_cast<std::streamsize>(sizeof(T)))
        Utility::GetLogger().ensure(false, RecordMessages<T>::Count());
    if (!key.empty())
        Unscramble(&record, 1, static_cast<std::uint32_t>(position), key);
}

// ---------------------------------------------------------------------------------------
// Messages of the walk and of Open.

#define ASSETS_PARSE_STREAM                                                                      \
    " - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(class std::basic_istream<char," \
    "struct std::char_traits<char> > &)"
#define ASSETS_PARSE_VOLUME                                                                      \
    " - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(const class "                \
    "Qor::Draxel::Assets::Volume &,const class Qor::Draxel::Assets::AssetPath &)"
#define ASSETS_PARSE_FILE " - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(const class qorfile::filepath &)"
#define ASSETS_OPEN                                                                                  \
    " - class boost::shared_ptr<class std::basic_istream<char,struct std::char_traits<char> > > __cdecl " \
    "Qor::Draxel::Assets::ArchiveVolume::Open(const class Qor::Draxel::Assets::AssetPath &,enum "        \
    "Qor::Draxel::Assets::Volume::OpenMode) const"

const char* const DirectoryEmptyMessage = "\"_state->directory.empty()\"" ASSETS_PARSE_STREAM;
const char* const EndRecordMessage =
    "\"endOfCentralDirectory.Valid() && \"Zip comments are not supported by this parser.\"\"" ASSETS_PARSE_STREAM;
const char* const HeaderMessage = "\"header.Valid()\"" ASSETS_PARSE_STREAM;
const char* const NameLengthMessage = "\"filenameLength > 0\"" ASSETS_PARSE_STREAM;
const char* const EncryptedMessage = "\"!encrypted && \"ERROR: Encryption not yet supported\"\"" ASSETS_PARSE_STREAM;
const char* const MethodMessage =
    "\"(!compressed || compressedUsingDeflate) && \"ERROR: Compression method unsupported\"\"" ASSETS_PARSE_STREAM;
const char* const DuplicateMessage =
    "\"!asset->second.file && \"ERROR: Duplicate file entry found in archive\"\"" ASSETS_PARSE_STREAM;
const char* const VolumeStreamMessage = "\"archive\"" ASSETS_PARSE_VOLUME;
const char* const VolumeStreamStateMessage = "\"*archive\"" ASSETS_PARSE_VOLUME;
const char* const FileStreamMessage = "\"archive\"" ASSETS_PARSE_FILE;
const char* const MissingMessage = "\"asset != _state->directory.end()\"" ASSETS_OPEN;
const char* const NoFileMessage =
    "\"asset->second.file && \"ERROR: No file associated with that path. Cannot open a directory entry as a "
    "stream.\"\"" ASSETS_OPEN;
const char* const SourceMessage = "\"archive->good()\"" ASSETS_OPEN;
const char* const LocalHeaderMessage = "\"localHeader.Valid()\"" ASSETS_OPEN;
const char* const CompressedMessage =
    "\"!asset->second.file->compressed && \"ERROR: Compression is not supported.\"\"" ASSETS_OPEN;

#undef ASSETS_PARSE_STREAM
#undef ASSETS_PARSE_VOLUME
#undef ASSETS_PARSE_FILE
#undef ASSETS_OPEN

// ---------------------------------------------------------------------------------------
// What Open hands out.

using ArraySource = boost::iostreams::basic_array_source<char>;
using ArrayStream = boost::iostreams::stream<ArraySource>;

// Deleter of a returned stream: deletes the stream, and keeps the entry's bytes alive until
// the stream is gone (the bytes go with the deleter, after the stream).
struct MemoryLifetime {
    boost::shared_ptr<EntryBytes> bytes;

    void operator()(std::istream* p_stream) const { delete p_stream; }
};

// Text mode: every CR LF becomes LF, left to right, matches not overlapping; a lone CR stays.
// Only the first p_written bytes were filled; the rest are zero (never a CR or an LF), so only
// the filled part is folded and the untouched zeros behind it simply move up.
void FoldLineEnds(EntryBytes& p_bytes, std::size_t p_written)
{
    char* begin = p_bytes.data();
    char* end = begin + p_written;
    char* read = static_cast<char*>(std::memchr(begin, '\r', p_written));
    if (!read)
        return;
    char* write = read;
    while (read < end) {
        if (read[0] == '\r' && read + 1 < end && read[1] == '\n') {
            *write++ = '\n';
            read += 2;
        } else {
            *write++ = *read++;
        }
    }
    const std::size_t removed = static_cast<std::size_t>(end - write);
    std::memset(write, 0, removed);
    p_bytes.Shrink(p_bytes.size() - removed);
}

} // namespace

// ---------------------------------------------------------------------------------------
// The volume's state.

namespace {

struct FileInfo {
    std::uint64_t localHeaderOffset;
    std::uint64_t compressedSize;
    std::uint64_t uncompressedSize;
    bool compressed;
    bool encrypted;
    // Kept for listing and checking only.
    std::uint16_t method;
    std::uint32_t crc32;
};

// One element of the directory. Its key (the normalised name) and its name as stored lie in
// the directory's text; the name is kept apart only when it differs from the key.
struct Entry {
    std::uint32_t keyOffset;
    std::uint32_t nameOffset;
    std::uint16_t keyLength;
    std::uint16_t nameLength;
    bool isDirectory;
    std::optional<FileInfo> file;
};

inline std::uint64_t MixBits(std::uint64_t p_value)
{
    p_value = (p_value ^ (p_value >> 30)) * 0xbf58476d1ce4e5b9ull;
    p_value = (p_value ^ (p_value >> 27)) * 0x94d049bb133111ebull;
    return p_value ^ (p_value >> 31);
}

inline std::uint64_t HashText(std::string_view p_text)
{
    const char* bytes = p_text.data();
    std::size_t count = p_text.size();
    std::uint64_t hash = 0x9e3779b97f4a7c15ull * (count + 1);
    for (; count >= 8; bytes += 8, count -= 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes, 8);
        hash = MixBits(hash ^ word) + 0x9e3779b97f4a7c15ull;
    }
    if (count > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes, count);
        hash = MixBits(hash ^ word);
    }
    return MixBits(hash);
}

// An open-addressing set of texts held elsewhere: each bucket holds an item number (plus one;
// 0 is empty) and a tag of the hash, which spares most comparisons of texts.
class TextIndex {
public:
    // Room for p_items without rehashing; p_textOf(item) gives an item's text.
    template <class TextOf>
    void Reserve(std::size_t p_items, const TextOf& p_textOf)
    {
        std::size_t capacity = 16;
        while (capacity < 2 * p_items)
            capacity *= 2;
        if (capacity > _buckets.size())
            Rehash(capacity, p_textOf);
    }

    // The item holding p_text, or -1.
    template <class TextOf>
    std::int64_t Find(std::string_view p_text, const TextOf& p_textOf) const
    {
        if (_buckets.empty())
            return -1;
        const std::uint64_t hash = HashText(p_text);
        const std::uint32_t tag = static_cast<std::uint32_t>(hash >> 32);
        for (std::size_t at = hash & _mask;; at = (at + 1) & _mask) {
            const Bucket& bucket = _buckets[at];
            if (bucket.item == 0)
                return -1;
            if (bucket.tag == tag && p_textOf(bucket.item - 1) == p_text)
                return bucket.item - 1;
        }
    }

    // Adds p_item under p_text, which the set does not hold yet.
    template <class TextOf>
    void Add(std::string_view p_text, std::uint32_t p_item, const TextOf& p_textOf)
    {
        if (2 * (_count + 1) > _buckets.size())
            Rehash(_buckets.empty() ? 16 : 2 * _buckets.size(), p_textOf);
        Place(HashText(p_text), p_item);
        ++_count;
    }

    // After the items were renumbered: p_number[old] is the new number.
    void Renumber(const std::vector<std::uint32_t>& p_number)
    {
        for (Bucket& bucket : _buckets) {
            if (bucket.item != 0)
                bucket.item = p_number[bucket.item - 1] + 1;
        }
    }

private:
    struct Bucket {
        std::uint32_t item;
        std::uint32_t tag;
    };

    void Place(std::uint64_t p_hash, std::uint32_t p_item)
    {
        std::size_t at = p_hash & _mask;
        while (_buckets[at].item != 0)
            at = (at + 1) & _mask;
        _buckets[at] = Bucket{p_item + 1, static_cast<std::uint32_t>(p_hash >> 32)};
    }

    template <class TextOf>
    void Rehash(std::size_t p_capacity, const TextOf& p_textOf)
    {
        std::vector<Bucket> old(p_capacity, Bucket{0, 0});
        old.swap(_buckets);
        _mask = p_capacity - 1;
        for (const Bucket& bucket : old) {
            if (bucket.item != 0)
                Place(HashText(p_textOf(bucket.item - 1)), bucket.item - 1);
        }
    }

    std::vector<Bucket> _buckets;
    std::size_t _mask = 0;
    std::size_t _count = 0;
};

// The directory: one element per distinct key, ordered by the keys' bytes (AssetPath's order),
// and the folders the keys imply, each held as a prefix of a key's text. One hash index holds
// the keys and those folders that are no keys, for exact lookups. While the walk runs,
// elements are appended in archive order; Finish sorts them and adds the folders.
class Directory {
public:
    bool empty() const { return _entries.empty(); }
    std::size_t size() const { return _entries.size(); }
    const Entry& operator[](std::size_t p_index) const { return _entries[p_index]; }

    std::string_view Key(const Entry& p_entry) const
    {
        return std::string_view(_text.data() + p_entry.keyOffset, p_entry.keyLength);
    }
    std::string Name(const Entry& p_entry) const { return std::string(_text.data() + p_entry.nameOffset, p_entry.nameLength); }

    void clear() { *this = Directory(); }

    void Reserve(std::size_t p_entries, std::size_t p_text)
    {
        _entries.reserve(p_entries);
        _text.reserve(p_text);
        _index.Reserve(p_entries, KeyOf());
    }

    // The number of the element keyed by the normalised p_name, inserted without a file when
    // there is none. Numbers hold until Finish.
    std::size_t Insert(const char* p_name, std::size_t p_length)
    {
        const std::size_t nameOffset = _text.size();
        _text.append(p_name, p_length);
        // AssetPath's normalisation: backslashes become slashes, trailing slashes go (a text
        // of slashes alone keeps one).
        char* name = &_text[nameOffset];
        std::replace(name, name + p_length, '\\', static_cast<char>(AssetPath::DirectorySeparator));
        std::size_t keyLength = p_length;
        while (keyLength > 1 && name[keyLength - 1] == AssetPath::DirectorySeparator)
            --keyLength;
        const std::string_view key(name, keyLength);

        const std::int64_t found = _index.Find(key, KeyOf());
        if (found >= 0) {
            _text.resize(nameOffset);
            return static_cast<std::size_t>(found);
        }

        _sorted = _sorted && (_entries.empty() || Key(_entries.back()) < key);
        _index.Add(key, static_cast<std::uint32_t>(_entries.size()), KeyOf());
        Entry entry{static_cast<std::uint32_t>(nameOffset), static_cast<std::uint32_t>(nameOffset),
                    static_cast<std::uint16_t>(keyLength), static_cast<std::uint16_t>(p_length), false, std::nullopt};
        if (keyLength != p_length || std::memchr(p_name, '\\', p_length)) {
            entry.nameOffset = static_cast<std::uint32_t>(_text.size());
            _text.append(p_name, p_length);
        }
        _entries.push_back(entry);
        return _entries.size() - 1;
    }
    Entry& At(std::size_t p_element) { return _entries[p_element]; }

    // Orders the elements by key and records the folders their keys imply.
    void Finish()
    {
        if (!_sorted) {
            // Keys are compared by eight bytes behind the prefix they all share, taken as one
            // big-endian number, and only on a tie by the rest of their bytes.
            std::size_t shared = Key(_entries[0]).size();
            for (const Entry& entry : _entries) {
                const std::string_view key = Key(entry);
                const std::string_view first = Key(_entries[0]);
                std::size_t same = 0;
                while (same < shared && same < key.size() && key[same] == first[same])
                    ++same;
                shared = same;
            }
            struct Sortable {
                std::uint64_t head;
                std::uint32_t item;
            };
            std::vector<Sortable> sortable(_entries.size());
            for (std::uint32_t i = 0; i < sortable.size(); ++i) {
                const std::string_view key = Key(_entries[i]);
                std::uint64_t head = 0;
                for (std::size_t at = shared; at < shared + 8; ++at)
                    head = (head << 8) | (at < key.size() ? static_cast<unsigned char>(key[at]) : 0u);
                sortable[i] = Sortable{head, i};
            }
            std::sort(sortable.begin(), sortable.end(), [this, shared](const Sortable& p_a, const Sortable& p_b) {
                if (p_a.head != p_b.head)
                    return p_a.head < p_b.head;
                return Key(_entries[p_a.item]).substr(shared) < Key(_entries[p_b.item]).substr(shared);
            });
            std::vector<std::uint32_t> order(_entries.size());
            for (std::uint32_t i = 0; i < order.size(); ++i)
                order[i] = sortable[i].item;
            std::vector<Entry> sorted;
            sorted.reserve(_entries.size());
            std::vector<std::uint32_t> number(_entries.size());
            for (std::uint32_t i = 0; i < order.size(); ++i) {
                number[order[i]] = i;
                sorted.push_back(_entries[order[i]]);
            }
            _entries.swap(sorted);
            _index.Renumber(number);
            _sorted = true;
        }
        // Each prefix of a key up to one of its slashes, normalised, is a folder. A slash that
        // lies inside the part shared with the previous key gave its folder already.
        std::string_view previous;
        for (const Entry& entry : _entries) {
            const std::string_view key = Key(entry);
            std::size_t shared = 0;
            while (shared < key.size() && shared < previous.size() && key[shared] == previous[shared])
                ++shared;
            for (std::size_t slash = key.find(AssetPath::DirectorySeparator, shared); slash != std::string_view::npos;
                 slash = key.find(AssetPath::DirectorySeparator, slash + 1)) {
                std::size_t length = slash;
                while (length > 1 && key[length - 1] == AssetPath::DirectorySeparator)
                    --length;
                const std::string_view folder(key.data(), length);
                // A folder that is a key, too, is found as the key.
                if (_index.Find(folder, KeyOf()) < 0) {
                    _folders.push_back(Folder{entry.keyOffset, static_cast<std::uint16_t>(length)});
                    _index.Add(folder, static_cast<std::uint32_t>(_entries.size() + _folders.size() - 1), KeyOf());
                }
            }
            previous = key;
        }
        _text.shrink_to_fit();
        _entries.shrink_to_fit();
    }

    const Entry* Find(std::string_view p_key) const
    {
        const std::int64_t found = _index.Find(p_key, KeyOf());
        return found < 0 || static_cast<std::size_t>(found) >= _entries.size() ? nullptr
                                                                                : &_entries[static_cast<std::size_t>(found)];
    }

    // The first element whose key is not less than p_first (size() when there is none).
    std::size_t LowerBound(std::string_view p_first) const
    {
        const auto found = std::lower_bound(_entries.begin(), _entries.end(), p_first,
                                            [this](const Entry& p_entry, std::string_view p_key) { return Key(p_entry) < p_key; });
        return static_cast<std::size_t>(found - _entries.begin());
    }

    // Whether p_path is a key or a folder: one lookup, as both share the index.
    bool Contains(std::string_view p_path) const { return _index.Find(p_path, KeyOf()) >= 0; }

private:
    struct Folder {
        std::uint32_t offset;
        std::uint16_t length;
    };


    // The text of an item of the index: an element's key, or past the elements a folder.
    struct KeyText {
        const Directory* directory;
        std::string_view operator()(std::uint32_t p_item) const
        {
            if (p_item < directory->_entries.size())
                return directory->Key(directory->_entries[p_item]);
            const Folder& folder = directory->_folders[p_item - directory->_entries.size()];
            return std::string_view(directory->_text.data() + folder.offset, folder.length);
        }
    };
    KeyText KeyOf() const { return KeyText{this}; }

    std::vector<Entry> _entries;
    std::string _text;
    TextIndex _index;
    std::vector<Folder> _folders;
    bool _sorted = true;
};

} // namespace

struct ArchiveVolume::State {
    Directory directory; // with the folders the names imply
    bool scrambled = false;
    std::string key;
    std::string archiveData;
    std::string target; // the mount point's text, which every Resolve cuts off
    std::string keyPattern; // the key repeated, so that an entry's bytes unscramble in long runs

    // Resolve on texts: the part of p_path below the mount point, or p_path whole when the
    // mount point is no parent of it (AssetPath::RelativeTo, without building paths).
    std::string_view Resolve(std::string_view p_path) const
    {
        if (!target.empty()) {
            if (p_path.size() < target.size() || p_path.compare(0, target.size(), target) != 0)
                return p_path;
            if (p_path.size() > target.size() && p_path[target.size()] != AssetPath::DirectorySeparator)
                return p_path;
        }
        std::string_view rest = p_path.substr(target.size());
        if (!rest.empty() && rest.front() == AssetPath::DirectorySeparator)
            rest.remove_prefix(1);
        return rest;
    }

    // The listing's one way into the directory: calls p_visit(key, entry) for each element
    // from the first key not less than p_first, in key order, until p_visit returns false.
    // The entry seen has the record's fields name, file and isDirectory.
    template <class Visit>
    void VisitFrom(std::string_view p_first, Visit p_visit) const
    {
        struct Listed {
            std::string name;
            const std::optional<FileInfo>& file;
            bool isDirectory;
        };
        for (std::size_t index = directory.LowerBound(p_first); index < directory.size(); ++index) {
            const Entry& entry = directory[index];
            const std::string key(directory.Key(entry));
            if (!p_visit(key, Listed{directory.Name(entry), entry.file, entry.isDirectory}))
                return;
        }
    }

    template <class Source>
    void ParseArchive(Source& p_source);
    // Open's steps from the source check to the unscrambled bytes; null after a failed check
    // that guards a use. p_written becomes the count of bytes that are not the zeros standing
    // for what the archive does not hold.
    template <class Source>
    boost::shared_ptr<EntryBytes> ReadEntry(Source& p_archive, const FileInfo& p_file, std::size_t& p_written) const;
};

ArchiveVolume::ArchiveVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority,
                             const std::string& p_key)
    : AssetVolume(p_source, p_target, p_priority), _state(new State)
{
    _state->key = p_key;
    _state->target = _target.str();
    ParseArchive(qorfile::filepath(p_source.str()));
}

ArchiveVolume::ArchiveVolume(const qorfile::filepath& p_source, const std::string& p_key)
    : AssetVolume(AssetPath(p_source), AssetPath(), 0), _state(new State)
{
    _state->key = p_key;
    ParseArchive(p_source);
}

ArchiveVolume::ArchiveVolume(const Volume& p_volume, const AssetPath& p_path, const std::string& p_key)
    : AssetVolume(AssetPath(), AssetPath(), 0), _state(new State)
{
    _state->key = p_key;
    ParseArchive(p_volume, p_path);
}

ArchiveVolume::~ArchiveVolume() = default;

boost::shared_ptr<Volume> ArchiveVolume::Open(const Volume& p_volume, const AssetPath& p_path, const std::string& p_key)
{
    return boost::shared_ptr<Volume>(new ArchiveVolume(p_volume, p_path, p_key));
}

boost::shared_ptr<Volume> ArchiveVolume::Open(const qorfile::filepath& p_source, const std::string& p_key)
{
    return boost::shared_ptr<Volume>(new ArchiveVolume(p_source, p_key));
}

AssetPath ArchiveVolume::Resolve(const AssetPath& p_path) const
{
    return p_path.RelativeTo(_target);
}

boost::shared_ptr<std::istream> ArchiveVolume::OpenSourceStream() const
{
    const std::string& data = _state->archiveData;
    if (!data.empty())
        return boost::shared_ptr<std::istream>(new ArrayStream(data.data(), data.data() + data.size()));
    return boost::shared_ptr<std::istream>(OpenFileStream(_source, std::ios_base::binary).release());
}

void ArchiveVolume::ParseArchive(const Volume& p_volume, const AssetPath& p_path)
{
    _state->directory.clear();
    _state->scrambled = p_path.Extension() != "zip";

    boost::shared_ptr<std::istream> archive = p_volume.Open(p_path, Binary);
    if (!Check(static_cast<bool>(archive), VolumeStreamMessage))
        return;
    if (!Check(!archive->fail(), VolumeStreamStateMessage))
        return;

    archive->seekg(0, std::ios_base::end);
    const std::streamoff length = archive->tellg();
    _state->archiveData.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    if (_state->archiveData.empty())
        throw std::out_of_range("invalid string position");
    archive->seekg(0, std::ios_base::beg);
    archive->read(&_state->archiveData[0], static_cast<std::streamsize>(_state->archiveData.size()));

    ParseArchive(*archive);
}

void ArchiveVolume::ParseArchive(const qorfile::filepath& p_source)
{
    _state->directory.clear();
    _state->scrambled = AssetPath(p_source).Extension() != "zip";

    // Read as a binary file stream reads it (FileSource); the file is closed on return.
    FileSource archive(_source, true);
    Check(!archive.fail(), FileStreamMessage);
    _state->ParseArchive(archive);
}

void ArchiveVolume::ParseArchive(std::istream& p_source)
{
    StreamSource source(p_source);
    _state->ParseArchive(source);
}

// The walk over the central directory, on a std::istream or on an archive file.
template <class Source>
void ArchiveVolume::State::ParseArchive(Source& p_source)
{
    Check(directory.empty(), DirectoryEmptyMessage);

    std::streamoff trailerLength = 0;
    if (scrambled && key.empty()) {
        key.assign(KeyTrailerLength, '\0');
        p_source.seekg(-KeyTrailerLength, std::ios_base::end);
        p_source.read(&key[0], KeyTrailerLength);
        trailerLength = KeyTrailerLength;
    }

    p_source.seekg(-(static_cast<std::streamoff>(sizeof(ZipEndOfCentralDirectory)) + trailerLength), std::ios_base::end);
    ZipEndOfCentralDirectory endOfCentralDirectory = {};
    ReadStruct(p_source, endOfCentralDirectory, key);
    Check(endOfCentralDirectory.Valid(), EndRecordMessage);

    const std::streamoff centralDirectory = endOfCentralDirectory.centralDirectoryOffset();
    p_source.seekg(centralDirectory, std::ios_base::beg);
    // The headers follow one another up to the end record: read them all at once.
    p_source.Prefetch(centralDirectory, std::size_t(-1));

    const unsigned count = endOfCentralDirectory.entriesOnDisk();
    directory.Reserve(count, std::size_t(count) * 24);
    // A failed source reads nothing more and tells position -1, so every header read from it
    // comes out the same, and so does its name (zeros, unscrambled at that position). A count
    // that runs past the archive would redo the same name, up to 64 KiB, for each of up to
    // 65 535 headers: the element that name gives is looked up once and reused, and every
    // check still reports as it would.
    std::optional<std::size_t> failedElement;
    bool failedIsDirectory = false;
    std::string name;
    for (unsigned index = 0; index < count; ++index) {
        const bool failedBefore = p_source.fail();
        ZipCentralDirectoryHeader header = {};
        ReadStruct(p_source, header, key);
        Check(header.Valid(), HeaderMessage);

        const std::streamoff namePosition = p_source.tellg();
        const std::uint16_t filenameLength = header.fileNameLength();
        const std::streamoff skipped =
            static_cast<std::streamoff>(header.extraFieldLength()) + header.fileCommentLength();
        if (!Check(filenameLength > 0, NameLengthMessage)) {
            p_source.seekg(skipped, std::ios_base::cur);
            continue;
        }

        const bool replay = failedBefore && failedElement;
        if (!replay) {
            name.assign(filenameLength, '\0');
            p_source.read(&name[0], filenameLength);
            if (!key.empty())
                Unscramble(&name[0], name.size(), static_cast<std::uint32_t>(namePosition), key);
        }

        const bool isDirectory = replay ? failedIsDirectory : name.back() == '/' || name.back() == '\\';
        const bool encrypted = (header.flags() & 1) != 0;
        Check(!encrypted, EncryptedMessage);
        const bool compressed = header.method() != 0;
        const bool compressedUsingDeflate = header.method() == 8;
        Check(!compressed || compressedUsingDeflate, MethodMessage);

        const std::size_t element = replay ? *failedElement : directory.Insert(name.data(), name.size());
        if (failedBefore && !replay) {
            failedElement = element;
            failedIsDirectory = isDirectory;
        }
        Entry& asset = directory.At(element);
        if (isDirectory) {
            asset.isDirectory = true;
        } else {
            Check(!asset.file, DuplicateMessage);
            asset.file = FileInfo{header.localHeaderOffset(), header.compressedSize(), header.uncompressedSize(),
                                  compressed, encrypted, header.method(), header.crc32()};
        }

        p_source.seekg(skipped, std::ios_base::cur);
    }
    directory.Finish();
    keyPattern = RepeatKey(key, 4096);
}

template <class Source>
boost::shared_ptr<EntryBytes> ArchiveVolume::State::ReadEntry(Source& p_archive, const FileInfo& p_file,
                                                              std::size_t& p_written) const
{
    if (!Check(p_archive.good(), SourceMessage))
        return boost::shared_ptr<EntryBytes>();

    p_archive.seekg(static_cast<std::streamoff>(p_file.localHeaderOffset), std::ios_base::beg);
    ZipLocalFileHeader localHeader = {};
    ReadStruct(p_archive, localHeader, key);
    if (!Check(localHeader.Valid(), LocalHeaderMessage))
        return boost::shared_ptr<EntryBytes>();

    const std::streamoff skipped =
        static_cast<std::streamoff>(localHeader.fileNameLength()) + localHeader.extraFieldLength();
    p_archive.seekg(skipped, std::ios_base::cur);
    const std::uint64_t dataOffset = p_file.localHeaderOffset + sizeof(ZipLocalFileHeader) + skipped;

    Check(!p_file.compressed, CompressedMessage);

    // The claimed size, whatever the archive holds: bytes it does not hold stay zero, and
    // their pages are never written (EntryBytes).
    const std::size_t claimed = localHeader.uncompressedSize();
    if (claimed == 0)
        throw std::out_of_range("invalid string position");
    boost::shared_ptr<EntryBytes> buffer = boost::make_shared<EntryBytes>(claimed);
    p_archive.read(buffer->data(), claimed);
    p_written = p_archive.gcount() > 0 ? static_cast<std::size_t>(p_archive.gcount()) : 0;
    if (scrambled) {
        // The missing bytes unscramble to key bytes, as every byte of the buffer does; the key
        // repeated gives the same key byte for every offset.
        UnscrambleRuns(reinterpret_cast<unsigned char*>(buffer->data()), claimed, static_cast<std::uint32_t>(dataOffset),
                       reinterpret_cast<const unsigned char*>(keyPattern.data()), keyPattern.size());
        p_written = claimed;
    }
    return buffer;
}

bool ArchiveVolume::Exists(const AssetPath& p_path) const
{
    const std::string path = p_path.str();
    const std::string_view resolved = _state->Resolve(path);
    // The folders and the keys share one index: one lookup answers both tests.
    return _state->directory.Contains(resolved);
}

boost::shared_ptr<std::istream> ArchiveVolume::Open(const AssetPath& p_path, OpenMode p_mode) const
{
    const State& state = *_state;
    const std::string path = p_path.str();
    const std::string_view resolved = state.Resolve(path);

    const Entry* asset = state.directory.Find(resolved);
    if (!Check(asset != nullptr, MissingMessage))
        return boost::shared_ptr<std::istream>();
    if (!Check(static_cast<bool>(asset->file), NoFileMessage))
        return boost::shared_ptr<std::istream>();
    const FileInfo& file = *asset->file;

    boost::shared_ptr<EntryBytes> buffer;
    std::size_t written = 0;
    if (state.archiveData.empty()) {
        // An archive file: opened afresh, and closed again before the stream is handed out.
        FileSource archive(_source, false);
        // The local header, its copy of the name, a little extra field and the data mostly
        // come in one read; a large entry is read straight into the buffer.
        const std::size_t around = sizeof(ZipLocalFileHeader) + asset->nameLength + 256;
        archive.Prefetch(static_cast<std::streamoff>(file.localHeaderOffset),
                         around + (file.uncompressedSize <= 60 * 1024 ? file.uncompressedSize : 0));
        buffer = state.ReadEntry(archive, file, written);
    } else {
        boost::shared_ptr<std::istream> stream = OpenSourceStream();
        StreamSource archive(*stream);
        buffer = state.ReadEntry(archive, file, written);
    }

    if (!buffer)
        return boost::shared_ptr<std::istream>();
    if (p_mode == Text)
        FoldLineEnds(*buffer, written);

    std::istream* stream = new ArrayStream(buffer->data(), buffer->data() + buffer->size());
    return boost::shared_ptr<std::istream>(stream, MemoryLifetime{buffer});
}

// ---------------------------------------------------------------------------------------
// Listing. Built only on State::VisitFrom, so that it does not depend on how the directory
// is held.

std::vector<ArchiveVolume::ListedEntry> ArchiveVolume::Entries() const
{
    std::vector<ListedEntry> entries;
    _state->VisitFrom(std::string_view(), [&](const std::string& p_key, const auto& p_entry) {
        ListedEntry listed;
        listed.path = AssetPath(p_key);
        listed.storedName = p_entry.name;
        listed.isDirectory = p_entry.isDirectory;
        if (p_entry.file) {
            const FileInfo& file = *p_entry.file;
            listed.isFile = true;
            listed.method = file.method;
            listed.encrypted = file.encrypted;
            listed.compressedSize = file.compressedSize;
            listed.uncompressedSize = file.uncompressedSize;
            listed.crc32 = file.crc32;
            listed.localHeaderOffset = file.localHeaderOffset;
        }
        entries.push_back(std::move(listed));
        return true;
    });
    return entries;
}

std::vector<AssetPath> ArchiveVolume::Folders() const
{
    // Keys come in order, but the prefixes of consecutive keys do not ("a/b" < "a/b.txt" <
    // "a/b/c"), so they are gathered in an ordered set.
    std::set<std::string> folders;
    _state->VisitFrom(std::string_view(), [&](const std::string& p_key, const auto&) {
        for (std::size_t slash = p_key.find(AssetPath::DirectorySeparator); slash != std::string::npos;
             slash = p_key.find(AssetPath::DirectorySeparator, slash + 1))
            folders.insert(AssetPath(p_key.substr(0, slash)).str());
        return true;
    });
    return std::vector<AssetPath>(folders.begin(), folders.end());
}

std::vector<ListedChild> ArchiveVolume::Children(const AssetPath& p_directory) const
{
    std::string prefix = Resolve(p_directory).str();
    if (!prefix.empty())
        prefix += AssetPath::DirectorySeparator;

    // A child's whole sub-tree (keys beginning with prefix + name + '/') sorts together, so
    // after the first key of a sub-tree the walk jumps behind it: one search per child.
    std::map<std::string, ListedChild> children;
    std::string next = prefix;
    bool more = true;
    while (more) {
        more = false;
        _state->VisitFrom(next, [&](const std::string& p_key, const auto& p_entry) {
            if (p_key.compare(0, prefix.size(), prefix) != 0)
                return false;
            const std::size_t slash = p_key.find(AssetPath::DirectorySeparator, prefix.size());
            const std::string name = p_key.substr(prefix.size(), slash == std::string::npos ? std::string::npos
                                                                                              : slash - prefix.size());
            if (name.empty())
                return true; // a key "/..." below the root: no nameless child
            ListedChild& child = children[name];
            child.name = name;
            if (slash == std::string::npos) {
                child.isFile = child.isFile || static_cast<bool>(p_entry.file);
                child.isDirectory = child.isDirectory || p_entry.isDirectory;
                return true;
            }
            child.isDirectory = true;
            next = prefix + name;
            next += static_cast<char>(AssetPath::DirectorySeparator + 1);
            more = true;
            return false;
        });
    }

    std::vector<ListedChild> listed;
    listed.reserve(children.size());
    for (auto& child : children)
        listed.push_back(std::move(child.second));
    return listed;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
