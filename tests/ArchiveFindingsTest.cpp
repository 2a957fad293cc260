// What ArchiveDiagnostics finds in names, links, the end record's totals and local headers that
// disagree with the central directory; the archive that fills the 16-bit count; the UTF-8 flag
// the writer sets; and the sentence it gives for an archive that cannot be read.
#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <Assets/ArchiveDiagnostics.h>
#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using namespace Qor::Draxel::Assets;
using testing_support::ArchiveItem;
using testing_support::CentralHeaderOffset;
using testing_support::Get16;
using testing_support::LocalHeaderOffset;
using testing_support::MakeArchive;
using testing_support::Put16;
using testing_support::Put32;
using Kind = ArchiveDiagnostics::Kind;
using Obstacle = ArchiveDiagnostics::Obstacle;

namespace {

class ArchiveFindingsTest : public ::testing::Test {
protected:
    // The kinds found for p_entry (empty: the archive as a whole).
    static std::vector<Kind> KindsOf(const ArchiveDiagnostics& p_diagnostics, const std::string& p_entry)
    {
        std::vector<Kind> kinds;
        for (const ArchiveDiagnostics::Finding& finding : p_diagnostics.Findings())
            if (finding.entry == p_entry)
                kinds.push_back(finding.kind);
        return kinds;
    }

    static std::string Names(const std::vector<Kind>& p_kinds)
    {
        std::string names;
        for (Kind kind : p_kinds)
            names += std::string(names.empty() ? "" : ", ") + ArchiveDiagnostics::KindName(kind);
        return names;
    }

    testing_support::ScratchDir _dir;
};

} // namespace

// 0xFFFF entries with no ZIP64 records is a plain archive that fills the 16-bit count; one more
// header behind the count is what a writer without ZIP64 leaves past 65 535 entries.
TEST_F(ArchiveFindingsTest, AnArchiveOf65535EntriesIsPlain)
{
    std::vector<ArchiveItem> items;
    for (int i = 0; i < 0xffff; ++i)
        items.push_back({"d" + std::to_string(i % 97) + "/f" + std::to_string(i), i % 7 == 0 ? "seven" : ""});
    const std::string bytes = MakeArchive(items);
    const std::string file = _dir.Write("full.zip", bytes);
    ArchiveDiagnostics diagnostics(file, std::string());
    EXPECT_EQ(Names(KindsOf(diagnostics, "")), "");
    EXPECT_EQ(diagnostics.FirstObstacle(), Obstacle::None);
    EXPECT_FALSE(diagnostics.Incomplete());
    EXPECT_EQ(diagnostics.Entries().size(), 0xffffu);
    ArchiveVolume volume(AssetPath(file), AssetPath(), 0, std::string());
    EXPECT_EQ(testing_support::ReadAll(*volume.Open(AssetPath("d0/f0"), Volume::Binary)), "seven");
    EXPECT_TRUE(volume.Exists(AssetPath("d59/f65534")));

    // One more central header behind a full count (a copy of the first, its size counted).
    std::string overflowing = bytes;
    const std::size_t header = CentralHeaderOffset(overflowing, 0);
    const std::string copy = overflowing.substr(header, 46 + Get16(overflowing, header + 28));
    overflowing.insert(overflowing.size() - 22, copy);
    const std::size_t end = overflowing.size() - 22;
    Put32(overflowing, end + 12,
          testing_support::Get32(overflowing, end + 12) + static_cast<std::uint32_t>(copy.size()));
    ArchiveDiagnostics more(_dir.Write("more.zip", overflowing), std::string());
    EXPECT_EQ(more.FirstObstacle(), Obstacle::Zip64);
}

// Names other tools read otherwise than the volume, each kind named once per entry.
TEST_F(ArchiveFindingsTest, NamesThatOtherToolsReadOtherwise)
{
    const struct {
        std::string name;
        bool flagged; // the UTF-8 flag set on the name, whatever its bytes
        std::vector<Kind> kinds;
    } cases[] = {
        {"Data/plain.txt", false, {}},
        {"caf\xc3\xa9.txt", true, {}},
        {"caf\xe9.txt", false, {}}, // not UTF-8, and not claimed to be
        {"caf\xe9-flagged.txt", true, {Kind::NotUtf8}},
        {"\xed\xa0\x80-surrogate.txt", true, {Kind::NotUtf8}},
        {"./Data/bsdtar.txt", false, {Kind::DotComponent}},
        {"Data/./inner.txt", false, {Kind::DotComponent}},
        {"Data/.hidden/..dots../x.", false, {}},
        {"../COPYING", false, {Kind::ParentComponent}},
        {"Data/../../CREDITS", false, {Kind::ParentComponent}},
        {"/etc/passwd", false, {Kind::AbsoluteName}},
        {"C:/autoexec.bat", false, {Kind::AbsoluteName}},
        {"Data\\windows.txt", false, {Kind::Backslash}},
        {"\\..\\both.txt", false, {Kind::AbsoluteName, Kind::ParentComponent, Kind::Backslash}},
        {std::string("cut\0here.txt", 12), false, {Kind::NulInName}},
    };
    std::vector<ArchiveItem> items;
    for (const auto& entry : cases)
        items.push_back({entry.name, "x"});
    std::string bytes = MakeArchive(items);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        if (cases[i].flagged)
            Put16(bytes, CentralHeaderOffset(bytes, i) + 8, 0x0800);
    ArchiveDiagnostics diagnostics(_dir.Write("names.zip", bytes), std::string());
    EXPECT_FALSE(diagnostics.Incomplete());
    for (const auto& entry : cases)
        EXPECT_EQ(Names(KindsOf(diagnostics, entry.name)), Names(entry.kinds)) << entry.name;
}

