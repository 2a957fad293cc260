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

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>

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

template <class T>
void Unscramble(T* p_buffer, std::size_t p_count, std::uint32_t p_position, const std::string& p_key)
{
    const std::size_t keyLength = p_key.size();
    if (keyLength == 0)
        return;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(p_buffer);
    const std::size_t count = p_count * sizeof(T);
    std::size_t index = static_cast<std::uint32_t>(p_position) % keyLength;
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] ^= static_cast<unsigned char>(p_key[index]);
        if (++index == keyLength)
            index = 0;
    }
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

template <class T>
void ReadStruct(std::istream& source, T& record, const std::string& key)
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

struct Entry {
    std::string name;
    std::optional<FileInfo> file;
    bool isDirectory;
};

} // namespace

struct ArchiveVolume::State {
    // Keyed by the normalised names; std::string's order is AssetPath's byte order.
    std::map<std::string, Entry, std::less<>> directory;
    bool scrambled = false;
    std::string key;
    std::string archiveData;

    // A folder is implied by a name that continues with a slash behind it: every prefix of a
    // key up to one of its slashes, normalised. That holds for p_path exactly when some key
    // begins with p_path + '/', and all such keys sort together right after that text.
    bool HasFolder(const std::string& p_path) const
    {
        std::string prefix = p_path;
        prefix += AssetPath::DirectorySeparator;
        auto candidate = directory.lower_bound(std::string_view(prefix));
        return candidate != directory.end() && candidate->first.compare(0, prefix.size(), prefix) == 0;
    }

    // The listing's one way into the directory: calls p_visit(key, entry) for each element
    // from the first key not less than p_first, in key order, until p_visit returns false.
    template <class Visit>
    void VisitFrom(std::string_view p_first, Visit p_visit) const
    {
        for (auto element = directory.lower_bound(p_first); element != directory.end(); ++element)
            if (!p_visit(element->first, element->second))
                return;
    }
};

ArchiveVolume::ArchiveVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority,
                             const std::string& p_key)
    : AssetVolume(p_source, p_target, p_priority), _state(new State)
{
    _state->key = p_key;
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

    std::unique_ptr<std::istream> archive = OpenFileStream(_source, std::ios_base::binary);
    Check(!archive->fail(), FileStreamMessage);
    ParseArchive(*archive);
}

void ArchiveVolume::ParseArchive(std::istream& p_source)
{
    State& state = *_state;
    Check(state.directory.empty(), DirectoryEmptyMessage);

    std::streamoff trailerLength = 0;
    if (state.scrambled && state.key.empty()) {
        state.key.assign(KeyTrailerLength, '\0');
        p_source.seekg(-KeyTrailerLength, std::ios_base::end);
        p_source.read(&state.key[0], KeyTrailerLength);
        trailerLength = KeyTrailerLength;
    }

    p_source.seekg(-(static_cast<std::streamoff>(sizeof(ZipEndOfCentralDirectory)) + trailerLength), std::ios_base::end);
    ZipEndOfCentralDirectory endOfCentralDirectory = {};
    ReadStruct(p_source, endOfCentralDirectory, state.key);
    Check(endOfCentralDirectory.Valid(), EndRecordMessage);

    p_source.seekg(static_cast<std::streamoff>(endOfCentralDirectory.centralDirectoryOffset()), std::ios_base::beg);

    const unsigned count = endOfCentralDirectory.entriesOnDisk();
    // A failed stream reads nothing more and tells position -1, so every header read from it
    // comes out the same, and so does its name (zeros, unscrambled at that position). A count
    // that runs past the archive would redo the same name, up to 64 KiB, for each of up to
    // 65 535 headers: the element that name gives is looked up once and reused, and every
    // check still reports as it would.
    std::optional<decltype(state.directory)::iterator> failedAsset;
    bool failedIsDirectory = false;
    for (unsigned index = 0; index < count; ++index) {
        const bool failedBefore = p_source.fail();
        ZipCentralDirectoryHeader header = {};
        ReadStruct(p_source, header, state.key);
        Check(header.Valid(), HeaderMessage);

        const std::streamoff namePosition = p_source.tellg();
        const std::uint16_t filenameLength = header.fileNameLength();
        const std::streamoff skipped =
            static_cast<std::streamoff>(header.extraFieldLength()) + header.fileCommentLength();
        if (!Check(filenameLength > 0, NameLengthMessage)) {
            p_source.seekg(skipped, std::ios_base::cur);
            continue;
        }

        const bool replay = failedBefore && failedAsset;
        std::string name;
        if (!replay) {
            name.assign(filenameLength, '\0');
            p_source.read(&name[0], filenameLength);
            if (!state.key.empty())
                Unscramble(&name[0], name.size(), static_cast<std::uint32_t>(namePosition), state.key);
        }

        const bool isDirectory = replay ? failedIsDirectory : name.back() == '/' || name.back() == '\\';
        const bool encrypted = (header.flags() & 1) != 0;
        Check(!encrypted, EncryptedMessage);
        const bool compressed = header.method() != 0;
        const bool compressedUsingDeflate = header.method() == 8;
        Check(!compressed || compressedUsingDeflate, MethodMessage);

        auto asset = replay ? *failedAsset
                            : state.directory.emplace(AssetPath(name).str(), Entry{name, std::nullopt, false}).first;
        if (failedBefore && !replay) {
            failedAsset = asset;
            failedIsDirectory = isDirectory;
        }
        if (isDirectory) {
            asset->second.isDirectory = true;
        } else {
            Check(!asset->second.file, DuplicateMessage);
            asset->second.file = FileInfo{header.localHeaderOffset(), header.compressedSize(),
                                          header.uncompressedSize(), compressed, encrypted, header.method(),
                                          header.crc32()};
        }

        p_source.seekg(skipped, std::ios_base::cur);
    }
}

