// ArchiveDiagnostics: what it finds in damaged and foreign archives, named by entry, and that
// the data it reads in chunks is exactly what the archive volume opens.
#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <Assets/ArchiveDiagnostics.h>
#include <Assets/ArchiveVolume.h>
#include <Assets/ArchiveWriter.h>
#include <Assets/FileSystemVolume.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace Qor::Draxel::Assets;
using testing_support::ArchiveItem;
using testing_support::CentralHeaderOffset;
using testing_support::MakeArchive;
using testing_support::Put16;
using testing_support::Put32;
using Kind = ArchiveDiagnostics::Kind;

namespace {

class ArchiveDiagnosticsTest : public ::testing::Test {
protected:
    std::string Write(const std::string& p_name, const std::string& p_bytes) { return _dir.Write(p_name, p_bytes); }

    // The findings as "kind:entry", in order.
    static std::vector<std::string> Found(const ArchiveDiagnostics& p_diagnostics)
    {
        std::vector<std::string> found;
        for (const ArchiveDiagnostics::Finding& finding : p_diagnostics.Findings())
            found.push_back(std::string(ArchiveDiagnostics::KindName(finding.kind)) + ":" + finding.entry);
        return found;
    }

    static bool Has(const ArchiveDiagnostics& p_diagnostics, Kind p_kind, const std::string& p_entry = std::string())
    {
        for (const ArchiveDiagnostics::Finding& finding : p_diagnostics.Findings())
            if (finding.kind == p_kind && finding.entry == p_entry)
                return true;
        return false;
    }

    static std::string Data(const ArchiveDiagnostics& p_diagnostics, std::size_t p_index, std::size_t p_chunk)
    {
        std::string bytes;
        EXPECT_TRUE(p_diagnostics.ReadData(
            p_diagnostics.Entries().at(p_index),
            [&](const char* p_bytes, std::size_t p_count) {
                bytes.append(p_bytes, p_count);
                return true;
            },
            p_chunk));
        return bytes;
    }

    testing_support::ScratchDir _dir;
    std::vector<ArchiveItem> _items{{"a.txt", "alpha"}, {"dir/", "", true}, {"dir/b.bin", std::string(300, 'b')}};
};

} // namespace

TEST_F(ArchiveDiagnosticsTest, WellFormedArchivesHaveNoFindingsAndReadAsTheVolumeOpens)
{
    const std::string key = "0123456789abcdef0123456789ABCDEF";
    for (const auto& made : {std::make_pair(std::string("plain.zip"), MakeArchive(_items)),
                             std::make_pair(std::string("carried.pak"), MakeArchive(_items, key, true)),
                             std::make_pair(std::string("seven.dat"), MakeArchive(_items, "7bytes!"))}) {
        SCOPED_TRACE(made.first);
        const std::string file = Write(made.first, made.second);
        const std::string given = made.first == "seven.dat" ? "7bytes!" : "";
        ArchiveDiagnostics diagnostics(file, given);
        EXPECT_TRUE(diagnostics.Findings().empty()) << ::testing::PrintToString(Found(diagnostics));
        EXPECT_FALSE(diagnostics.Incomplete());
        ASSERT_EQ(diagnostics.Entries().size(), 3u);
        EXPECT_EQ(diagnostics.Entries()[1].name, "dir/");
        EXPECT_TRUE(diagnostics.Entries()[1].isDirectory);

        ArchiveVolume volume(AssetPath(file), AssetPath(), 0, given);
        const std::string opened = testing_support::ReadAll(*volume.Open(AssetPath("dir/b.bin"), Volume::Binary));
        // Chunks of any size, odd ones included, give the bytes the volume opens.
        for (std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(64), std::size_t(1) << 20})
            EXPECT_EQ(Data(diagnostics, 2, chunk), opened) << chunk;
        EXPECT_EQ(opened, std::string(300, 'b'));
    }
}

// Paths are UTF-8 on every host. A file in a folder with a non-ASCII name is read by the
// directory volume and packed by AddFile into an archive with a non-ASCII name, which the
// diagnostics read, scrambled with the key it carries.
TEST_F(ArchiveDiagnosticsTest, NonAsciiFolderAndArchiveNames)
{
    const std::string folder = "gr\xc3\xbcn \xe6\x97\xa5\xe6\x9c\xac";
    const std::string source = Write(folder + "/\xc3\xa9t\xc3\xa9.txt", "line\r\nline");
    const boost::shared_ptr<Volume> directory = FileSystemVolume::Open(qorfile::filepath(_dir / folder));
    EXPECT_EQ(testing_support::ReadAll(*directory->Open(AssetPath("\xc3\xa9t\xc3\xa9.txt"), Volume::Text)),
              "line\nline");

    const std::string key = "0123456789abcdef0123456789ABCDEF";
    std::ostringstream packed;
    ArchiveWriter writer(packed, key);
    writer.AddFile("\xc3\xa9t\xc3\xa9.txt", qorfile::filepath(source));
    writer.Finish(true);
    const std::string archive = Write(folder + "/p\xc3\xa4"
                                               "ck.pak",
                                      packed.str());

    ArchiveDiagnostics diagnostics(archive, std::string());
    EXPECT_TRUE(diagnostics.Findings().empty()) << ::testing::PrintToString(Found(diagnostics));
    EXPECT_TRUE(diagnostics.Scrambled());
    ASSERT_EQ(diagnostics.Entries().size(), 1u);
    EXPECT_EQ(diagnostics.Entries()[0].name, "\xc3\xa9t\xc3\xa9.txt");
    EXPECT_EQ(Data(diagnostics, 0, 4), "line\r\nline");

    ArchiveDiagnostics missing(_dir / folder + "/n\xc3\xb6ne.zip", std::string());
    EXPECT_EQ(Found(missing), std::vector<std::string>{"unreadable:"});
}

