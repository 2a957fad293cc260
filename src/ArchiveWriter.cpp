// The archive writer: local headers and data as entries come, then the central directory,
// the end record and the optional key trailer, each byte scrambled by its offset.
#include <Assets/ArchiveWriter.h>

#include "EntryNames.h"
#include "Platform.h"
#include "ZipFormat.h"

#include <fstream>
#include <limits>
#include <stdexcept>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

using Zip::Crc32;
using Zip::EncodeFixed16;
using Zip::EncodeFixed32;
using Zip::MaxEntries;
using Zip::MaxOffset;

static_assert(ArchiveWriter::KeyTrailerLength == Zip::KeyTrailerLength, "one trailer length");

constexpr std::uint16_t VersionStored = 10;   // 1.0: stored entries
constexpr std::uint16_t VersionDirectory = 20; // 2.0: directory entries
constexpr std::uint16_t MadeByUnix = (3 << 8) | 20;
constexpr std::uint16_t DosTime = 0;
constexpr std::uint16_t DosDate = (1 << 5) | 1; // 1980-01-01

// A name with a byte past ASCII is marked as UTF-8 (bit 11) when it is UTF-8, so that other
// tools do not read it in their legacy code page. A name that is not UTF-8 (a Latin-1 file
// name on a Unix file system) is stored as it is, unmarked: the flag would be a lie that
// strict readers refuse.
std::uint16_t NameFlags(const std::string& p_name)
{
    return EntryNames::HasNonAscii(p_name) && EntryNames::IsUtf8(p_name) ? Zip::FlagUtf8 : 0;
}

struct CentralRecord {
    std::string name;
    std::uint32_t crc;
    std::uint32_t size;
    std::uint32_t localHeaderOffset;
    bool directory;
};

} // namespace

struct ArchiveWriter::State {
    std::ostream& out;
    std::string key;
    std::uint64_t offset = 0;
    std::vector<CentralRecord> records;
    bool finished = false;
    std::string scratch;

    State(std::ostream& p_out, const std::string& p_key) : out(p_out), key(p_key) {}

    // Scrambles (when keyed) and writes p_count bytes at the current offset.
    void Write(const char* p_bytes, std::size_t p_count)
    {
        if (p_count == 0)
            return;
        if (key.empty()) {
            out.write(p_bytes, static_cast<std::streamsize>(p_count));
        } else {
            const std::size_t chunkSize = 65536;
            std::size_t index = offset % key.size();
            for (std::size_t done = 0; done < p_count; done += chunkSize) {
                const std::size_t count = std::min(chunkSize, p_count - done);
                scratch.assign(p_bytes + done, count);
                for (char& byte : scratch) {
                    byte = static_cast<char>(byte ^ key[index]);
                    if (++index == key.size())
                        index = 0;
                }
                out.write(scratch.data(), static_cast<std::streamsize>(count));
            }
        }
        if (!out)
            throw std::runtime_error("archive writer: writing the archive failed");
        offset += p_count;
    }

    void Write(const std::string& p_bytes) { Write(p_bytes.data(), p_bytes.size()); }

    // Validates a new entry and writes its local header; the data follows from the caller.
    void BeginEntry(const std::string& p_name, std::uint64_t p_size, std::uint32_t p_crc, bool p_directory)
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

        records.push_back(CentralRecord{p_name, p_crc, static_cast<std::uint32_t>(p_size),
                                        static_cast<std::uint32_t>(offset), p_directory});
        std::string header;
        EncodeFixed32(header, Zip::Local::Signature);
        EncodeFixed16(header, p_directory ? VersionDirectory : VersionStored);
        EncodeFixed16(header, NameFlags(p_name));
        EncodeFixed16(header, Zip::MethodStored);
        EncodeFixed16(header, DosTime);
        EncodeFixed16(header, DosDate);
        EncodeFixed32(header, p_crc);
        EncodeFixed32(header, static_cast<std::uint32_t>(p_size));
        EncodeFixed32(header, static_cast<std::uint32_t>(p_size));
        EncodeFixed16(header, static_cast<std::uint16_t>(p_name.size()));
        EncodeFixed16(header, 0); // extra
        header += p_name;
        Write(header);
    }
};

ArchiveWriter::ArchiveWriter(std::ostream& p_out, const std::string& p_key) : _state(new State(p_out, p_key)) {}

ArchiveWriter::~ArchiveWriter() = default;

void ArchiveWriter::AddBytes(const std::string& p_name, const std::string& p_bytes)
{
    _state->BeginEntry(p_name, p_bytes.size(), Crc32(0, p_bytes.data(), p_bytes.size()), false);
    _state->Write(p_bytes);
}

void ArchiveWriter::AddFile(const std::string& p_name, const qorfile::filepath& p_file)
{
    std::filebuf buffer;
    const bool opened = Platform::OpenFileBuffer(buffer, p_file.str().c_str(), std::ios_base::in | std::ios_base::binary);
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

    _state->BeginEntry(p_name, size, crc, false);
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
    State& state = *_state;
    state.BeginEntry(p_name, p_size, p_crc, false);
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
    std::string name = p_name;
    if (name.empty() || (name.back() != '/' && name.back() != '\\'))
        name += '/';
    _state->BeginEntry(name, 0, 0, true);
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
        std::string header;
        EncodeFixed32(header, Zip::Central::Signature);
        EncodeFixed16(header, MadeByUnix);
        EncodeFixed16(header, record.directory ? VersionDirectory : VersionStored);
        EncodeFixed16(header, NameFlags(record.name));
        EncodeFixed16(header, Zip::MethodStored);
        EncodeFixed16(header, DosTime);
        EncodeFixed16(header, DosDate);
        EncodeFixed32(header, record.crc);
        EncodeFixed32(header, record.size);
        EncodeFixed32(header, record.size);
        EncodeFixed16(header, static_cast<std::uint16_t>(record.name.size()));
        EncodeFixed16(header, 0); // extra
        EncodeFixed16(header, 0); // comment
        EncodeFixed16(header, 0); // disk
        EncodeFixed16(header, 0); // internal attributes
        // Unix mode in the high half: rw-r--r-- for files, rwxr-xr-x for directories;
        // MS-DOS directory bit in the low half.
        EncodeFixed32(header, record.directory ? ((040755u << 16) | 0x10u) : (0100644u << 16));
        EncodeFixed32(header, record.localHeaderOffset);
        header += record.name;
        state.Write(header);
    }
    const std::uint64_t centralSize = state.offset - centralOffset;
    if (state.offset > MaxOffset)
        throw std::length_error("archive writer: archive larger than 4 GiB");

    std::string end;
    EncodeFixed32(end, Zip::End::Signature);
    EncodeFixed16(end, 0);
    EncodeFixed16(end, 0);
    EncodeFixed16(end, static_cast<std::uint16_t>(state.records.size()));
    EncodeFixed16(end, static_cast<std::uint16_t>(state.records.size()));
    EncodeFixed32(end, static_cast<std::uint32_t>(centralSize));
    EncodeFixed32(end, static_cast<std::uint32_t>(centralOffset));
    EncodeFixed16(end, 0); // comment
    state.Write(end);

    if (p_keyTrailer) {
        state.out.write(state.key.data(), static_cast<std::streamsize>(state.key.size()));
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
