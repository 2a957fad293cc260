// The state of an ArchiveDiagnostics: what the walk over the records found so far, and the
// reading of records and names through the windowed file. The walk (ArchiveDiagnosticsWalk.cpp)
// and the class's own source share it; nothing else sees it.
#pragma once

#include <Assets/ArchiveDiagnostics.h>

#include "ArchiveCore/Format.h"
#include "ArchiveCore/KeyStream.h"
#include "ArchiveCore/Records.h"
#include "ArchiveCore/WindowedFile.h"
#include "ArchiveFindings.h"

#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

struct ArchiveDiagnostics::State {
    using WindowedFile = Archive::WindowedFile;

    // The longest comment an end record can announce.
    static constexpr std::size_t MaxComment = 0xffff;

    static std::uint32_t Signature(const char* p_bytes)
    {
        return Zip::DecodeFixed32(reinterpret_cast<const unsigned char*>(p_bytes));
    }
    static std::string Number(std::uint64_t p_value) { return std::to_string(p_value); }
    // Whether [p_offset, p_offset + p_count) lies inside [0, p_end).
    static bool Inside(std::uint64_t p_offset, std::uint64_t p_count, std::uint64_t p_end)
    {
        return p_offset <= p_end && p_count <= p_end - p_offset;
    }

    std::string file;
    Zip::ScrambleKey key;   // empty when none was given and none was read
    bool scrambled = false; // the data is unscrambled
    std::uint64_t length = 0;
    std::uint64_t zipEnd = 0; // where the ZIP data ends: before the key trailer
    std::vector<Entry> entries;
    std::vector<Finding> findings;
    std::vector<std::vector<Finding>> entryFindings;
    bool incomplete = false;
    Obstacle obstacle = Obstacle::None; // the first finding that made it incomplete
    std::string explanation;
    ArchiveFindings::DirectoryTotals totals;

    // Marks the diagnostics incomplete; the first obstacle is the one explained.
    void Block(Obstacle p_obstacle, const std::string& p_detail)
    {
        incomplete = true;
        if (obstacle == Obstacle::None) {
            obstacle = p_obstacle;
            explanation = ArchiveFindings::Explain(p_obstacle, p_detail);
        }
    }
    void Archive(Kind p_kind, const std::string& p_detail, bool p_blocks = true)
    {
        findings.push_back(Finding{p_kind, std::string(), p_detail});
        if (p_blocks && (p_kind == Kind::Comment || p_kind == Kind::Zip64 || p_kind == Kind::BadCentral ||
                         p_kind == Kind::CountMismatch))
            Block(ArchiveFindings::ObstacleOf(p_kind), p_detail);
    }
    void About(std::size_t p_entry, Kind p_kind, const std::string& p_detail)
    {
        entryFindings[p_entry].push_back(Finding{p_kind, entries[p_entry].name, p_detail});
        if (p_kind == Kind::Zip64 || p_kind == Kind::BadCentral)
            Block(ArchiveFindings::ObstacleOf(p_kind), p_detail);
    }

    // A record or a name: a run of its own.
    void Unscramble(char* p_bytes, std::size_t p_count, std::uint64_t p_offset) const
    {
        key.RunAt(static_cast<std::int64_t>(p_offset)).Xor(p_bytes, p_count);
    }

    bool ReadRun(WindowedFile& p_file, std::uint64_t p_offset, std::size_t p_count, char* p_out) const
    {
        if (p_offset + p_count > zipEnd || !p_file.Read(p_offset, p_count, p_out))
            return false;
        Unscramble(p_out, p_count, p_offset);
        return true;
    }

    // Reads and decodes the record at p_offset; false when the archive does not hold it.
    template <class Record>
    bool ReadRecord(WindowedFile& p_file, std::uint64_t p_offset, Record& p_record) const
    {
        char bytes[Record::Size];
        if (!ReadRun(p_file, p_offset, Record::Size, bytes))
            return false;
        p_record.DecodeFrom(bytes);
        return true;
    }

    bool FindEndRecord(WindowedFile& p_file, std::uint64_t& p_at, Zip::EndRecord& p_record);
    void ReadCentral(WindowedFile& p_file, std::uint64_t p_at, std::uint16_t p_count);
    void ReadLocal(WindowedFile& p_file, std::size_t p_index);
    void CompareLocal(WindowedFile& p_file, std::size_t p_index, const Zip::LocalHeader& p_header);
    void FindOverlaps(std::uint64_t p_centralOffset);
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
