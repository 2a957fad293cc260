// The archive writer: local headers and data as entries come, then the central directory,
// the end record and the optional key trailer. Scrambled by the key stream in the runs the
// reader unscrambles: each record, each name and each entry's data is a run of its own.
#include <Assets/ArchiveWriter.h>

#include "ArchiveCore/Format.h"
#include "ArchiveCore/KeyStream.h"
#include "ArchiveCore/Names.h"
#include "ArchiveCore/Records.h"
#include "Platform.h"

#include <fstream>
#include <limits>
#include <stdexcept>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

using Zip::Crc32;
using Zip::MaxEntries;
using Zip::MaxOffset;

static_assert(ArchiveWriter::KeyTrailerLength == Zip::KeyTrailerLength, "one trailer length");

constexpr std::uint16_t VersionStored = 10;    // 1.0: stored entries
constexpr std::uint16_t VersionDirectory = 20; // 2.0: directory entries
constexpr std::uint16_t MadeByUnix = (Zip::MadeByUnixSystem << 8) | 20;
constexpr std::uint32_t UnixFile = 0100000, UnixDirectory = 040000;
constexpr std::uint32_t DefaultFileMode = 0644, DefaultDirectoryMode = 0755;
constexpr std::uint32_t DosDirectory = 0x10;

// A name with a byte past ASCII is marked as UTF-8 (bit 11) when it is UTF-8, so that other
// tools do not read it in their legacy code page. A name that is not UTF-8 (a Latin-1 file
// name on a Unix file system) is stored as it is, unmarked: the flag would be a lie that
// strict readers refuse.
std::uint16_t NameFlags(const std::string& p_name)
{
    return Zip::HasNonAscii(p_name) && Zip::IsUtf8(p_name) ? Zip::FlagUtf8 : 0;
}

struct CentralRecord {
    std::string name;
    std::uint32_t crc;
    std::uint32_t size;
    std::uint32_t localHeaderOffset;
    bool directory;
    std::uint16_t time;
    std::uint16_t date;
    std::string extra; // the same in the local header and the central directory
    std::uint32_t externalAttributes;
};

// The dating fields and the attributes of an entry with p_stamp: without a time, the first
// date there is; a time the extended timestamp cannot hold is kept in the local fields only.
void Date(CentralRecord& p_record, const ArchiveWriter::Stamp& p_stamp)
{
    p_record.time = Zip::DosFirstTime;
    p_record.date = Zip::DosFirstDate;
    if (p_stamp.hasTime) {
        std::tm local{};
        if (!Platform::LocalTime(p_stamp.modified, local))
            throw std::invalid_argument("archive writer: a modification time the system cannot convert: " +
                                        p_record.name);
        Zip::EncodeDosTime(local, p_record.date, p_record.time);
        if (Zip::ExtendedTimestamp::Holds(p_stamp.modified)) {
            Zip::ExtendedTimestamp timestamp;
            timestamp.modified = p_stamp.modified;
            timestamp.EncodeTo(p_record.extra);
        }
    }
    // Unix mode in the high half; the MS-DOS directory bit in the low half.
    const std::uint32_t mode = p_stamp.hasMode      ? (p_stamp.mode & 07777)
                               : p_record.directory ? DefaultDirectoryMode
                                                    : DefaultFileMode;
    p_record.externalAttributes =
        p_record.directory ? (((UnixDirectory | mode) << 16) | DosDirectory) : ((UnixFile | mode) << 16);
}

} // namespace

struct ArchiveWriter::State {
    std::ostream& out;
    const Zip::ScrambleKey key;
    Zip::KeyStream run; // the run being written
    std::uint64_t offset = 0;
    std::vector<CentralRecord> records;
    bool finished = false;
    std::string scratch;

    State(std::ostream& p_out, const std::string& p_key) : out(p_out), key(p_key), run(key.RunAt(0)) {}

    // A record, a name or an entry's data begins here.
    void BeginRun() { run = key.RunAt(static_cast<std::int64_t>(offset)); }

    // Scrambles (when keyed) and writes the run's next p_count bytes.
    void Write(const char* p_bytes, std::size_t p_count)
    {
        if (p_count == 0)
            return;
        if (key.empty()) {
            out.write(p_bytes, static_cast<std::streamsize>(p_count));
        } else {
            const std::size_t chunkSize = 65536;
            for (std::size_t done = 0; done < p_count; done += chunkSize) {
                const std::size_t count = std::min(chunkSize, p_count - done);
                scratch.assign(p_bytes + done, count);
                run.Xor(&scratch[0], count);
                out.write(scratch.data(), static_cast<std::streamsize>(count));
            }
        }
        if (!out)
            throw std::runtime_error("archive writer: writing the archive failed");
        offset += p_count;
    }

