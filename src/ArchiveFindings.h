// The rules of ArchiveDiagnostics that look at one thing at a time, apart from its walk over
// the records: what a stored name and an entry's attributes hold that other tools read
// otherwise than the volume, and the totals of the end record against the central directory.
#pragma once

#include <Assets/ArchiveDiagnostics.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace ArchiveFindings {

struct Found {
    ArchiveDiagnostics::Kind kind;
    std::string detail;
};

// The name's findings (each kind once) and the link finding: a NUL, a UTF-8 flag on bytes that
// are not UTF-8, an absolute name, '..' and '.' components, backslashes, a symbolic link.
std::vector<Found> EntryFindings(const ArchiveDiagnostics::Entry& p_entry);

// What the end record says of the central directory, and what the walk found.
struct DirectoryTotals {
    std::uint16_t entriesOnDisk = 0;
    std::uint16_t entriesTotal = 0;
    std::uint64_t claimedSize = 0; // the end record's central directory size
    std::uint64_t walkedSize = 0;  // the bytes the counted headers take
    bool walked = false;           // every counted header was read
};

// The end record's two counts that differ, and a size that is not what the headers take.
std::vector<Found> TotalsFindings(const DirectoryTotals& p_totals);

// The obstacle a finding that keeps the archive from being read whole is.
ArchiveDiagnostics::Obstacle ObstacleOf(ArchiveDiagnostics::Kind p_kind);
// The sentence for a person that says p_obstacle, with the finding's detail.
std::string Explain(ArchiveDiagnostics::Obstacle p_obstacle, const std::string& p_detail);

} // namespace ArchiveFindings
} // namespace Assets
} // namespace Draxel
} // namespace Qor
