// How the archive commands of draxel-assets read an archive file: inspected (never through
// ArchiveVolume::Open, so that memory stays bounded whatever the archive claims), with the
// one-line reasons why an archive cannot be read, and entries streamed in chunks.
#pragma once

#include "Commands.h"

#include <Assets/ArchiveDiagnostics.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace draxel_tool {

using Inspection = Qor::Draxel::Assets::ArchiveDiagnostics;
using InspectedEntry = Inspection::InspectedEntry;

struct ArchiveOptions {
    std::string file;
    KeyOptions key;
    bool plain = false;
};
// ARCHIVE, --key, --key-file and --plain.
void AddArchiveOptions(CLI::App& p_command, ArchiveOptions& p_options);

// The archive inspected as p_options say. A file that cannot be read is a Failure; so is an
// archive without an end record, which also says when the file reads as a plain ZIP that its
// name makes scrambled (--plain reads it as it is).
std::unique_ptr<Inspection> InspectArchive(const ArchiveOptions& p_options);

// The one line why the inspection's entries are not all the archive holds; empty when they are.
std::string IncompleteReason(const Inspection& p_inspection);

// The entries in the order the volume lists paths (the normalised names' order; equal ones in
// stored order).
std::vector<const InspectedEntry*> InPathOrder(const Inspection& p_inspection);

// Whether an entry's bytes can be read as the volume serves them: a stored, unencrypted file
// whose local header was read.
bool Readable(const InspectedEntry& p_entry);

// Streams an entry's bytes to p_sink in chunks; p_text folds CR LF to LF across chunk borders.
// False when the file could not be read.
bool StreamEntry(const Inspection& p_inspection, const InspectedEntry& p_entry, bool p_text,
                 const std::function<void(const char*, std::size_t)>& p_sink);

std::string MethodName(std::uint16_t p_method);
std::string Hex32(std::uint32_t p_value);

} // namespace draxel_tool