// A symbolic link is told by the Unix mode in the external attributes, which Info-ZIP and
// bsdtar write for the Unix system and 7-Zip for any system, marked by bit 15.
TEST_F(ArchiveFindingsTest, SymbolicLinksAreToldByTheirUnixMode)
{
    const struct {
        const char* name;
        std::uint16_t madeBy;
        std::uint32_t attributes;
        bool link;
    } cases[] = {
        {"infozip-link", (3 << 8) | 30, 0120777u << 16, true},
        {"bsdtar-link", (3 << 8) | 20, 0120755u << 16, true},
        {"sevenzip-link", 63, (0120777u << 16) | 0x8020, true},
        {"mac-link", (19 << 8) | 20, 0120777u << 16, true},
        {"unix-file", (3 << 8) | 20, 0100644u << 16, false},
        {"dos-bits-alone", 20, (0120777u << 16) | 0x20, false}, // no Unix mode: the high half means nothing
    };
    std::vector<ArchiveItem> items;
    for (const auto& entry : cases)
        items.push_back({entry.name, "target.txt"});
    std::string bytes = MakeArchive(items);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Put16(bytes, CentralHeaderOffset(bytes, i) + 4, cases[i].madeBy);
        Put32(bytes, CentralHeaderOffset(bytes, i) + 38, cases[i].attributes);
    }
    ArchiveDiagnostics diagnostics(_dir.Write("links.zip", bytes), std::string());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(diagnostics.Entries()[i].isLink, cases[i].link);
        EXPECT_EQ(Names(KindsOf(diagnostics, cases[i].name)), cases[i].link ? "symbolic link" : "");
    }
}

// The end record's totals against the central directory, and local headers that disagree with
// it, as libzip's test suite makes them (cdsize-large, cdsize-small, local-compression-method,
// local-filename, local-filename-missing).
TEST_F(ArchiveFindingsTest, TotalsAndLocalHeadersThatDisagree)
{
    const std::string bytes = MakeArchive({{"first.txt", "1"}, {"second.txt", "22"}});
    const std::size_t end = bytes.size() - 22;
    const std::uint32_t centralSize = testing_support::Get32(bytes, end + 12);
    const std::size_t second = LocalHeaderOffset(bytes, 1);
    const struct {
        const char* label;
        std::function<void(std::string&)> patch;
        Kind kind;
        std::string entry;
        bool incomplete;
    } cases[] = {
        {"counts differ", [&](std::string& p_bytes) { Put16(p_bytes, end + 10, 3); }, Kind::CountMismatch, "", false},
        {"205 of 2", [&](std::string& p_bytes) { Put16(p_bytes, end + 8, 205), Put16(p_bytes, end + 10, 205); },
         Kind::CountMismatch, "", true},
        {"1 of 2", [&](std::string& p_bytes) { Put16(p_bytes, end + 8, 1), Put16(p_bytes, end + 10, 1); },
         Kind::CountMismatch, "", true},
        {"cdsize-large", [&](std::string& p_bytes) { Put32(p_bytes, end + 12, centralSize + 100); },
         Kind::CentralSizeMismatch, "", false},
        {"cdsize-small", [&](std::string& p_bytes) { Put32(p_bytes, end + 12, centralSize - 10); },
         Kind::CentralSizeMismatch, "", false},
        {"2 GiB", [&](std::string& p_bytes) { Put32(p_bytes, end + 12, 0x80000000u); }, Kind::CentralSizeMismatch, "",
         false},
        {"local-compression-method", [&](std::string& p_bytes) { Put16(p_bytes, second + 8, 8); }, Kind::MethodMismatch,
         "second.txt", false},
        {"local-filename", [&](std::string& p_bytes) { p_bytes[second + 30] = 'S'; }, Kind::NameMismatch, "second.txt",
         false},
        {"local-filename-missing", [&](std::string& p_bytes) { Put16(p_bytes, second + 26, 0); }, Kind::NameMismatch,
         "second.txt", false},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.label);
        std::string patched = bytes;
        entry.patch(patched);
        ArchiveDiagnostics diagnostics(_dir.Write("patched.zip", patched), std::string());
        const std::vector<Kind> kinds = KindsOf(diagnostics, entry.entry);
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), entry.kind), 1) << Names(kinds);
        EXPECT_EQ(diagnostics.Incomplete(), entry.incomplete);
        EXPECT_EQ(diagnostics.FirstObstacle(), entry.incomplete ? Obstacle::Damaged : Obstacle::None);
    }

    // The volume never reads a scrambled archive's local name, and packers leave it as they like.
    const std::string key = "0123456789abcdef0123456789ABCDEF";
    std::string scrambled = MakeArchive({{"first.txt", "1"}, {"second.txt", "22"}}, key, true);
    scrambled[second + 30] = 'S';
    ArchiveDiagnostics keyed(_dir.Write("keyed.pak", scrambled), std::string());
    EXPECT_EQ(Names(KindsOf(keyed, "second.txt")), "");
}

