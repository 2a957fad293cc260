// ArchiveDiagnostics: a bounded walk over an archive file that reports, rather than follows,
// whatever the archive volume cannot serve or the archive contradicts.
#include <Assets/ArchiveDiagnostics.h>

#include <Assets/AssetPath.h>

#include "ArchiveFindings.h"
#include "Platform.h"
#include "Scramble.h"
#include "ZipFormat.h"

#include <QorFile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <unordered_map>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// Records and names are read through a window of this size; an entry's data in the caller's
// chunks. Nothing is ever sized by a field of the archive beyond what the file holds.
constexpr std::size_t WindowSize = std::size_t(64) << 10;
// The longest comment an end record can announce.
constexpr std::size_t MaxComment = 0xffff;

// The archive file, read by offset through one window.
class WindowedFile {
public:
    explicit WindowedFile(const std::string& p_path)
    {
        if (!Platform::OpenFileBuffer(*_in.rdbuf(), p_path.c_str(), std::ios_base::in | std::ios_base::binary)) {
            _error = std::strerror(errno);
            return;
        }
        _in.seekg(0, std::ios_base::end);
        const std::streamoff length = _in.tellg();
        if (!_in || length < 0) {
            _error = "cannot find its length";
            return;
        }
        _length = static_cast<std::uint64_t>(length);
    }

    bool Opened() const { return _error.empty(); }
    const std::string& Error() const { return _error; }
    std::uint64_t Length() const { return _length; }

    // The p_count bytes at p_offset, when the file holds them all.
    bool Read(std::uint64_t p_offset, std::size_t p_count, char* p_out)
    {
        if (p_offset > _length || p_count > _length - p_offset)
            return false;
        if (p_count > WindowSize)
            return ReadDirect(p_offset, p_count, p_out);
        if (p_offset < _windowStart || p_offset + p_count > _windowStart + _window.size()) {
            const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(WindowSize, _length - p_offset));
            _window.resize(size);
            if (!ReadDirect(p_offset, size, _window.data())) {
                _window.clear();
                return false;
            }
            _windowStart = p_offset;
        }
        std::memcpy(p_out, _window.data() + (p_offset - _windowStart), p_count);
        return true;
    }

private:
    bool ReadDirect(std::uint64_t p_offset, std::size_t p_count, char* p_out)
    {
        _in.clear();
        _in.seekg(static_cast<std::streamoff>(p_offset), std::ios_base::beg);
        _in.read(p_out, static_cast<std::streamsize>(p_count));
        return static_cast<std::size_t>(_in.gcount()) == p_count;
    }

    std::ifstream _in;
    std::string _error;
    std::uint64_t _length = 0;
    std::vector<char> _window;
    std::uint64_t _windowStart = 0;
};

std::uint16_t Get16(const char* p_record, std::size_t p_at)
{
    return Zip::DecodeFixed16(reinterpret_cast<const unsigned char*>(p_record) + p_at);
}

std::uint32_t Get32(const char* p_record, std::size_t p_at)
{
    return Zip::DecodeFixed32(reinterpret_cast<const unsigned char*>(p_record) + p_at);
}

std::string Number(std::uint64_t p_value)
{
    return std::to_string(p_value);
}

// Whether [p_offset, p_offset + p_count) lies inside [0, p_end).
bool Inside(std::uint64_t p_offset, std::uint64_t p_count, std::uint64_t p_end)
{
    return p_offset <= p_end && p_count <= p_end - p_offset;
}

} // namespace

struct ArchiveDiagnostics::State {
    std::string file;
    std::string key;
    bool scrambled = false; // the data is unscrambled
    std::uint64_t length = 0;
    std::uint64_t zipEnd = 0; // where the ZIP data ends: before the key trailer
    std::vector<InspectedEntry> entries;
    std::vector<Finding> findings;
    std::vector<std::vector<Finding>> entryFindings;
    bool incomplete = false;
    Obstacle obstacle = Obstacle::None; // the first finding that made it incomplete
    std::string explanation;
    ArchiveFindings::DirectoryTotals totals;