TEST_F(ArchiveDiagnosticsTest, TheNameRuleAndPlainReading)
{
    const std::string file = Write("renamed.jar", MakeArchive(_items));
    ArchiveDiagnostics byName(file, std::string());
    EXPECT_TRUE(byName.Incomplete());
    EXPECT_EQ(Found(byName), std::vector<std::string>{"no end record:"});
    ArchiveDiagnostics plain(file, std::string(), ArchiveDiagnostics::Reading::Plain);
    EXPECT_TRUE(plain.Findings().empty());
    EXPECT_FALSE(plain.Scrambled());
    EXPECT_EQ(plain.Entries().size(), 3u);

    ArchiveDiagnostics missing(_dir / "missing.zip", std::string());
    EXPECT_EQ(Found(missing), std::vector<std::string>{"unreadable:"});
    EXPECT_TRUE(missing.Incomplete());
}

TEST_F(ArchiveDiagnosticsTest, ArchiveWideFindings)
{
    std::string bytes = MakeArchive(_items);
    std::string commented = bytes;
    Put16(commented, commented.size() - 2, 3);
    ArchiveDiagnostics comment(Write("comment.zip", commented + "abc"), std::string());
    EXPECT_EQ(Found(comment), std::vector<std::string>{"archive comment:"});
    EXPECT_TRUE(comment.Incomplete());
    EXPECT_EQ(comment.Entries().size(), 3u); // found behind the comment, listed all the same

    // A ZIP64 locator in front of the end record, as zipfile writes past 65 535 entries.
    std::string zip64 = bytes;
    std::string locator(20, '\0');
    Put32(locator, 0, 0x07064b50);
    zip64.insert(zip64.size() - 22, locator);
    ArchiveDiagnostics sixtyFour(Write("zip64.zip", zip64), std::string());
    EXPECT_TRUE(Has(sixtyFour, Kind::Zip64));
    EXPECT_TRUE(sixtyFour.Incomplete());

    // A central directory that claims to lie past the end, and 65 535 headers.
    std::string far = bytes;
    Put32(far, far.size() - 22 + 16, 0x7fffffff);
    Put16(far, far.size() - 22 + 8, 0xfffe);
    ArchiveDiagnostics farAway(Write("far.zip", far), std::string());
    EXPECT_TRUE(Has(farAway, Kind::BadCentral));
    EXPECT_TRUE(farAway.Entries().empty());

    ArchiveDiagnostics junk(Write("junk.zip", "not an archive, and not long enough to be one either"), std::string());
    EXPECT_EQ(Found(junk), std::vector<std::string>{"no end record:"});
}