    void WriteRun(const std::string& p_bytes)
    {
        BeginRun();
        Write(p_bytes.data(), p_bytes.size());
    }

    // Validates a new entry and writes its local header and name; the caller writes the data
    // after BeginRun.
    void BeginEntry(const std::string& p_name, std::uint64_t p_size, std::uint32_t p_crc, bool p_directory,
                    const Stamp& p_stamp)
    {
        if (finished)
            throw std::logic_error("archive writer: entry added after Finish");
        if (p_name.empty())
            throw std::invalid_argument("archive writer: an entry name must not be empty");
        if (p_name.size() > Zip::MaxNameLength)
            throw std::length_error("archive writer: entry name longer than 65535 bytes: " + p_name.substr(0, 64));
        if (records.size() >= MaxEntries)
            throw std::length_error("archive writer: more than 65535 entries");
        if (p_size > MaxOffset)
            throw std::length_error("archive writer: entry larger than 4 GiB: " + p_name);
        if (offset > MaxOffset)
            throw std::length_error("archive writer: archive larger than 4 GiB");

        CentralRecord record{p_name,
                             p_crc,
                             static_cast<std::uint32_t>(p_size),
                             static_cast<std::uint32_t>(offset),
                             p_directory,
                             0,
                             0,
                             std::string(),
                             0};
        Date(record, p_stamp);
        Zip::LocalHeader header;
        header.versionNeeded = p_directory ? VersionDirectory : VersionStored;
        header.flags = NameFlags(p_name);
        header.method = Zip::MethodStored;
        header.time = record.time;
        header.date = record.date;
        header.crc32 = p_crc;
        header.compressedSize = static_cast<std::uint32_t>(p_size);
        header.uncompressedSize = static_cast<std::uint32_t>(p_size);
        header.fileNameLength = static_cast<std::uint16_t>(p_name.size());
        header.extraFieldLength = static_cast<std::uint16_t>(record.extra.size());
        std::string bytes;
        header.EncodeTo(bytes);
        WriteRun(bytes);
        WriteRun(p_name);
        WriteRun(record.extra);
        records.push_back(std::move(record));
        BeginRun();
    }
};

ArchiveWriter::ArchiveWriter(std::ostream& p_out, const std::string& p_key) : _state(new State(p_out, p_key)) {}

ArchiveWriter::~ArchiveWriter() = default;

void ArchiveWriter::AddBytes(const std::string& p_name, const std::string& p_bytes)
{
    AddBytes(p_name, p_bytes, Stamp());
}

void ArchiveWriter::AddBytes(const std::string& p_name, const std::string& p_bytes, const Stamp& p_stamp)
{
    _state->BeginEntry(p_name, p_bytes.size(), Crc32(0, p_bytes.data(), p_bytes.size()), false, p_stamp);
    _state->Write(p_bytes.data(), p_bytes.size());
}

void ArchiveWriter::AddFile(const std::string& p_name, const qorfile::filepath& p_file)
{
    AddFile(p_name, p_file, Stamp());
}

void ArchiveWriter::AddFile(const std::string& p_name, const qorfile::filepath& p_file, const Stamp& p_stamp)
{
    std::filebuf buffer;
    const bool opened =
        Platform::OpenFileBuffer(buffer, p_file.str().c_str(), std::ios_base::in | std::ios_base::binary);
    std::istream file(&buffer);
    if (!opened || qorfile::direxists(p_file))
        throw std::runtime_error("archive writer: cannot read " + p_file.str());

    std::vector<char> chunk(1 << 16);
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || file.gcount() > 0) {
        const std::size_t count = static_cast<std::size_t>(file.gcount());
        crc = Crc32(crc, chunk.data(), count);
        size += count;
    }
    if (file.bad())
        throw std::runtime_error("archive writer: reading failed: " + p_file.str());

    _state->BeginEntry(p_name, size, crc, false, p_stamp);
    file.clear();
    file.seekg(0, std::ios_base::beg);
    std::uint64_t copied = 0;
    while (copied < size) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - copied));
        file.read(chunk.data(), static_cast<std::streamsize>(want));
        if (static_cast<std::size_t>(file.gcount()) != want)
            throw std::runtime_error("archive writer: file changed while it was packed: " + p_file.str());
        _state->Write(chunk.data(), want);
        copied += want;
    }
}