    // Marks the inspection incomplete; the first obstacle is the one explained.
    void Block(Obstacle p_obstacle, const std::string& p_detail)
    {
        incomplete = true;
        if (obstacle == Obstacle::None) {
            obstacle = p_obstacle;
            explanation = ArchiveFindings::Explain(p_obstacle, p_detail);
        }
    }
    void Archive(Kind p_kind, const std::string& p_detail, bool p_blocks = true)
    {
        findings.push_back(Finding{p_kind, std::string(), p_detail});
        if (p_blocks && (p_kind == Kind::Comment || p_kind == Kind::Zip64 || p_kind == Kind::BadCentral ||
                         p_kind == Kind::CountMismatch))
            Block(ArchiveFindings::ObstacleOf(p_kind), p_detail);
    }
    void About(std::size_t p_entry, Kind p_kind, const std::string& p_detail)
    {
        entryFindings[p_entry].push_back(Finding{p_kind, entries[p_entry].name, p_detail});
        if (p_kind == Kind::Zip64 || p_kind == Kind::BadCentral)
            Block(ArchiveFindings::ObstacleOf(p_kind), p_detail);
    }

    void Unscramble(char* p_bytes, std::size_t p_count, std::uint64_t p_offset) const
    {
        if (!key.empty())
            UnscrambleRun(p_bytes, p_count, static_cast<std::int64_t>(p_offset), 0, key);
    }

    bool ReadRecord(WindowedFile& p_file, std::uint64_t p_offset, std::size_t p_count, char* p_out) const
    {
        if (p_offset + p_count > zipEnd || !p_file.Read(p_offset, p_count, p_out))
            return false;
        Unscramble(p_out, p_count, p_offset);
        return true;
    }

    bool FindEndRecord(WindowedFile& p_file, std::uint64_t& p_at, char* p_record);
    void ReadCentral(WindowedFile& p_file, std::uint64_t p_at, std::uint16_t p_count);
    void ReadLocal(WindowedFile& p_file, std::size_t p_index);
    void CompareLocal(WindowedFile& p_file, std::size_t p_index, const char* p_header);
    void FindOverlaps(std::uint64_t p_centralOffset);
};

// The end record lies exactly 22 bytes before the end of the ZIP data, where the volume
// reads it. When it is not there, the last 64 KiB are searched, so that a comment (or other
// bytes behind the record) is told apart from an archive that is no ZIP at all.
bool ArchiveDiagnostics::State::FindEndRecord(WindowedFile& p_file, std::uint64_t& p_at, char* p_record)
{
    if (zipEnd < Zip::End::Size) {
        Archive(Kind::NoEndRecord, "the archive is " + Number(length) + " bytes, too short for a ZIP end record");
        return false;
    }
    p_at = zipEnd - Zip::End::Size;
    if (ReadRecord(p_file, p_at, Zip::End::Size, p_record) && Get32(p_record, 0) == Zip::End::Signature)
        return true;

    const std::uint64_t tailStart = zipEnd > Zip::End::Size + MaxComment ? zipEnd - Zip::End::Size - MaxComment : 0;
    std::vector<char> tail(static_cast<std::size_t>(zipEnd - tailStart));
    if (p_file.Read(tailStart, tail.size(), tail.data())) {
        Unscramble(tail.data(), tail.size(), tailStart);
        for (std::size_t at = tail.size() - Zip::End::Size; at-- > 0;) {
            // A signature alone may be chance (above all in bytes unscrambled with a key that is
            // none): the central directory it names must end right where it begins.
            if (Get32(tail.data(), at) != Zip::End::Signature)
                continue;
            const std::uint64_t centralEnd = std::uint64_t(Get32(tail.data(), at + Zip::End::CentralOffsetAt)) +
                                             Get32(tail.data(), at + Zip::End::CentralSizeAt);
            if (centralEnd != tailStart + at)
                continue;
            std::memcpy(p_record, tail.data() + at, Zip::End::Size);
            p_at = tailStart + at;
            const std::uint64_t behind = zipEnd - p_at - Zip::End::Size;
            Archive(Kind::Comment, Get16(p_record, Zip::End::CommentLengthAt) == behind
                                       ? "an archive comment of " + Number(behind) + " bytes"
                                       : Number(behind) + " bytes behind the end record");
            return true;
        }
    }
    Archive(Kind::NoEndRecord, "no ZIP end record at the end of the archive");
    return false;
}

