// ArchiveDiagnostics: a bounded walk over an archive file that reports, rather than follows,
// whatever the archive volume cannot serve or the archive contradicts.
#include <Assets/ArchiveDiagnostics.h>

#include <Assets/AssetPath.h>

#include "ArchiveCore/Format.h"
#include "ArchiveCore/KeyStream.h"
#include "ArchiveCore/Names.h"
#include "ArchiveCore/Records.h"
#include "ArchiveCore/Source.h"

#include <QorFile.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

using Archive::WindowedFile;

// The longest comment an end record can announce.
constexpr std::size_t MaxComment = 0xffff;

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
    Zip::ScrambleKey key;
    bool scrambled = false; // the data is unscrambled
    std::uint64_t length = 0;
    std::uint64_t zipEnd = 0; // where the ZIP data ends: before the key trailer
    std::vector<InspectedEntry> entries;
    std::vector<Finding> findings;
    std::vector<std::vector<Finding>> entryFindings;
    bool incomplete = false;

    void Archive(Kind p_kind, const std::string& p_detail)
    {
        findings.push_back(Finding{p_kind, std::string(), p_detail});
        if (p_kind == Kind::Unreadable || p_kind == Kind::NoEndRecord || p_kind == Kind::Comment ||
            p_kind == Kind::Zip64 || p_kind == Kind::BadCentral)
            incomplete = true;
    }
    void About(std::size_t p_entry, Kind p_kind, const std::string& p_detail)
    {
        entryFindings[p_entry].push_back(Finding{p_kind, entries[p_entry].name, p_detail});
        if (p_kind == Kind::Zip64 || p_kind == Kind::BadCentral)
            incomplete = true;
    }

    // A record or a name: a run of its own.
    void Unscramble(char* p_bytes, std::size_t p_count, std::uint64_t p_offset) const
    {
        key.RunAt(static_cast<std::int64_t>(p_offset)).Xor(p_bytes, p_count);
    }

    bool ReadRun(WindowedFile& p_file, std::uint64_t p_offset, std::size_t p_count, char* p_out) const
    {
        if (p_offset + p_count > zipEnd || !p_file.Read(p_offset, p_count, p_out))
            return false;
        Unscramble(p_out, p_count, p_offset);
        return true;
    }

    // Reads and decodes the record at p_offset; false when the archive does not hold it.
    template <class Record>
    bool ReadRecord(WindowedFile& p_file, std::uint64_t p_offset, Record& p_record) const
    {
        char bytes[Record::Size];
        if (!ReadRun(p_file, p_offset, Record::Size, bytes))
            return false;
        p_record.DecodeFrom(bytes);
        return true;
    }

    bool FindEndRecord(WindowedFile& p_file, std::uint64_t& p_at, Zip::EndRecord& p_record);
    void ReadCentral(WindowedFile& p_file, std::uint64_t p_at, std::uint16_t p_count);
    void ReadLocal(WindowedFile& p_file, std::size_t p_index);
    void FindOverlaps(std::uint64_t p_centralOffset);
};