void ArchiveWriter::AddStream(const std::string& p_name, std::uint64_t p_size, std::uint32_t p_crc,
                              const std::function<void(const Sink&)>& p_produce)
{
    AddStream(p_name, p_size, p_crc, p_produce, Stamp());
}

void ArchiveWriter::AddStream(const std::string& p_name, std::uint64_t p_size, std::uint32_t p_crc,
                              const std::function<void(const Sink&)>& p_produce, const Stamp& p_stamp)
{
    State& state = *_state;
    state.BeginEntry(p_name, p_size, p_crc, false, p_stamp);
    std::uint64_t written = 0;
    std::uint32_t crc = 0;
    p_produce([&](const char* p_bytes, std::size_t p_count) {
        if (p_count > p_size - written)
            throw std::invalid_argument("archive writer: more data than the size it was added with: " + p_name);
        crc = Crc32(crc, p_bytes, p_count);
        state.Write(p_bytes, p_count);
        written += p_count;
    });
    if (written != p_size)
        throw std::invalid_argument("archive writer: less data than the size it was added with: " + p_name);
    if (crc != p_crc)
        throw std::invalid_argument("archive writer: the data does not match the CRC-32 it was added with: " + p_name);
}

void ArchiveWriter::AddDirectory(const std::string& p_name)
{
    AddDirectory(p_name, Stamp());
}

void ArchiveWriter::AddDirectory(const std::string& p_name, const Stamp& p_stamp)
{
    std::string name = p_name;
    if (!Zip::NamesFolder(name))
        name += '/';
    _state->BeginEntry(name, 0, 0, true, p_stamp);
}

void ArchiveWriter::Finish(bool p_keyTrailer)
{
    State& state = *_state;
    if (state.finished)
        throw std::logic_error("archive writer: Finish called twice");
    if (p_keyTrailer && state.key.size() != KeyTrailerLength)
        throw std::invalid_argument("archive writer: a key trailer needs a key of exactly 32 bytes");
    if (state.offset > MaxOffset)
        throw std::length_error("archive writer: archive larger than 4 GiB");

    const std::uint64_t centralOffset = state.offset;
    for (const CentralRecord& record : state.records) {
        Zip::CentralHeader header;
        header.versionMadeBy = MadeByUnix;
        header.versionNeeded = record.directory ? VersionDirectory : VersionStored;
        header.flags = NameFlags(record.name);
        header.method = Zip::MethodStored;
        header.time = record.time;
        header.date = record.date;
        header.crc32 = record.crc;
        header.compressedSize = record.size;
        header.uncompressedSize = record.size;
        header.fileNameLength = static_cast<std::uint16_t>(record.name.size());
        header.extraFieldLength = static_cast<std::uint16_t>(record.extra.size());
        header.externalAttributes = record.externalAttributes;
        header.localHeaderOffset = record.localHeaderOffset;
        std::string bytes;
        header.EncodeTo(bytes);
        state.WriteRun(bytes);
        state.WriteRun(record.name);
        state.WriteRun(record.extra);
    }
    const std::uint64_t centralSize = state.offset - centralOffset;
    if (state.offset > MaxOffset)
        throw std::length_error("archive writer: archive larger than 4 GiB");

    Zip::EndRecord end;
    end.entriesOnDisk = static_cast<std::uint16_t>(state.records.size());
    end.entriesTotal = static_cast<std::uint16_t>(state.records.size());
    end.centralDirectorySize = static_cast<std::uint32_t>(centralSize);
    end.centralDirectoryOffset = static_cast<std::uint32_t>(centralOffset);
    std::string bytes;
    end.EncodeTo(bytes);
    state.WriteRun(bytes);

    if (p_keyTrailer) {
        state.out.write(state.key.str().data(), static_cast<std::streamsize>(state.key.size()));
        if (!state.out)
            throw std::runtime_error("archive writer: writing the archive failed");
    }
    state.out.flush();
    if (!state.out)
        throw std::runtime_error("archive writer: writing the archive failed");
    state.finished = true;
}

std::uint64_t ArchiveWriter::EntryCount() const
{
    return _state->records.size();
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