void ArchiveDiagnostics::State::ReadCentral(WindowedFile& p_file, std::uint64_t p_at, std::uint16_t p_count)
{
    const std::uint64_t start = p_at;
    char header[Zip::Central::Size];
    for (std::size_t index = 0; index < p_count; ++index) {
        // An end record where a header belongs: the directory ends before its count.
        const bool ended = ReadRecord(p_file, p_at, 4, header) &&
                           (Get32(header, 0) == Zip::End::Signature || Get32(header, 0) == Zip::Zip64::EndSignature);
        if (!ended && !ReadRecord(p_file, p_at, Zip::Central::Size, header)) {
            Archive(Kind::BadCentral, "central header " + Number(index + 1) + " of " + Number(p_count) +
                                          " lies past the end of the archive");
            return;
        }
        if (ended) {
            Archive(Kind::CountMismatch, "the end record counts " + Number(p_count) +
                                             " entries, the central directory ends after " + Number(index));
            return;
        }
        if (Get32(header, 0) != Zip::Central::Signature) {
            Archive(Kind::BadCentral, "central header " + Number(index + 1) + " of " + Number(p_count) +
                                          " at offset " + Number(p_at) + " has no signature");
            return;
        }
        const std::uint16_t nameLength = Get16(header, Zip::Central::NameLengthAt);
        InspectedEntry entry;
        entry.name.resize(nameLength);
        if (!ReadRecord(p_file, p_at + Zip::Central::Size, nameLength, &entry.name[0])) {
            Archive(Kind::BadCentral, "the name of central header " + Number(index + 1) + " runs past the end");
            return;
        }
        entry.isDirectory = !entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\');
        entry.flags = Get16(header, Zip::Central::FlagsAt);
        entry.method = Get16(header, Zip::Central::MethodAt);
        entry.crc32 = Get32(header, Zip::Central::CrcAt);
        entry.compressedSize = Get32(header, Zip::Central::CompressedSizeAt);
        entry.uncompressedSize = Get32(header, Zip::Central::UncompressedSizeAt);
        entry.localHeaderOffset = Get32(header, Zip::Central::LocalHeaderOffsetAt);
        entry.madeBy = Get16(header, Zip::Central::MadeByAt);
        entry.externalAttributes = Get32(header, Zip::Central::ExternalAttributesAt);
        entry.isLink = Zip::IsSymbolicLink(entry.madeBy, entry.externalAttributes);
        entries.push_back(entry);
        entryFindings.emplace_back();
        p_at += Zip::Central::Size + nameLength + Get16(header, Zip::Central::ExtraLengthAt) +
                Get16(header, Zip::Central::CommentLengthAt);
    }
    totals.walkedSize = p_at - start;
    totals.walked = true;
    // More headers behind the counted ones: a count the 16-bit field could not hold (written
    // without ZIP64 records), or one that is wrong.
    char signature[4];
    const bool known = std::any_of(findings.begin(), findings.end(),
                                   [](const Finding& p_finding) { return p_finding.kind == Kind::Zip64; });
    if (!known && ReadRecord(p_file, p_at, sizeof signature, signature) &&
        Get32(signature, 0) == Zip::Central::Signature) {
        if (p_count == Zip::MaxEntries)
            Archive(Kind::Zip64, "more central headers than the end record's count of " + Number(p_count));
        else
            Archive(Kind::CountMismatch, "the end record counts " + Number(p_count) +
                                             " entries, more central headers follow");
    }
}

