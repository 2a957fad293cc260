// ArchiveDiagnostics: what an archive file holds that ArchiveVolume cannot serve or that
// disagrees with itself, as findings (a kind and the entry it concerns), and the entries'
// data read in chunks.
//
// ArchiveDiagnostics reads the archive as ArchiveVolume would (the same key and the same rule:
// an archive whose extension is not exactly "zip" is scrambled, and without a given key it
// carries its key in its last 32 bytes), unless it is told to read it as a plain archive.
// Beyond the volume it looks for what the volume does not: a comment or bytes behind the end
// record, ZIP64 records, data descriptors, local headers that disagree with the central
// directory, data that runs past the archive or into other data, duplicate names, names that
// other tools read as something else ('.', '..', absolute, backslashes, a NUL, a UTF-8 flag on
// bytes that are not UTF-8), symbolic links, and totals of the end record that disagree with
// the central directory.
//
// Its memory is bounded by the archive's own length, whatever the archive's fields claim: it
// reads the file in windows of at most 64 KiB (the data of an entry in chunks the caller
// takes), holds one record per central header (at most 65 535), and reports rather than
// follows a count or an offset that the archive cannot hold. It never reports through ensure
// and never throws for a damaged archive; a file it cannot open is a finding too.
#pragma once

#include <Assets/Export.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API ArchiveDiagnostics {
public:
    // How the archive's bytes are read.
    enum class Reading {
        ByName, // as ArchiveVolume reads it: scrambled unless the extension is exactly "zip"
        Plain,  // as a plain ZIP whatever its name (a given key still unscrambles the records)
    };

    enum class Kind {
        Unreadable,     // the file cannot be opened or read (the detail has the system's reason)
        NoEndRecord,    // no end record where the volume reads it, and none nearby: not a ZIP
                        // archive, or a wrong key
        Comment,        // an archive comment or other bytes behind the end record
        Zip64,          // ZIP64 records: more entries or larger offsets than the end record holds
        BadCentral,     // a central header that is damaged or does not fit in the archive
        BadLocal,       // a local header that is damaged or does not fit in the archive
        EmptyName,      // a central header with a name of 0 bytes
        DataDescriptor, // sizes and CRC follow the data (bit 3): the local header holds none
        SizeMismatch,   // the local header's sizes differ from the central directory's
        CrcMismatch,    // the local header's CRC-32 differs from the central directory's
        DataPastEnd,    // the entry's data runs past the end of the archive
        Overlap,        // the entry's data overlaps another entry's local header or data
        Encrypted,      // bit 0 of the flags
        Deflated,       // compression method 8: listed, not opened
        Compressed,     // any other method but 0 and 8
        DuplicateName,  // a file entry whose name the volume reads as an earlier one's
        // Added later; the names an extractor or another tool reads otherwise than the volume.
        DotComponent,    // a "." component, "./Data/a.txt" as bsdtar stores it
        ParentComponent, // a ".." component
        AbsoluteName,    // a leading '/' or '\\', or a drive letter
        Backslash,       // a '\\' in the name: a separator to the volume, a character elsewhere
        NulInName,       // a NUL byte inside the name
        NotUtf8,         // the UTF-8 flag (bit 11) on a name that is not UTF-8
        SymbolicLink,    // the external attributes' Unix mode says symbolic link
        // The end record and the central directory disagree: its two counts, or the headers
        // it counts and those there are (when the directory ends before its count).
        CountMismatch,
        CentralSizeMismatch, // the end record's central directory size is not what the headers take
        MethodMismatch,      // the local header's compression method differs from the central one
        NameMismatch,        // the local header's name differs from the central one, or is missing
    };

    // What keeps the archive from being read whole, the first of them; None when nothing does.
    enum class Obstacle {
        None,
        Unreadable,   // the file cannot be opened or read
        KeyMissing,   // read as scrambled with the key of its last 32 bytes, and there is no end record
        PlainArchive, // ... because it is a plain archive, which its name makes scrambled
        WrongKey,     // a key was given, and with it there is no end record
        NotAnArchive, // no end record, read as plain
        Comment,      // Kind::Comment
        Zip64,        // Kind::Zip64
        Damaged,      // a damaged central directory (Kind::BadCentral or Kind::CountMismatch)
    };

    struct Finding {
        Kind kind;
        // The stored name of the entry concerned; empty for the archive as a whole.
        std::string entry;
        // Numbers and names that make the finding concrete, in words.
        std::string detail;
    };

    // One central directory header, with what its local header says.
    struct Entry {
        std::string name;         // as stored, unscrambled
        bool isDirectory = false; // the name ends in '/' or '\\'
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint32_t crc32 = 0;          // the central directory's
        std::uint64_t compressedSize = 0; // the central directory's
        std::uint64_t uncompressedSize = 0;
        std::uint64_t localHeaderOffset = 0;
        bool localValid = false;      // a local header with its signature was read
        std::uint64_t localSize = 0;  // the local header's uncompressed size: the bytes Open reads
        std::uint64_t dataOffset = 0; // the first data byte, behind the local name and extra
        // The stored data's length: localSize, or for a stored entry whose sizes follow its data
        // in a data descriptor (the local header says 0), the central directory's size.
        std::uint64_t dataSize = 0;
        // The bytes the archive holds from dataOffset on, at most dataSize: what ReadData gives.
        std::uint64_t heldSize = 0;
        std::uint16_t madeBy = 0; // "version made by": the system in its high byte
        std::uint32_t externalAttributes = 0;
        bool isLink = false;    // the external attributes' Unix mode says symbolic link
        std::uint16_t time = 0; // the central directory's MS-DOS time and date (local time)
        std::uint16_t date = 0;
        // The modification time of the central extended timestamp extra field, in seconds since
        // 1970-01-01 00:00 UTC, when the entry has one.
        bool hasModified = false;
        std::int64_t modified = 0;
    };

    // Diagnoses the archive file p_file with p_key (empty for none).
    ArchiveDiagnostics(const std::string& p_file, const std::string& p_key, Reading p_reading = Reading::ByName);
    ~ArchiveDiagnostics();
    ArchiveDiagnostics(const ArchiveDiagnostics&) = delete;
    ArchiveDiagnostics& operator=(const ArchiveDiagnostics&) = delete;

    // The central headers in stored order; those behind a damaged one are not listed.
    const std::vector<Entry>& Entries() const;
    // In the order they were found: archive-wide ones first, then by entry.
    const std::vector<Finding>& Findings() const;
    // Whether any finding means that the entries are not what the archive holds (the file is
    // unreadable, the end record is missing or misplaced, ZIP64, a damaged central header, a
    // count of entries other than the headers there are).
    bool Incomplete() const;
    // Whether the data is unscrambled (scrambled reading and a key).
    bool Scrambled() const;
    // The first obstacle to reading the archive whole, and the sentence that says it for a person
    // (empty for None): what draxel-assets prints, without its options. A host whose mount of
    // an archive failed (the volume reports through ensure) can diagnose the archive with the
    // same key and show this sentence instead of the failed check.
    Obstacle FirstObstacle() const;
    std::string Explanation() const;
    // The length of the archive file.
    std::uint64_t Length() const;

    // Hands p_entry's heldSize data bytes to p_sink in order, in chunks of at most p_chunk
    // bytes, unscrambled as ArchiveVolume unscrambles them; stops early when p_sink returns
    // false. False when the file cannot be read to the end of the held bytes.
    bool ReadData(const Entry& p_entry, const std::function<bool(const char*, std::size_t)>& p_sink,
                  std::size_t p_chunk = std::size_t(1) << 20) const;

    // How ReadData may also read: folding CR LF to LF as ArchiveVolume's Text mode does, and
    // counting the CRC-32 of the bytes as stored.
    struct DataReading {
        bool text = false;
        bool countCrc = false;
        std::size_t chunk = std::size_t(1) << 20;
    };
    struct DataRead {
        bool read = false;       // as ReadData's answer: false when the file could not be read
        std::uint32_t crc32 = 0; // of the stored bytes handed on, when counted
    };
    DataRead ReadData(const Entry& p_entry, const DataReading& p_reading,
                      const std::function<bool(const char*, std::size_t)>& p_sink) const;

    // A short lower-case text for a kind ("data descriptor", "ZIP64 records", ...).
    static const char* KindName(Kind p_kind);

private:
    struct ASSETS_LOCAL State;
    std::unique_ptr<State> _state;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