TEST_F(ArchiveDiagnosticsTest, EntryFindingsNameTheirEntryOnce)
{
    std::vector<ArchiveItem> items{{"claims.bin", "12345"}, {"crc.txt", "c"},      {"descriptor.txt", "d"},
                                   {"locked.txt", "l"},     {"deflated.txt", "f"}, {"bzip.txt", "z"},
                                   {"twice.txt", "one"},    {"twice.txt", "two"},  {"empty", "e"}};
    std::string bytes = MakeArchive(items);
    Put32(bytes, 22, 0xffffffffu);                            // claims.bin: local size 4 GiB - 1
    Put32(bytes, CentralHeaderOffset(bytes, 1) + 16, 0x1234); // crc.txt: central CRC differs
    Put16(bytes, CentralHeaderOffset(bytes, 2) + 8, 8);       // descriptor.txt: bit 3
    Put16(bytes, CentralHeaderOffset(bytes, 3) + 8, 1);       // locked.txt: encrypted
    Put16(bytes, CentralHeaderOffset(bytes, 4) + 10, 8);      // deflated.txt
    Put16(bytes, CentralHeaderOffset(bytes, 5) + 10, 12);     // bzip.txt
    // empty: its local header offset moved onto claims.bin's, so the two share bytes.
    Put32(bytes, CentralHeaderOffset(bytes, 8) + 42, 0);
    ArchiveDiagnostics diagnostics(Write("entries.zip", bytes), std::string());
    EXPECT_FALSE(diagnostics.Incomplete());
    EXPECT_TRUE(Has(diagnostics, Kind::SizeMismatch, "claims.bin"));
    EXPECT_TRUE(Has(diagnostics, Kind::DataPastEnd, "claims.bin"));
    EXPECT_TRUE(Has(diagnostics, Kind::CrcMismatch, "crc.txt"));
    EXPECT_TRUE(Has(diagnostics, Kind::DataDescriptor, "descriptor.txt"));
    EXPECT_TRUE(Has(diagnostics, Kind::Encrypted, "locked.txt"));
    EXPECT_TRUE(Has(diagnostics, Kind::Deflated, "deflated.txt"));
    EXPECT_TRUE(Has(diagnostics, Kind::Compressed, "bzip.txt"));
    EXPECT_TRUE(Has(diagnostics, Kind::DuplicateName, "twice.txt"));
    EXPECT_TRUE(Has(diagnostics, Kind::Overlap, "empty"));
    // Each kind once per entry (the two entries named twice.txt aside).
    std::vector<std::string> found;
    for (const std::string& text : Found(diagnostics))
        if (text.find("twice.txt") == std::string::npos)
            found.push_back(text);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(std::adjacent_find(found.begin(), found.end()), found.end());

    // The data it reads is what the archive holds, never what the header claims.
    const ArchiveDiagnostics::Entry& claims = diagnostics.Entries()[0];
    EXPECT_EQ(claims.localSize, 0xffffffffu);
    EXPECT_EQ(claims.heldSize, bytes.size() - claims.dataOffset);
}

TEST_F(ArchiveDiagnosticsTest, DamagedLocalHeadersAndEmptyNames)
{
    std::string bytes = MakeArchive({{"first.txt", "1"}, {"second.txt", "2"}});
    Put32(bytes, 30 + 9 + 1, 0xdeadbeef);                // second local header's signature
    Put16(bytes, CentralHeaderOffset(bytes, 0) + 28, 0); // first name: 0 bytes
    Put16(bytes, CentralHeaderOffset(bytes, 0) + 32, 9); // ... the name becomes its comment
    ArchiveDiagnostics diagnostics(Write("local.zip", bytes), std::string());
    EXPECT_TRUE(Has(diagnostics, Kind::EmptyName, ""));
    EXPECT_TRUE(Has(diagnostics, Kind::BadLocal, "second.txt"));
    EXPECT_FALSE(diagnostics.Entries()[1].localValid);
}

// A stamped entry carries its time in the extended timestamp extra field of both headers and
// its mode in the external attributes: no finding, read back plain and scrambled (the extra
// field is a run of its own), and the volume still opens the data behind the longer header.
TEST_F(ArchiveDiagnosticsTest, StampedEntriesAreReadBackWithoutFindings)
{
    ArchiveWriter::Stamp stamp;
    stamp.hasTime = true;
    stamp.modified = 1614834368; // 2021-03-04 05:06:08 UTC
    stamp.hasMode = true;
    stamp.mode = 0750;
    for (const std::string& key : {std::string(), std::string("7bytes!")}) {
        SCOPED_TRACE(key);
        std::ostringstream bytes;
        ArchiveWriter writer(bytes, key);
        writer.AddBytes("kept.txt", "kept", stamp);
        writer.AddDirectory("dir", stamp);
        writer.AddBytes("plain.txt", "plain");
        writer.Finish();
        const std::string file = Write(key.empty() ? "stamped.zip" : "stamped.dat", bytes.str());

        ArchiveDiagnostics inspection(file, key);
        EXPECT_TRUE(inspection.Findings().empty()) << ::testing::PrintToString(Found(inspection));
        ASSERT_EQ(inspection.Entries().size(), 3u);
        const ArchiveDiagnostics::Entry& kept = inspection.Entries()[0];
        EXPECT_TRUE(kept.hasModified);
        EXPECT_EQ(kept.modified, 1614834368);
        EXPECT_EQ(kept.externalAttributes >> 16, 0100750u);
        EXPECT_EQ(inspection.Entries()[1].externalAttributes, (040750u << 16) | 0x10u);
        const ArchiveDiagnostics::Entry& plain = inspection.Entries()[2];
        EXPECT_FALSE(plain.hasModified);
        EXPECT_EQ(plain.date, (1 << 5) | 1); // 1980-01-01 00:00
        EXPECT_EQ(plain.time, 0);
        EXPECT_EQ(plain.externalAttributes >> 16, 0100644u);

        ArchiveVolume volume(AssetPath(file), AssetPath(), 0, key);
        EXPECT_EQ(testing_support::ReadAll(*volume.Open(AssetPath("kept.txt"), Volume::Binary)), "kept");
        EXPECT_EQ(Data(inspection, 0, 3), "kept");
    }
}