void ArchiveDiagnostics::State::ReadLocal(WindowedFile& p_file, std::size_t p_index)
{
    InspectedEntry& entry = entries[p_index];
    const std::uint32_t escape = 0xffffffffu;
    if (entry.compressedSize == escape || entry.uncompressedSize == escape || entry.localHeaderOffset == escape)
        About(p_index, Kind::Zip64, "sizes or offset in a ZIP64 extra field");
    if (entry.name.empty())
        About(p_index, Kind::EmptyName, "a central header with an empty name");
    if (entry.flags & Zip::FlagEncrypted)
        About(p_index, Kind::Encrypted, "encrypted");
    if (entry.method == Zip::MethodDeflate)
        About(p_index, Kind::Deflated, "deflated");
    else if (entry.method != Zip::MethodStored)
        About(p_index, Kind::Compressed, "compression method " + Number(entry.method));
    const bool descriptor = (entry.flags & Zip::FlagDataDescriptor) != 0;
    if (descriptor)
        About(p_index, Kind::DataDescriptor, "sizes and CRC-32 follow the data, the local header holds none");

    char header[Zip::Local::Size];
    if (!ReadRecord(p_file, entry.localHeaderOffset, Zip::Local::Size, header)) {
        About(p_index, Kind::BadLocal, "the local header at offset " + Number(entry.localHeaderOffset) +
                                           " lies past the end of the archive");
        return;
    }
    if (Get32(header, 0) != Zip::Local::Signature) {
        About(p_index, Kind::BadLocal, "no local header at offset " + Number(entry.localHeaderOffset));
        return;
    }
    entry.localValid = true;
    CompareLocal(p_file, p_index, header);
    entry.localSize = Get32(header, Zip::Local::UncompressedSizeAt);
    const std::uint64_t localCompressed = Get32(header, Zip::Local::CompressedSizeAt);
    entry.dataOffset = entry.localHeaderOffset + Zip::Local::Size + Get16(header, Zip::Local::NameLengthAt) +
                       Get16(header, Zip::Local::ExtraLengthAt);
    // A stored entry whose sizes follow its data: the central directory's size is the data.
    entry.dataSize = descriptor && entry.method == Zip::MethodStored && entry.localSize == 0 ? entry.compressedSize
                                                                                            : entry.localSize;
    entry.heldSize = entry.dataOffset < zipEnd ? std::min(entry.dataSize, zipEnd - entry.dataOffset) : 0;
    if (!descriptor) {
        if (entry.localSize != entry.uncompressedSize || localCompressed != entry.compressedSize)
            About(p_index, Kind::SizeMismatch,
                  "size " + Number(entry.localSize) + " in the local header, " + Number(entry.uncompressedSize) +
                      " in the central directory");
        const std::uint32_t localCrc = Get32(header, Zip::Local::CrcAt);
        if (localCrc != entry.crc32)
            About(p_index, Kind::CrcMismatch, "the local header's CRC-32 differs from the central directory's");
    }
    // The bytes the entry takes: what Open reads of a stored entry, the central directory's
    // compressed size otherwise (or when the local header holds no sizes).
    const std::uint64_t span = entry.method == Zip::MethodStored ? entry.dataSize : entry.compressedSize;
    if (!Inside(entry.dataOffset, span, zipEnd))
        About(p_index, Kind::DataPastEnd,
              Number(span) + " bytes of data from offset " + Number(entry.dataOffset) + ", the archive ends at " +
                  Number(zipEnd));
}

// The local header repeats the method and the name. The volume reads neither, but other
// readers take one or the other from there. The name is compared in unkeyed archives only:
// in a scrambled one the volume never unscrambles it, and packers leave it as they like.
void ArchiveDiagnostics::State::CompareLocal(WindowedFile& p_file, std::size_t p_index, const char* p_header)
{
    const InspectedEntry& entry = entries[p_index];
    const std::uint16_t method = Get16(p_header, Zip::Local::MethodAt);
    if (method != entry.method)
        About(p_index, Kind::MethodMismatch,
              "method " + Number(method) + " in the local header, " + Number(entry.method) + " in the central directory");
    if (!key.empty())
        return;
    const std::uint16_t nameLength = Get16(p_header, Zip::Local::NameLengthAt);
    std::string name(nameLength, '\0');
    if (nameLength == 0)
        About(p_index, Kind::NameMismatch, "the local header has no name");
    else if (ReadRecord(p_file, entry.localHeaderOffset + Zip::Local::Size, nameLength, &name[0]) && name != entry.name)
        About(p_index, Kind::NameMismatch, "the local header names it " + name);
}

