// The walk of ArchiveDiagnostics over an archive's records: the end record, the central
// directory, each local header, and the spans the entries' data take.
#include "ArchiveDiagnosticsState.h"

#include "ArchiveCore/Names.h"

#include <algorithm>

namespace Qor {
namespace Draxel {
namespace Assets {

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
    const std::uint64_t start = p_at;
    Zip::CentralHeader header;
    for (std::size_t index = 0; index < p_count; ++index) {
        // An end record where a header belongs: the directory ends before its count.
        char signature[4];
        const bool ended =
            ReadRun(p_file, p_at, sizeof signature, signature) &&
            (Signature(signature) == Zip::EndRecord::Signature || Signature(signature) == Zip::Zip64::EndSignature);
        if (ended) {
            Archive(Kind::CountMismatch, "the end record counts " + Number(p_count) +
                                             " entries, the central directory ends after " + Number(index));
            return;
        }
        if (!ReadRecord(p_file, p_at, header)) {
            Archive(Kind::BadCentral, "central header " + Number(index + 1) + " of " + Number(p_count) +
                                          " lies past the end of the archive");
            return;
        }
        if (!header.Valid()) {
            Archive(Kind::BadCentral, "central header " + Number(index + 1) + " of " + Number(p_count) + " at offset " +
                                          Number(p_at) + " has no signature");
            return;
        }
        const std::uint16_t nameLength = header.fileNameLength;
        Entry entry;
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
        entry.madeBy = header.versionMadeBy;
        entry.externalAttributes = header.externalAttributes;
        entry.isLink = Zip::IsSymbolicLink(entry.madeBy, entry.externalAttributes);
        entry.time = header.time;
        entry.date = header.date;
        if (header.extraFieldLength > 0) {
            std::string extra(header.extraFieldLength, '\0');
            Zip::ExtendedTimestamp timestamp;
            if (ReadRun(p_file, p_at + Zip::CentralHeader::Size + nameLength, extra.size(), &extra[0]) &&
                timestamp.FindIn(extra.data(), extra.size())) {
                entry.hasModified = true;
                entry.modified = timestamp.modified;
            }
        }
        entries.push_back(entry);
        entryFindings.emplace_back();
        p_at += Zip::CentralHeader::Size + nameLength + header.extraFieldLength + header.fileCommentLength;
    }
    totals.walkedSize = p_at - start;
    totals.walked = true;
    // More headers behind the counted ones: a count the 16-bit field could not hold (written
    // without ZIP64 records), or one that is wrong.
    char signature[4];
    const bool known = std::any_of(findings.begin(), findings.end(),
                                   [](const Finding& p_finding) { return p_finding.kind == Kind::Zip64; });
    if (!known && ReadRun(p_file, p_at, sizeof signature, signature) &&
        Signature(signature) == Zip::CentralHeader::Signature) {
        if (p_count == Zip::MaxEntries)
            Archive(Kind::Zip64, "more central headers than the end record's count of " + Number(p_count));
        else
            Archive(Kind::CountMismatch,
                    "the end record counts " + Number(p_count) + " entries, more central headers follow");
    }
}

void ArchiveDiagnostics::State::ReadLocal(WindowedFile& p_file, std::size_t p_index)
{
    Entry& entry = entries[p_index];
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
        About(p_index, Kind::BadLocal,
              "the local header at offset " + Number(entry.localHeaderOffset) + " lies past the end of the archive");
        return;
    }
    if (!header.Valid()) {
        About(p_index, Kind::BadLocal, "no local header at offset " + Number(entry.localHeaderOffset));
        return;
    }
    entry.localValid = true;
    CompareLocal(p_file, p_index, header);
    entry.localSize = header.uncompressedSize;
    const std::uint64_t localCompressed = header.compressedSize;
    entry.dataOffset =
        entry.localHeaderOffset + Zip::LocalHeader::Size + header.fileNameLength + header.extraFieldLength;
    // A stored entry whose sizes follow its data: the central directory's size is the data.
    entry.dataSize = descriptor && entry.method == Zip::MethodStored && entry.localSize == 0 ? entry.compressedSize
                                                                                             : entry.localSize;
    entry.heldSize = entry.dataOffset < zipEnd ? std::min(entry.dataSize, zipEnd - entry.dataOffset) : 0;
    if (!descriptor) {
        // The detail names the size that differs, the uncompressed one first.
        if (entry.localSize != entry.uncompressedSize)
            About(p_index, Kind::SizeMismatch,
                  "size " + Number(entry.localSize) + " in the local header, " + Number(entry.uncompressedSize) +
                      " in the central directory");
        else if (localCompressed != entry.compressedSize)
            About(p_index, Kind::SizeMismatch,
                  "compressed size " + Number(localCompressed) + " in the local header, " +
                      Number(entry.compressedSize) + " in the central directory");
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

// The local header repeats the method and the name. The volume reads neither, but other
// readers take one or the other from there. The name is compared in unkeyed archives only:
// in a scrambled one the volume never unscrambles it, and packers leave it as they like.
void ArchiveDiagnostics::State::CompareLocal(WindowedFile& p_file, std::size_t p_index,
                                             const Zip::LocalHeader& p_header)
{
    const Entry& entry = entries[p_index];
    if (p_header.method != entry.method)
        About(p_index, Kind::MethodMismatch,
              "method " + Number(p_header.method) + " in the local header, " + Number(entry.method) +
                  " in the central directory");
    if (!key.empty())
        return;
    std::string name(p_header.fileNameLength, '\0');
    if (name.empty())
        About(p_index, Kind::NameMismatch, "the local header has no name");
    else if (ReadRun(p_file, entry.localHeaderOffset + Zip::LocalHeader::Size, name.size(), &name[0]) &&
             name != entry.name)
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
        const Entry& entry = entries[i];
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
} // namespace Assets
} // namespace Draxel
} // namespace Qor
