// How the archive commands of draxel-assets read an archive file: through ArchiveDiagnostics
// (never through ArchiveVolume::Open, so that memory stays bounded whatever the archive
// claims), with the one-line reasons why an archive cannot be read, and entries streamed in
// chunks.
#pragma once

#include "Commands.h"

#include <Assets/ArchiveDiagnostics.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace draxel_tool {

using ArchiveDiagnostics = Qor::Draxel::Assets::ArchiveDiagnostics;

struct ArchiveOptions {
    std::string file; // as given; "-" is standard input
    KeyOptions key;
    bool plain = false;
    // The file DiagnoseArchive read: the file itself, or a copy of what standard input, a pipe
    // or a device gave.
    std::string readFrom;
};
// ARCHIVE, --key, --key-file and --plain.
void AddArchiveOptions(CLI::App& p_command, ArchiveOptions& p_options);

// The archive diagnosed as p_options say. A file that cannot be read is a Failure; so is an
// archive without an end record, which also says when the file reads as a plain ZIP that its
// name makes scrambled (--plain reads it as it is).
//
// An archive that cannot be read twice (standard input, a pipe, a device) is copied to a
// temporary file first, which is removed when the program ends, by a signal too. Without a
// name that ends in zip, --plain or a key, a stream (such a copy, or a file below /dev/ such
// as /dev/stdin) is read as plain when it is a plain ZIP, and as scrambled with the key in
// its last 32 bytes otherwise. Sets p_options.readFrom, and p_options.plain when the stream
// was read as plain.
std::unique_ptr<ArchiveDiagnostics> DiagnoseArchive(ArchiveOptions& p_options);

// The one line why the diagnostics' entries are not all the archive holds; empty when they are.
std::string IncompleteReason(const ArchiveDiagnostics& p_diagnostics);

// The entries in the order the volume lists paths (the normalised names' order; equal ones in
// stored order).
std::vector<const ArchiveDiagnostics::Entry*> InPathOrder(const ArchiveDiagnostics& p_diagnostics);

// Why a file entry's bytes cannot be read as the volume serves them ("encrypted entry",
// "deflated entry (compressed)", ...); empty when they can: a stored, unencrypted file whose
// local header was read and whose data the archive holds whole.
std::string Unopenable(const ArchiveDiagnostics::Entry& p_entry);
bool Readable(const ArchiveDiagnostics::Entry& p_entry);

// Streams an entry's bytes to p_sink in chunks; p_text folds CR LF to LF across chunk borders.
// The CRC-32 of the bytes as stored is checked against the central directory's once all are
// read. Why the bytes streamed are not the entry's: empty when they are, else "cannot read
// its data from the archive" or "CRC-32 mismatch: directory X, data Y".
std::string StreamEntry(const ArchiveDiagnostics& p_diagnostics, const ArchiveDiagnostics::Entry& p_entry, bool p_text,
                        const std::function<void(const char*, std::size_t)>& p_sink);
// The words of a CRC-32 mismatch, as check and the readers say it.
std::string CrcMismatch(std::uint32_t p_directory, std::uint32_t p_data);

std::string MethodName(std::uint16_t p_method);
std::string Hex32(std::uint32_t p_value);

} // namespace draxel_tool