// Local headers and data of different entries must not share bytes (a "zip bomb" reuses
// them), nor run into the central directory.
void ArchiveDiagnostics::State::FindOverlaps(std::uint64_t p_centralOffset)
{
    struct Span {
        std::uint64_t begin;
        std::uint64_t end;
        std::size_t index;
    };
    std::vector<Span> spans;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const InspectedEntry& entry = entries[i];
        if (!entry.localValid)
            continue;
        const bool stored = entry.method == Zip::MethodStored;
        const std::uint64_t span = std::min(stored ? entry.dataSize : entry.compressedSize,
                                            zipEnd > entry.dataOffset ? zipEnd - entry.dataOffset : 0);
        spans.push_back(Span{entry.localHeaderOffset, entry.dataOffset + span, i});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& p_a, const Span& p_b) {
        return p_a.begin != p_b.begin ? p_a.begin < p_b.begin : p_a.index < p_b.index;
    });
    const Span* reaching = nullptr; // the span so far that reaches furthest
    for (const Span& span : spans) {
        if (reaching && span.begin < reaching->end)
            About(span.index, Kind::Overlap, "shares bytes with " + entries[reaching->index].name);
        else if (span.begin < p_centralOffset && span.end > p_centralOffset)
            About(span.index, Kind::Overlap, "runs into the central directory");
        if (!reaching || span.end > reaching->end)
            reaching = &span;
    }
}

namespace {

// Why there is no end record, as far as the name, the key and a plain reading tell.
ArchiveDiagnostics::Obstacle NoEndRecordObstacle(const std::string& p_file, const std::string& p_key, bool p_scrambledName)
{
    using Obstacle = ArchiveDiagnostics::Obstacle;
    if (!p_key.empty())
        return Obstacle::WrongKey;
    if (!p_scrambledName)
        return Obstacle::NotAnArchive;
    const ArchiveDiagnostics plain(p_file, std::string(), ArchiveDiagnostics::Reading::Plain);
    const Obstacle asPlain = plain.FirstObstacle();
    return asPlain == Obstacle::NotAnArchive || asPlain == Obstacle::Unreadable ? Obstacle::KeyMissing
                                                                                 : Obstacle::PlainArchive;
}

} // namespace