// The writer marks a name as UTF-8 only when it is UTF-8; a Latin-1 name goes unmarked.
TEST_F(ArchiveFindingsTest, TheWriterFlagsOnlyUtf8Names)
{
    const struct {
        std::string name;
        bool flagged;
    } cases[] = {
        {"plain.txt", false},   {"caf\xc3\xa9.txt", true},        {"\xe6\x97\xa5\xe6\x9c\xac.txt", true},
        {"caf\xe9.txt", false}, {"\xc0\xaf-overlong.txt", false}, {"\xed\xa0\x80-surrogate.txt", false},
        {"cut\xc3", false},
    };
    std::vector<ArchiveItem> items;
    for (const auto& entry : cases)
        items.push_back({entry.name, "x"});
    const std::string bytes = MakeArchive(items);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::uint16_t expected = cases[i].flagged ? 0x0800 : 0;
        EXPECT_EQ(Get16(bytes, LocalHeaderOffset(bytes, i) + 6) & 0x0800, expected);
        EXPECT_EQ(Get16(bytes, CentralHeaderOffset(bytes, i) + 8) & 0x0800, expected);
    }
    ArchiveDiagnostics diagnostics(_dir.Write("written.zip", bytes), std::string());
    EXPECT_TRUE(diagnostics.Findings().empty());
}

// The sentence for an archive that cannot be read, as a host shows it after a failed mount.
TEST_F(ArchiveFindingsTest, ObstaclesAreExplainedInOneSentence)
{
    const std::string key = "0123456789abcdef0123456789ABCDEF";
    const std::vector<ArchiveItem> items{{"a.txt", "alpha"}};
    std::string commented = MakeArchive(items);
    Put16(commented, commented.size() - 2, 3);
    const struct {
        const char* file;
        std::string bytes;
        std::string key;
        Obstacle obstacle;
        const char* sentence;
    } cases[] = {
        {"fine.zip", MakeArchive(items), "", Obstacle::None, ""},
        {"carried.pak", MakeArchive(items, key, true), "", Obstacle::None, ""},
        {"nokey.pak", MakeArchive(items, key), "", Obstacle::KeyMissing,
         "not a scrambled archive that carries its key (no ZIP end record)"},
        {"wrong.pak", MakeArchive(items, key), "not the key", Obstacle::WrongKey,
         "no ZIP end record: not an archive, or a wrong key"},
        {"renamed.jar", MakeArchive(items), "", Obstacle::PlainArchive,
         "a name that does not end in zip is read as scrambled with the key in its last 32 bytes, but this is a "
         "plain ZIP archive"},
        {"junk.zip", std::string(100, 'j'), "", Obstacle::NotAnArchive, "not a ZIP archive (no end record at its end)"},
        {"comment.zip", commented + "abc", "", Obstacle::Comment,
         "archive comments are not supported (an archive comment of 3 bytes)"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.file);
        ArchiveDiagnostics diagnostics(_dir.Write(entry.file, entry.bytes), entry.key);
        EXPECT_EQ(diagnostics.FirstObstacle(), entry.obstacle);
        EXPECT_EQ(diagnostics.Explanation(), entry.sentence);
    }
    ArchiveDiagnostics missing(_dir / "missing.zip", std::string());
    EXPECT_EQ(missing.FirstObstacle(), Obstacle::Unreadable);
    EXPECT_EQ(missing.Explanation().rfind("cannot read: ", 0), 0u) << missing.Explanation();

    // The host's road: the mount reports a failed check, the diagnostics says what is wrong.
    testing_support::EnsureRecorder ensures;
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    const qorfile::filepath wrong(_dir / "wrong.pak");
    library->MountArchive(wrong, AssetPath(), 0, "not the key");
    EXPECT_FALSE(ensures.messages().empty());
    EXPECT_EQ(ArchiveDiagnostics(wrong.str(), "not the key").Explanation(),
              "no ZIP end record: not an archive, or a wrong key");
}
