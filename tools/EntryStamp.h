// What an archive entry keeps of the file it was made from, as pack --keep-times stores it and
// extract restores it: its modification time and its Unix permission bits.
//
// An entry has a time unless its date is zero or it is dated 1980-01-01 00:00:00, what
// writers (pack among them, without --keep-times) store for no time at all. The extended
// timestamp extra field's time (UTC) wins over the MS-DOS fields, which hold a local time and
// are read in this system's time zone. An entry has permission bits when the system that made
// it keeps a Unix mode (and the mode is not a symbolic link's).
#pragma once

#include <Assets/ArchiveWriter.h>

#include "ArchiveCore/Format.h"
#include "ArchiveCore/Records.h"

#include <cstdint>
#include <ctime>

namespace draxel_tool {

using Stamp = Qor::Draxel::Assets::ArchiveWriter::Stamp;

// The seconds since 1970-01-01 00:00 UTC of the local MS-DOS date and time.
inline std::int64_t DosSeconds(std::uint16_t p_date, std::uint16_t p_time)
{
    std::tm local = Qor::Draxel::Assets::Zip::DecodeDosTime(p_date, p_time);
    return static_cast<std::int64_t>(std::mktime(&local));
}

// p_modified: the extended timestamp's time, or the MS-DOS one when p_hasModified is false.
inline Stamp EntryStamp(std::uint16_t p_madeBy, std::uint32_t p_externalAttributes, bool p_undated, bool p_hasModified,
                        std::int64_t p_modified)
{
    namespace Zip = Qor::Draxel::Assets::Zip;
    Stamp stamp;
    stamp.hasTime = p_hasModified || !p_undated;
    stamp.modified = p_modified;
    // A link's mode (0777) is no file's: one written as a file takes the default.
    stamp.hasMode =
        Zip::HoldsUnixMode(p_madeBy, p_externalAttributes) && !Zip::IsSymbolicLink(p_madeBy, p_externalAttributes);
    stamp.mode = stamp.hasMode ? (p_externalAttributes >> 16) & 07777 : 0;
    return stamp;
}

// The stamp of an entry whose MS-DOS fields are known.
template <class Entry>
Stamp EntryStamp(const Entry& p_entry)
{
    namespace Zip = Qor::Draxel::Assets::Zip;
    const bool undated = p_entry.date == 0 || (p_entry.date == Zip::DosFirstDate && p_entry.time == Zip::DosFirstTime);
    return EntryStamp(p_entry.madeBy, p_entry.externalAttributes, undated, p_entry.hasModified,
                      p_entry.hasModified ? p_entry.modified : DosSeconds(p_entry.date, p_entry.time));
}

} // namespace draxel_tool
