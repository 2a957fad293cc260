// ArchiveDiagnostics: a bounded walk over an archive file that reports, rather than follows,
// whatever the archive volume cannot serve or the archive contradicts.
#include <Assets/ArchiveDiagnostics.h>

#include <Assets/AssetPath.h>

#include "ArchiveCore/EntryReader.h"
#include "ArchiveCore/Names.h"
#include "ArchiveDiagnosticsState.h"

#include <QorFile.h>

#include <algorithm>
#include <unordered_map>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

using Archive::WindowedFile;

// Why there is no end record, as far as the name, the key and a plain reading tell.
ArchiveDiagnostics::Obstacle NoEndRecordObstacle(const std::string& p_file, const std::string& p_key,
                                                 bool p_scrambledName)
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
    std::string key = p_key;
    WindowedFile file(p_file);
    if (!file.Opened()) {
        state.Archive(Kind::Unreadable, file.Error());
        state.Block(Obstacle::Unreadable, file.Error());
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
            state.Archive(Kind::NoEndRecord, "the archive is " + State::Number(state.length) +
                                                 " bytes, too short for a key and an end record");
            state.Block(NoEndRecordObstacle(p_file, p_key, scrambledName), std::string());
            return;
        }
        state.zipEnd -= Zip::KeyTrailerLength;
    }
    state.scrambled = scrambledName;
    state.key = Zip::ScrambleKey(key);

    std::uint64_t endAt = 0;
    Zip::EndRecord end;
    if (!state.FindEndRecord(file, endAt, end)) {
        state.Block(NoEndRecordObstacle(p_file, p_key, scrambledName), std::string());
        return;
    }
    const std::uint16_t count = end.entriesOnDisk;
    const std::uint64_t centralOffset = end.centralDirectoryOffset;
    char locator[Zip::Zip64::LocatorSize];
    const bool hasLocator =
        endAt >= Zip::Zip64::LocatorSize &&
        state.ReadRun(file, endAt - Zip::Zip64::LocatorSize, sizeof locator, locator) &&
        Zip::DecodeFixed32(reinterpret_cast<const unsigned char*>(locator)) == Zip::Zip64::LocatorSignature;
    if (hasLocator)
        state.Archive(Kind::Zip64, "a ZIP64 end record: the entry count or an offset does not fit the end record");
    else if (centralOffset == Zip::MaxOffset)
        state.Archive(Kind::Zip64, "the end record's offset is a ZIP64 escape value");
    // 65 535 entries without ZIP64 records is a plain archive that fills the count.

    state.ReadCentral(file, centralOffset, count);
    state.totals.entriesOnDisk = count;
    state.totals.entriesTotal = end.entriesTotal;
    state.totals.claimedSize = end.centralDirectorySize;
    if (!hasLocator)
        for (ArchiveFindings::Found& found : ArchiveFindings::TotalsFindings(state.totals))
            state.Archive(found.kind, found.detail, false);
    std::unordered_map<std::string, std::size_t> files; // normalised name -> first file entry
    for (std::size_t i = 0; i < state.entries.size(); ++i) {
        state.ReadLocal(file, i);
        const Entry& entry = state.entries[i];
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

const std::vector<ArchiveDiagnostics::Entry>& ArchiveDiagnostics::Entries() const
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

bool ArchiveDiagnostics::ReadData(const Entry& p_entry, const std::function<bool(const char*, std::size_t)>& p_sink,
                                  std::size_t p_chunk) const
{
    DataReading reading;
    reading.chunk = p_chunk;
    return ReadData(p_entry, reading, p_sink).read;
}

ArchiveDiagnostics::DataRead
ArchiveDiagnostics::ReadData(const Entry& p_entry, const DataReading& p_reading,
                             const std::function<bool(const char*, std::size_t)>& p_sink) const
{
    DataRead result;
    if (p_entry.heldSize == 0) {
        result.read = true;
        return result;
    }
    WindowedFile file(_state->file);
    if (!file.Opened())
        return result;
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::size_t>(1, p_reading.chunk), p_entry.heldSize));
    std::vector<char> buffer(chunk + 1);
    // The window reads a whole chunk or nothing; a file cut shorter since it was measured
    // ends the reading there.
    std::uint64_t next = p_entry.dataOffset;
    const auto readNext = [&](char* p_bytes, std::size_t p_count) -> std::size_t {
        if (!file.Read(next, p_count, p_bytes))
            return 0;
        next += p_count;
        return p_count;
    };
    bool stopped = false;
    const Zip::EntryRead read =
        Zip::EntryReader(_state->scrambled ? &_state->key : nullptr, static_cast<std::int64_t>(p_entry.dataOffset),
                         p_entry.heldSize)
            .Text(p_reading.text)
            .CountCrc(p_reading.countCrc)
            .Read(readNext, buffer.data(), chunk, [&](const char* p_bytes, std::size_t p_count) {
                stopped = !p_sink(p_bytes, p_count);
                return !stopped;
            });
    result.read = stopped || !read.ended;
    result.crc32 = read.crc32;
    return result;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