bool ArchiveVolume::Exists(const AssetPath& p_path) const
{
    const std::string resolved = Resolve(p_path).str();
    return _state->HasFolder(resolved) || _state->directory.find(resolved) != _state->directory.end();
}

boost::shared_ptr<std::istream> ArchiveVolume::Open(const AssetPath& p_path, OpenMode p_mode) const
{
    const State& state = *_state;
    const std::string resolved = Resolve(p_path).str();
    auto asset = state.directory.find(resolved);
    if (!Check(asset != state.directory.end(), MissingMessage))
        return boost::shared_ptr<std::istream>();
    if (!Check(static_cast<bool>(asset->second.file), NoFileMessage))
        return boost::shared_ptr<std::istream>();
    const FileInfo& file = *asset->second.file;

    boost::shared_ptr<std::istream> archive = OpenSourceStream();
    if (!Check(archive->good(), SourceMessage))
        return boost::shared_ptr<std::istream>();

    archive->seekg(static_cast<std::streamoff>(file.localHeaderOffset), std::ios_base::beg);
    ZipLocalFileHeader localHeader = {};
    ReadStruct(*archive, localHeader, state.key);
    if (!Check(localHeader.Valid(), LocalHeaderMessage))
        return boost::shared_ptr<std::istream>();

    const std::streamoff skipped =
        static_cast<std::streamoff>(localHeader.fileNameLength()) + localHeader.extraFieldLength();
    archive->seekg(skipped, std::ios_base::cur);
    const std::uint64_t dataOffset = file.localHeaderOffset + sizeof(ZipLocalFileHeader) + skipped;

    Check(!file.compressed, CompressedMessage);

    // The claimed size, whatever the archive holds: bytes it does not hold stay zero, and
    // their pages are never written (EntryBytes).
    const std::size_t claimed = localHeader.uncompressedSize();
    if (claimed == 0)
        throw std::out_of_range("invalid string position");
    boost::shared_ptr<EntryBytes> buffer = boost::make_shared<EntryBytes>(claimed);
    archive->read(buffer->data(), static_cast<std::streamsize>(claimed));
    std::size_t written = archive->gcount() > 0 ? static_cast<std::size_t>(archive->gcount()) : 0;
    if (state.scrambled) {
        // The missing bytes unscramble to key bytes, as every byte of the buffer does.
        Unscramble(buffer->data(), claimed, static_cast<std::uint32_t>(dataOffset), state.key);
        written = claimed;
    }
    archive.reset();

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