// The end record lies exactly 22 bytes before the end of the ZIP data, where the volume
// reads it. When it is not there, the last 64 KiB are searched, so that a comment (or other
// bytes behind the record) is told apart from an archive that is no ZIP at all.
bool ArchiveDiagnostics::State::FindEndRecord(WindowedFile& p_file, std::uint64_t& p_at, Zip::EndRecord& p_record)
{
    constexpr std::size_t Size = Zip::EndRecord::Size;
    if (zipEnd < Size) {
        Archive(Kind::NoEndRecord, "the archive is " + Number(length) + " bytes, too short for a ZIP end record");
        return false;
    }
    p_at = zipEnd - Size;
    if (ReadRecord(p_file, p_at, p_record) && p_record.Valid())
        return true;

    const std::uint64_t tailStart = zipEnd > Size + MaxComment ? zipEnd - Size - MaxComment : 0;
    std::vector<char> tail(static_cast<std::size_t>(zipEnd - tailStart));
    if (p_file.Read(tailStart, tail.size(), tail.data())) {
        Unscramble(tail.data(), tail.size(), tailStart);
        for (std::size_t at = tail.size() - Size; at-- > 0;) {
            // A signature alone may be chance (above all in bytes unscrambled with a key that is
            // none): the central directory it names must end right where it begins.
            Zip::EndRecord candidate;
            if (!candidate.DecodeFrom(tail.data() + at))
                continue;
            const std::uint64_t centralEnd =
                std::uint64_t(candidate.centralDirectoryOffset) + candidate.centralDirectorySize;
            if (centralEnd != tailStart + at)
                continue;
            p_record = candidate;
            p_at = tailStart + at;
            const std::uint64_t behind = zipEnd - p_at - Size;
            Archive(Kind::Comment, p_record.commentLength == behind
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
    Zip::CentralHeader header;
    for (std::size_t index = 0; index < p_count; ++index) {
        if (!ReadRecord(p_file, p_at, header)) {
            Archive(Kind::BadCentral, "central header " + Number(index + 1) + " of " + Number(p_count) +
                                          " lies past the end of the archive");
            return;
        }
        if (!header.Valid()) {
            Archive(Kind::BadCentral, "central header " + Number(index + 1) + " of " + Number(p_count) +
                                          " at offset " + Number(p_at) + " has no signature");
            return;
        }
        const std::uint16_t nameLength = header.fileNameLength;
        InspectedEntry entry;
        entry.name.resize(nameLength);
        if (!ReadRun(p_file, p_at + Zip::CentralHeader::Size, nameLength, &entry.name[0])) {
            Archive(Kind::BadCentral, "the name of central header " + Number(index + 1) + " runs past the end");
            return;
        }
        entry.isDirectory = Zip::NamesFolder(entry.name);
        entry.flags = header.flags;
        entry.method = header.method;
        entry.crc32 = header.crc32;
        entry.compressedSize = header.compressedSize;
        entry.uncompressedSize = header.uncompressedSize;
        entry.localHeaderOffset = header.localHeaderOffset;
        entries.push_back(entry);
        entryFindings.emplace_back();
        p_at += Zip::CentralHeader::Size + nameLength + header.extraFieldLength + header.fileCommentLength;
    }
    // More headers behind the counted ones: a count the 16-bit field could not hold.
    char signature[4];
    const bool known = std::any_of(findings.begin(), findings.end(),
                                   [](const Finding& p_finding) { return p_finding.kind == Kind::Zip64; });
    if (!known && ReadRun(p_file, p_at, sizeof signature, signature) &&
        Zip::DecodeFixed32(reinterpret_cast<const unsigned char*>(signature)) == Zip::CentralHeader::Signature)
        Archive(Kind::Zip64, "more central headers than the end record's count of " + Number(p_count));
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

    Zip::LocalHeader header;
    if (!ReadRecord(p_file, entry.localHeaderOffset, header)) {
        About(p_index, Kind::BadLocal, "the local header at offset " + Number(entry.localHeaderOffset) +
                                           " lies past the end of the archive");
        return;
    }
    if (!header.Valid()) {
        About(p_index, Kind::BadLocal, "no local header at offset " + Number(entry.localHeaderOffset));
        return;
    }
    entry.localValid = true;
    entry.localSize = header.uncompressedSize;
    const std::uint64_t localCompressed = header.compressedSize;
    entry.dataOffset =
        entry.localHeaderOffset + Zip::LocalHeader::Size + header.fileNameLength + header.extraFieldLength;
    // A stored entry whose sizes follow its data: the central directory's size is the data.
    entry.dataSize = descriptor && entry.method == Zip::MethodStored && entry.localSize == 0 ? entry.compressedSize
                                                                                            : entry.localSize;
    entry.heldSize = entry.dataOffset < zipEnd ? std::min(entry.dataSize, zipEnd - entry.dataOffset) : 0;
    if (!descriptor) {
        if (entry.localSize != entry.uncompressedSize || localCompressed != entry.compressedSize)
            About(p_index, Kind::SizeMismatch,
                  "size " + Number(entry.localSize) + " in the local header, " + Number(entry.uncompressedSize) +
                      " in the central directory");
        if (header.crc32 != entry.crc32)
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

ArchiveDiagnostics::ArchiveDiagnostics(const std::string& p_file, const std::string& p_key, Reading p_reading)
    : _state(std::make_unique<State>())
{
    State& state = *_state;
    state.file = p_file;
    std::string key = p_key;
    WindowedFile file(p_file);
    if (!file.Opened()) {
        state.Archive(Kind::Unreadable, file.Error());
        return;
    }
    state.length = file.Length();
    state.zipEnd = state.length;

    const bool scrambledName =
        p_reading == Reading::ByName && Zip::IsScrambledArchive(AssetPath(qorfile::filepath(p_file)));
    if (scrambledName && key.empty()) {
        // The archive carries its key in its last 32 bytes, stored as is.
        key.assign(Zip::KeyTrailerLength, '\0');
        if (!file.Read(state.length - std::min<std::uint64_t>(state.length, Zip::KeyTrailerLength),
                       Zip::KeyTrailerLength, &key[0])) {
            state.Archive(Kind::NoEndRecord,
                          "the archive is " + Number(state.length) + " bytes, too short for a key and an end record");
            return;
        }
        state.zipEnd -= Zip::KeyTrailerLength;
    }
    state.scrambled = scrambledName;
    state.key = Zip::ScrambleKey(key);

    std::uint64_t endAt = 0;
    Zip::EndRecord end;
    if (!state.FindEndRecord(file, endAt, end))
        return;
    const std::uint16_t count = end.entriesOnDisk;
    const std::uint64_t centralOffset = end.centralDirectoryOffset;
    char locator[Zip::Zip64::LocatorSize];
    const bool hasLocator =
        endAt >= Zip::Zip64::LocatorSize &&
        state.ReadRun(file, endAt - Zip::Zip64::LocatorSize, sizeof locator, locator) &&
        Zip::DecodeFixed32(reinterpret_cast<const unsigned char*>(locator)) == Zip::Zip64::LocatorSignature;
    if (hasLocator)
        state.Archive(Kind::Zip64, "a ZIP64 end record: the entry count or an offset does not fit the end record");
    else if (count == 0xffff || centralOffset == 0xffffffffu)
        state.Archive(Kind::Zip64, "the end record's count or offset is a ZIP64 escape value");

    state.ReadCentral(file, centralOffset, count);
    std::unordered_map<std::string, std::size_t> files; // normalised name -> first file entry
    for (std::size_t i = 0; i < state.entries.size(); ++i) {
        state.ReadLocal(file, i);
        const InspectedEntry& entry = state.entries[i];
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
    WindowedFile file(_state->file);
    if (!file.Opened())
        return false;
    p_chunk = std::max<std::size_t>(1, p_chunk);
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(p_chunk, p_entry.heldSize)));
    // The data is one run from its first byte, however it is chunked.
    Zip::KeyStream data = _state->key.RunAt(static_cast<std::int64_t>(p_entry.dataOffset));
    std::uint64_t done = 0;
    while (done < p_entry.heldSize) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), p_entry.heldSize - done));
        if (!file.Read(p_entry.dataOffset + done, count, buffer.data()))
            return false;
        if (_state->scrambled)
            data.Xor(buffer.data(), count);
        done += count;
        if (!p_sink(buffer.data(), count))
            return true;
    }
    return true;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