ArchiveDiagnostics::ArchiveDiagnostics(const std::string& p_file, const std::string& p_key, Reading p_reading)
    : _state(std::make_unique<State>())
{
    State& state = *_state;
    state.file = p_file;
    state.key = p_key;
    WindowedFile file(p_file);
    if (!file.Opened()) {
        state.Archive(Kind::Unreadable, file.Error());
        state.Block(Obstacle::Unreadable, file.Error());
        return;
    }
    state.length = file.Length();
    state.zipEnd = state.length;

    const bool scrambledName =
        p_reading == Reading::ByName && Zip::IsScrambledExtension(AssetPath(qorfile::filepath(p_file)).Extension());
    if (scrambledName && state.key.empty()) {
        // The archive carries its key in its last 32 bytes, stored as is.
        state.key.assign(Zip::KeyTrailerLength, '\0');
        if (!file.Read(state.length - std::min<std::uint64_t>(state.length, Zip::KeyTrailerLength),
                       Zip::KeyTrailerLength, &state.key[0])) {
            state.key.clear();
            state.Archive(Kind::NoEndRecord,
                          "the archive is " + Number(state.length) + " bytes, too short for a key and an end record");
            state.Block(NoEndRecordObstacle(p_file, p_key, scrambledName), std::string());
            return;
        }
        state.zipEnd -= Zip::KeyTrailerLength;
    }
    state.scrambled = scrambledName;

    std::uint64_t endAt = 0;
    char end[Zip::End::Size];
    if (!state.FindEndRecord(file, endAt, end)) {
        state.Block(NoEndRecordObstacle(p_file, p_key, scrambledName), std::string());
        return;
    }
    const std::uint16_t count = Get16(end, Zip::End::EntriesOnDiskAt);
    const std::uint64_t centralOffset = Get32(end, Zip::End::CentralOffsetAt);
    char locator[Zip::Zip64::LocatorSize];
    const bool hasLocator = endAt >= Zip::Zip64::LocatorSize &&
                            state.ReadRecord(file, endAt - Zip::Zip64::LocatorSize, sizeof locator, locator) &&
                            Get32(locator, 0) == Zip::Zip64::LocatorSignature;
    if (hasLocator)
        state.Archive(Kind::Zip64, "a ZIP64 end record: the entry count or an offset does not fit the end record");
    else if (centralOffset == Zip::MaxOffset)
        state.Archive(Kind::Zip64, "the end record's offset is a ZIP64 escape value");
    // 65 535 entries without ZIP64 records is a plain archive that fills the count.

    state.ReadCentral(file, centralOffset, count);
    state.totals.entriesOnDisk = count;
    state.totals.entriesTotal = Get16(end, Zip::End::EntriesTotalAt);
    state.totals.claimedSize = Get32(end, Zip::End::CentralSizeAt);
    if (!hasLocator)
        for (ArchiveFindings::Found& found : ArchiveFindings::TotalsFindings(state.totals))
            state.Archive(found.kind, found.detail, false);
    std::unordered_map<std::string, std::size_t> files; // normalised name -> first file entry
    for (std::size_t i = 0; i < state.entries.size(); ++i) {
        state.ReadLocal(file, i);
        const InspectedEntry& entry = state.entries[i];
        for (ArchiveFindings::Found& found : ArchiveFindings::EntryFindings(entry))
            state.About(i, found.kind, found.detail);
        if (entry.isDirectory || entry.name.empty())
            continue;
        const auto known = files.emplace(AssetPath(entry.name).str(), i);
        if (!known.second)
            state.About(i, Kind::DuplicateName, "the same path as " + state.entries[known.first->second].name);
    }
    state.FindOverlaps(centralOffset);
    for (std::vector<Finding>& found : state.entryFindings)
        for (Finding& finding : found)
            state.findings.push_back(std::move(finding));
    state.entryFindings.clear();
}

ArchiveDiagnostics::~ArchiveDiagnostics() = default;

const std::vector<ArchiveDiagnostics::InspectedEntry>& ArchiveDiagnostics::Entries() const
{
    return _state->entries;
}

const std::vector<ArchiveDiagnostics::Finding>& ArchiveDiagnostics::Findings() const
{
    return _state->findings;
}

bool ArchiveDiagnostics::Incomplete() const
{
    return _state->incomplete;
}

ArchiveDiagnostics::Obstacle ArchiveDiagnostics::FirstObstacle() const
{
    return _state->obstacle;
}

std::string ArchiveDiagnostics::Explanation() const
{
    return _state->explanation;
}

bool ArchiveDiagnostics::Scrambled() const
{
    return _state->scrambled;
}

std::uint64_t ArchiveDiagnostics::Length() const
{
    return _state->length;
}

bool ArchiveDiagnostics::ReadData(const InspectedEntry& p_entry, const std::function<bool(const char*, std::size_t)>& p_sink,
                                 std::size_t p_chunk) const
{
    if (p_entry.heldSize == 0)
        return true;
    std::ifstream in;
    if (!Platform::OpenFileBuffer(*in.rdbuf(), _state->file.c_str(), std::ios_base::in | std::ios_base::binary))
        return false;
    in.seekg(static_cast<std::streamoff>(p_entry.dataOffset), std::ios_base::beg);
    if (!in)
        return false;
    p_chunk = std::max<std::size_t>(1, p_chunk);
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(p_chunk, p_entry.heldSize)));
    std::uint64_t done = 0;
    while (done < p_entry.heldSize) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), p_entry.heldSize - done));
        in.read(buffer.data(), static_cast<std::streamsize>(count));
        if (static_cast<std::size_t>(in.gcount()) != count)
            return false;
        if (_state->scrambled)
            UnscrambleRun(buffer.data(), count, static_cast<std::int64_t>(p_entry.dataOffset), done, _state->key);
        done += count;
        if (!p_sink(buffer.data(), count))
            return true;
    }
    return true;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
