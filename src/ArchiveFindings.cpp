// The rules of ArchiveDiagnostics that look at one name, one entry's attributes or the end
// record's totals at a time, and the sentences that explain an obstacle.
#include "ArchiveFindings.h"

#include "ArchiveCore/Format.h"
#include "ArchiveCore/Names.h"

#include <cctype>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace ArchiveFindings {

using Kind = ArchiveDiagnostics::Kind;
using Obstacle = ArchiveDiagnostics::Obstacle;

namespace {

// What the components of a name say, each kind once.
struct Components {
    bool parent = false;
    bool dot = false;
};

Components ScanComponents(const std::string& p_name)
{
    Components found;
    std::size_t begin = 0;
    while (begin < p_name.size()) {
        std::size_t end = begin;
        while (end < p_name.size() && !Zip::IsSeparator(p_name[end]))
            ++end;
        const std::string_view component = std::string_view(p_name).substr(begin, end - begin);
        found.parent = found.parent || component == "..";
        found.dot = found.dot || component == ".";
        begin = end + 1;
    }
    return found;
}

} // namespace

std::vector<Found> EntryFindings(const ArchiveDiagnostics::Entry& p_entry)
{
    const std::string& name = p_entry.name;
    std::vector<Found> found;
    const std::size_t nul = name.find('\0');
    if (nul != std::string::npos)
        found.push_back(
            {Kind::NulInName, "a NUL byte at byte " + std::to_string(nul) + " of the name, where other tools end it"});
    if ((p_entry.flags & Zip::FlagUtf8) && !Zip::IsUtf8(name))
        found.push_back({Kind::NotUtf8, "marked UTF-8 (flag bit 11), but the name is not UTF-8"});
    if (!name.empty() && Zip::IsSeparator(name.front()))
        found.push_back({Kind::AbsoluteName, "the name starts at the root"});
    else if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
        found.push_back({Kind::AbsoluteName, "the name starts with a drive letter"});
    const Components components = ScanComponents(name);
    if (components.parent)
        found.push_back({Kind::ParentComponent, "a '..' component, which leads out of the folder it is extracted to"});
    if (components.dot)
        found.push_back({Kind::DotComponent, name.compare(0, 2, "./") == 0
                                                 ? "a './' prefix, which other tools list as a folder named '.'"
                                                 : "a '.' component, which other tools list as a folder named '.'"});
    if (name.find('\\') != std::string::npos)
        found.push_back({Kind::Backslash, "a backslash, which the volume reads as '/' and other tools as part of "
                                          "the name"});
    if (p_entry.isLink)
        found.push_back({Kind::SymbolicLink, "its data is the path it points to, not a file's content"});
    return found;
}

std::vector<Found> TotalsFindings(const DirectoryTotals& p_totals)
{
    std::vector<Found> found;
    if (p_totals.entriesOnDisk != p_totals.entriesTotal)
        found.push_back({Kind::CountMismatch, "the end record counts " + std::to_string(p_totals.entriesOnDisk) +
                                                  " entries on this disk and " + std::to_string(p_totals.entriesTotal) +
                                                  " in all"});
    if (p_totals.walked && p_totals.claimedSize != p_totals.walkedSize)
        found.push_back({Kind::CentralSizeMismatch, "the end record says " + std::to_string(p_totals.claimedSize) +
                                                        " bytes, the central headers take " +
                                                        std::to_string(p_totals.walkedSize)});
    return found;
}

Obstacle ObstacleOf(Kind p_kind)
{
    switch (p_kind) {
    case Kind::Unreadable:
        return Obstacle::Unreadable;
    case Kind::NoEndRecord:
        return Obstacle::NotAnArchive;
    case Kind::Comment:
        return Obstacle::Comment;
    case Kind::Zip64:
        return Obstacle::Zip64;
    case Kind::BadCentral:
    case Kind::CountMismatch:
        return Obstacle::Damaged;
    default:
        return Obstacle::None;
    }
}

std::string Explain(Obstacle p_obstacle, const std::string& p_detail)
{
    switch (p_obstacle) {
    case Obstacle::None:
        return std::string();
    case Obstacle::Unreadable:
        return "cannot read: " + p_detail;
    case Obstacle::KeyMissing:
        return "not a scrambled archive that carries its key (no ZIP end record)";
    case Obstacle::PlainArchive:
        return "a name that does not end in zip is read as scrambled with the key in its last 32 bytes, but this "
               "is a plain ZIP archive";
    case Obstacle::WrongKey:
        return "no ZIP end record: not an archive, or a wrong key";
    case Obstacle::NotAnArchive:
        return "not a ZIP archive (no end record at its end)";
    case Obstacle::Comment:
        return "archive comments are not supported (" + p_detail + ")";
    case Obstacle::Zip64:
        return "ZIP64 archives are not supported (" + p_detail + ")";
    case Obstacle::Damaged:
        return "damaged central directory: " + p_detail;
    }
    return std::string();
}

} // namespace ArchiveFindings

} // namespace Assets
} // namespace Draxel
} // namespace Qor
