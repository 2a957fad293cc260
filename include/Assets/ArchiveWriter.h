// ArchiveWriter: writes ZIP archives of stored entries that ArchiveVolume reads, plain or
// scrambled.
//
// Entries are written to the output as they are added; the central directory and the end
// record follow at Finish. With a key, every byte of the archive is XORed with a key byte, in
// the runs ArchiveVolume reads: each record, name and entry's data starts at the key index of
// its offset taken as a signed 32-bit number, reduced to the least non-negative remainder
// modulo the key's length (below 2 GiB simply key[offset mod key length]; the whole rule is
// in docs/ARCHIVE_FORMAT.md). Finish(true) appends the key itself as the 32-byte trailer (the
// key must then be exactly 32 bytes), which is how an archive carries its own key.
// Unscrambled, the output is a standard ZIP file.
//
// Every entry is dated 1980-01-01 00:00 and given mode 0644 (0755 for a directory) unless it is
// added with a Stamp, so that the same content always gives the same bytes. A Stamp keeps a
// modification time (the local date and time of the headers, and the extended timestamp extra
// field in UTC) and Unix permission bits (the high half of the external attributes).
//
// Limits of the format are errors (std::invalid_argument or std::length_error): an empty
// name or one over 65 535 bytes, more than 65 535 entries, sizes or offsets past 4 GiB.
// A failed write is std::runtime_error. The writer keeps only the central records in memory.
#pragma once

#include <Assets/Export.h>

#include <QorFile.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API ArchiveWriter {
public:
    // p_out must stay valid until Finish; it receives the archive from its first byte.
    explicit ArchiveWriter(std::ostream& p_out, const std::string& p_key = std::string());
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // What an entry keeps of its source; either part may be missing.
    struct Stamp {
        bool hasTime = false;
        std::int64_t modified = 0; // seconds since 1970-01-01 00:00 UTC
        bool hasMode = false;
        std::uint32_t mode = 0; // permission bits (07777 at most; the type is the entry's)
    };

    // A stored file entry named p_name (as stored: '/' separates folders) with p_bytes.
    void AddBytes(const std::string& p_name, const std::string& p_bytes);
    void AddBytes(const std::string& p_name, const std::string& p_bytes, const Stamp& p_stamp);
    // A stored file entry with the content of the host file p_file, read in two passes.
    void AddFile(const std::string& p_name, const qorfile::filepath& p_file);
    void AddFile(const std::string& p_name, const qorfile::filepath& p_file, const Stamp& p_stamp);
    // Takes a chunk of an entry's data: p_count bytes at p_bytes.
    using Sink = std::function<void(const char* p_bytes, std::size_t p_count)>;
    // A stored file entry of p_size bytes whose CRC-32 is p_crc (both known beforehand, as an
    // archive's central directory knows them), its data handed by p_produce to the sink it is
    // given, in chunks of any size: nothing of it is kept. Data longer or shorter than p_size,
    // or of another CRC-32, is std::invalid_argument, and the archive written so far must then
    // be discarded; so must it when p_produce throws.
    void AddStream(const std::string& p_name, std::uint64_t p_size, std::uint32_t p_crc,
                   const std::function<void(const Sink&)>& p_produce);
    void AddStream(const std::string& p_name, std::uint64_t p_size, std::uint32_t p_crc,
                   const std::function<void(const Sink&)>& p_produce, const Stamp& p_stamp);
    // A directory entry; a '/' is appended to p_name when it has none.
    void AddDirectory(const std::string& p_name);
    void AddDirectory(const std::string& p_name, const Stamp& p_stamp);

    // Writes the central directory and the end record, and the key trailer when asked.
    void Finish(bool p_keyTrailer = false);

    std::uint64_t EntryCount() const;

    // The 32-byte key trailer length.
    static constexpr std::size_t KeyTrailerLength = 32;

private:
    struct ASSETS_LOCAL State;
    std::unique_ptr<State> _state;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
