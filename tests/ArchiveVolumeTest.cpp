// The archive volume: the walk over the central directory, implied folders, Open with its
// checks, scrambled archives, archives inside other volumes, archives made by Info-ZIP.
#include "ArchiveBuilders.h"
#include "MemoryVolume.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/FileSystemVolume.h>

#include "Messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

const std::string Key32 = "0123456789abcdef0123456789ABCDEF";

std::vector<ArchiveItem> SampleItems()
{
    return {{"shaders/", "", true}, {"shaders/basic.vert", "void main() {}\n"}, {"img/logo/a.png", "PNGDATA"}};
}

class ArchiveVolumeTest : public ::testing::Test {
protected:
    // Writes p_bytes as p_name in the scratch directory and opens it stand-alone.
    boost::shared_ptr<Volume> OpenFile(const std::string& p_name, const std::string& p_bytes,
                                       const std::string& p_key = std::string())
    {
        return ArchiveVolume::Open(qorfile::filepath(dir.Write(p_name, p_bytes)), p_key);
    }

    ScratchDir dir;
};

TEST_F(ArchiveVolumeTest, EntriesAndImpliedFoldersExistAndTextModeFoldsCrLf)
{
    std::vector<ArchiveItem> items = SampleItems();
    items.push_back({"t", "a\r\nb\rc\r\n"});
    auto volume = OpenFile("sample.zip", MakeArchive(items));
    for (const char* present : {"shaders", "shaders/basic.vert", "img", "img/logo", "img/logo/a.png"})
        EXPECT_TRUE(volume->Exists(P(present))) << present;
    for (const char* absent : {"img/log", "shaders/basic", "", "im", "img/logo/a.png/x", "SHADERS"})
        EXPECT_FALSE(volume->Exists(P(absent))) << absent;
    EXPECT_EQ(ReadAsset(volume, "img/logo/a.png"), "PNGDATA");
    EXPECT_EQ(ReadAsset(volume, "shaders/basic.vert", Volume::Text), "void main() {}\n");
    EXPECT_EQ(ReadAsset(volume, "t", Volume::Text), "a\nb\rc\n");
    EXPECT_EQ(ReadAsset(volume, "t", Volume::Binary), "a\r\nb\rc\r\n");
}

// Paths are UTF-8 on every host: an archive file with a non-ASCII name opens, and the writer
// packs a file with one.
TEST_F(ArchiveVolumeTest, NonAsciiFileNamesOpenAndPack)
{
    auto volume = OpenFile("p\xc3\xa4"
                           "ck/\xe6\x97\xa5\xe6\x9c\xac"
                           ".zip",
                           MakeArchive(SampleItems()));
    EXPECT_TRUE(volume->Exists(P("img/logo/a.png")));
    EXPECT_EQ(ReadAsset(volume, "img/logo/a.png"), "PNGDATA");

    std::ostringstream packed;
    ArchiveWriter writer(packed);
    writer.AddFile("a", qorfile::filepath(dir.Write("\xc3\xa9t\xc3\xa9.txt", "bytes")));
    writer.Finish();
    EXPECT_EQ(ReadAsset(OpenFile("packed.zip", packed.str()), "a"), "bytes");
}

// Sizes and offsets are 64-bit on every host. The entries and the central directory start
// 3 GiB into the file and the end record lies past 4 GiB, with holes between that cost no disk:
// the archive is measured, and read past the 2 GiB and 4 GiB marks.
TEST_F(ArchiveVolumeTest, ArchiveFileLargerThanFourGiBMountsAndOpens)
{
    const std::uint64_t start = std::uint64_t(3) << 30, endRecord = std::uint64_t(9) << 29;
    std::string archive = MakeArchive({{"near", "near bytes"}, {"far/x.txt", "far\r\nbytes"}});
    for (std::size_t index = 0; index < 2; ++index) {
        const std::size_t header = CentralHeaderOffset(archive, index);
        Put32(archive, header + 42, static_cast<std::uint32_t>(Get32(archive, header + 42) + start));
    }
    std::string record = archive.substr(archive.size() - 22);
    archive.resize(archive.size() - 22);
    Put32(record, 16, static_cast<std::uint32_t>(Get32(record, 16) + start));
    const std::string path = dir.Write("big.zip", "");
    {
        std::fstream out(std::filesystem::u8path(path), std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(static_cast<std::streamoff>(start));
        out.write(archive.data(), static_cast<std::streamsize>(archive.size()));
        out.seekp(static_cast<std::streamoff>(endRecord));
        out.write(record.data(), static_cast<std::streamsize>(record.size()));
        ASSERT_TRUE(out.good());
    }
    EXPECT_TRUE(qorfile::fileexists(qorfile::filepath(path)));
    EnsureRecorder recorder;
    auto volume = ArchiveVolume::Open(qorfile::filepath(path), "");
    EXPECT_EQ(recorder.messages(), std::vector<std::string>());
    EXPECT_TRUE(volume->Exists(P("far")));
    EXPECT_EQ(ReadAsset(volume, "near"), "near bytes");
    EXPECT_EQ(ReadAsset(volume, "far/x.txt", Volume::Text), "far\nbytes");
}

TEST_F(ArchiveVolumeTest, MountedBelowAPath)
{
    const std::string file = dir.Write("sample.zip", MakeArchive(SampleItems()));
    ArchiveVolume volume(AssetPath(qorfile::filepath(file)), P("data"), 4, "");
    EXPECT_TRUE(volume.Exists(P("data/img")));
    EXPECT_TRUE(volume.Exists(P("data")) == false);
    EXPECT_EQ(ReadAll(*volume.Open(P("data/shaders/basic.vert"), Volume::Binary)), "void main() {}\n");
}

TEST_F(ArchiveVolumeTest, RootedNamesImplyTheRootFolder)
{
    auto volume = OpenFile("rooted.zip", MakeArchive({{"/abs/x", "1"}, {"a//b", "2"}}));
    // A path asked at the root loses one leading slash before the lookup.
    for (const char* present : {"", "//abs", "a", "a//b"})
        EXPECT_TRUE(volume->Exists(P(present))) << present;
    for (const char* absent : {"/abs", "a/b"})
        EXPECT_FALSE(volume->Exists(P(absent))) << absent;
}

// Seeks from every origin land anywhere from the first byte to one past the last; outside
// that, and a putback before the first byte, the stream goes bad (as over an array device)
// and clears again.
void ExpectSeeksAnywhere(std::istream& p_stream, const std::string& p_bytes)
{
    const std::streamoff size = static_cast<std::streamoff>(p_bytes.size());
    p_stream.seekg(4);
    EXPECT_EQ(p_stream.get(), p_bytes[4]);
    p_stream.seekg(-2, std::ios_base::cur);
    EXPECT_EQ(static_cast<long>(p_stream.tellg()), 3);
    p_stream.seekg(-1, std::ios_base::end);
    EXPECT_EQ(p_stream.get(), p_bytes.back());
    EXPECT_EQ(p_stream.get(), std::char_traits<char>::eof());
    p_stream.clear();
    p_stream.seekg(0, std::ios_base::end);
    EXPECT_EQ(static_cast<long>(p_stream.tellg()), static_cast<long>(size));
    EXPECT_TRUE(p_stream.good());
    p_stream.seekg(1, std::ios_base::end);
    EXPECT_TRUE(p_stream.bad());
    p_stream.clear();
    p_stream.seekg(-size - 1, std::ios_base::end);
    EXPECT_TRUE(p_stream.bad());
    p_stream.clear();
    p_stream.seekg(0);
    EXPECT_TRUE(p_stream.unget().bad());
    p_stream.clear();
    EXPECT_EQ(p_stream.get(), p_bytes[0]);
    EXPECT_TRUE(p_stream.unget().good());
    EXPECT_EQ(ReadAll(p_stream), p_bytes);
}

TEST_F(ArchiveVolumeTest, StreamSeeksAnywhereAndOutlivesTheVolume)
{
    const std::string archive = MakeArchive({{"x", "0123456789"}, {"t", "a\r\nb\r\nc\r\nd"}});
    auto volume = OpenFile("s.zip", archive);
    auto stream = volume->Open(P("x"), Volume::Binary);
    auto text = volume->Open(P("t"), Volume::Text);
    volume.reset();
    ExpectSeeksAnywhere(*stream, "0123456789");
    ExpectSeeksAnywhere(*text, "a\nb\nc\nd");

    // An archive held in memory hands out the same streams.
    dir.Write("inner.zip", archive);
    auto inner = ArchiveVolume::Open(*FileSystemVolume::Open(qorfile::filepath(dir.path())), P("inner.zip"), "");
    auto held = inner->Open(P("x"), Volume::Binary);
    inner.reset();
    ExpectSeeksAnywhere(*held, "0123456789");
}

// From 32 MiB on an entry's bytes are mapped apart from its stream.
TEST_F(ArchiveVolumeTest, BigEntryReadsWholeInBothModes)
{
    std::string bytes((std::size_t(32) << 20) + 3, 'b');
    bytes[1] = '\r';
    bytes[2] = '\n';
    bytes.back() = 'z';
    auto volume = OpenFile("big.zip", MakeArchive({{"big", bytes}}));
    auto binary = volume->Open(P("big"), Volume::Binary);
    binary->seekg(0, std::ios_base::end);
    EXPECT_EQ(static_cast<std::size_t>(binary->tellg()), bytes.size());
    binary->seekg(0);
    EXPECT_EQ(ReadAll(*binary), bytes);
    const std::string text = ReadAsset(volume, "big", Volume::Text);
    EXPECT_EQ(text.size(), bytes.size() - 1);
    EXPECT_EQ(text.substr(0, 3), "b\nb");
    EXPECT_EQ(text.back(), 'z');
}

// An entry without bytes opens as an empty stream, in both modes and without a report: one
// whose local header claims none, one whose data would start behind the archive's end (an
// extra field reaching past it), and one whose data starts exactly at the end. Alike for an
// archive file, an archive inside another volume, plain and scrambled.
TEST_F(ArchiveVolumeTest, EntryWithoutBytesOpensEmpty)
{
    std::string plain = MakeArchive({{"empty", ""}, {"beyond", "abc"}, {"last", "z"}, {"full", "f\r\n"}});
    const std::size_t beyond = 30 + 5;            // the second local header
    Put16(plain, beyond + 28, 0xFFFF);            // an extra field reaching past the end
    const std::size_t last = beyond + 30 + 6 + 3; // the third local header
    Put16(plain, last + 28, static_cast<std::uint16_t>(plain.size() - (last + 30 + 4))); // data at the end
    Put32(plain, last + 22, 5);
    const std::string key = "k3y";
    struct Form {
        const char* name;
        std::string bytes;
        std::string key;
    };
    const Form forms[] = {{"plain.zip", plain, ""}, {"given.pak", Scramble(plain, key), key}};
    auto outer = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    for (const Form& form : forms) {
        dir.Write(form.name, form.bytes);
        const boost::shared_ptr<Volume> volumes[] = {ArchiveVolume::Open(qorfile::filepath(dir / form.name), form.key),
                                                     ArchiveVolume::Open(*outer, P(form.name), form.key)};
        for (const auto& volume : volumes) {
            EnsureRecorder recorder;
            for (const char* path : {"empty", "beyond", "last"}) {
                EXPECT_TRUE(volume->Exists(P(path))) << form.name << " " << path;
                for (Volume::OpenMode mode : {Volume::Binary, Volume::Text}) {
                    boost::shared_ptr<std::istream> stream = volume->Open(P(path), mode);
                    ASSERT_TRUE(stream && stream->good()) << form.name << " " << path;
                    EXPECT_EQ(static_cast<long>(stream->tellg()), 0);
                    EXPECT_EQ(stream->peek(), std::char_traits<char>::eof()) << form.name << " " << path;
                    stream->clear();
                    stream->seekg(0, std::ios_base::end);
                    EXPECT_EQ(static_cast<long>(stream->tellg()), 0);
                    char buffer[8];
                    EXPECT_EQ(volume->Read(P(path), mode, buffer, sizeof buffer), std::optional<std::uint64_t>(0));
                    EXPECT_EQ(volume->Size(P(path), mode), std::optional<std::uint64_t>(0));
                }
            }
            EXPECT_EQ(ReadAsset(volume, "full", Volume::Text), "f\n") << form.name;
            EXPECT_EQ(recorder.messages(), std::vector<std::string>()) << form.name;
        }
    }
    auto trailer = OpenFile("trailer.pak", MakeArchive({{"e", ""}, {"f", "x"}}, Key32, true));
    EXPECT_EQ(ReadAsset(trailer, "e", Volume::Text), "");
    EXPECT_EQ(ReadAsset(trailer, "f"), "x");
}

TEST_F(ArchiveVolumeTest, DirectoryEntryAndMissingPathAreReported)
{
    auto volume = OpenFile("sample.zip", MakeArchive(SampleItems()));
    EXPECT_EQ(ThrownReport([&] { volume->Open(P("shaders"), Volume::Binary); }), Messages::EntryIsDirectory);
    EnsureRecorder recorder;
    EXPECT_FALSE(volume->Open(P("img"), Volume::Binary));
    EXPECT_FALSE(volume->Open(P("nothing"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{Messages::EntryMissing, Messages::EntryMissing}));
}

TEST_F(ArchiveVolumeTest, MethodsAndEncryptionAreReportedAndEntriesListedAsStored)
{
    std::string archive = MakeArchive({{"deflated", "stored-bytes"}, {"odd", "x"}, {"secret", "plain"}});
    Put16(archive, CentralHeaderOffset(archive, 0) + 10, 8);
    Put16(archive, CentralHeaderOffset(archive, 1) + 10, 12);
    Put16(archive, CentralHeaderOffset(archive, 2) + 8, 1);
    EnsureRecorder recorder;
    auto volume = OpenFile("m.zip", archive);
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{Messages::MethodUnsupported, Messages::Encrypted}));
    EXPECT_TRUE(volume->Exists(P("deflated")));
    EXPECT_TRUE(volume->Exists(P("odd")));
    recorder.clear();
    // When the handler returns, the bytes are handed out as stored.
    EXPECT_EQ(ReadAsset(volume, "deflated"), "stored-bytes");
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::EntryCompressed});
    EXPECT_EQ(ReadAsset(volume, "secret"), "plain");
}

TEST_F(ArchiveVolumeTest, DuplicateFileKeepsTheLaterRecordAndADirectoryRecordKeepsTheFile)
{
    EnsureRecorder recorder;
    auto volume = OpenFile("dup.zip",
                           MakeArchive({{"a/b", "first"}, {"a\\b", "second"}, {"lib", "library"}, {"lib/", "", true}}));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::DuplicateFile});
    EXPECT_EQ(ReadAsset(volume, "a/b"), "second");
    EXPECT_TRUE(volume->Exists(P("lib")));
    EXPECT_EQ(ReadAsset(volume, "lib"), "library");
}

TEST_F(ArchiveVolumeTest, CommentMovesTheEndRecord)
{
    std::string archive = MakeArchive({{"x", "1"}});
    Put16(archive, archive.size() - 2, 1);
    archive += 'c';
    EXPECT_EQ(ThrownReport([&] { OpenFile("comment.zip", archive); }), Messages::EndRecordInvalid);
    EnsureRecorder recorder;
    auto volume = OpenFile("comment.zip", archive);
    ASSERT_FALSE(recorder.messages().empty());
    EXPECT_EQ(recorder.messages().front(), Messages::EndRecordInvalid);
    EXPECT_FALSE(volume->Exists(P("x")));
}

TEST_F(ArchiveVolumeTest, MissingFileOrDirectoryReportsAndStaysEmpty)
{
    EnsureRecorder recorder;
    auto volume = ArchiveVolume::Open(qorfile::filepath(dir / "absent.zip"), "");
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{Messages::ArchiveFileFailed, Messages::EndRecordCount,
                                                             Messages::EndRecordInvalid}));
    EXPECT_FALSE(volume->Exists(P("")));
    recorder.clear();
    EXPECT_FALSE(volume->Open(P("x"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::EntryMissing});

    // A directory opens as a failed stream.
    recorder.clear();
    dir.MakeDir("folder.zip");
    ArchiveVolume::Open(qorfile::filepath(dir / "folder.zip"), "");
    ASSERT_FALSE(recorder.messages().empty());
    EXPECT_EQ(recorder.messages().front(), Messages::ArchiveFileFailed);
}

TEST_F(ArchiveVolumeTest, TooManyRecordsReadPastTheDirectory)
{
    std::string archive = MakeArchive({{"only", "1"}});
    Put16(archive, archive.size() - 22 + 8, 3);
    EnsureRecorder recorder;
    auto volume = OpenFile("count.zip", archive);
    const std::string shortHeader = Messages::CentralHeaderCount;
    EXPECT_EQ(recorder.messages(),
              (std::vector<std::string>{shortHeader, Messages::HeaderInvalid, Messages::NameEmpty, shortHeader,
                                        Messages::HeaderInvalid, Messages::NameEmpty}));
    EXPECT_EQ(ReadAsset(volume, "only"), "1");
}

TEST_F(ArchiveVolumeTest, OpenReportsABadLocalHeaderAndAnArchiveThatWentAway)
{
    std::string archive = MakeArchive({{"x", "1"}});
    archive[0] = 'Q';
    EnsureRecorder recorder;
    auto local = OpenFile("local.zip", archive);
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_FALSE(local->Open(P("x"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::LocalHeaderInvalid});

    auto gone = OpenFile("gone.zip", MakeArchive({{"x", "1"}}));
    std::remove((dir / "gone.zip").c_str());
    recorder.clear();
    EXPECT_FALSE(gone->Open(P("x"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::ArchiveNotGood});
}

// The local header counts the bytes, whatever the central directory says; a claim past the
// archive's end gives what the archive holds from the data on, and nothing more.
TEST_F(ArchiveVolumeTest, LocalHeaderCountsTheBytesUpToTheArchiveEnd)
{
    std::string archive = MakeArchive({{"x", "a\r\n"}, {"y", "y"}});
    const std::size_t data = 30 + 1;
    Put32(archive, 22, 6);
    const std::string six = archive.substr(data, 6); // into the next local header
    const std::string tail = archive.substr(data);
    ASSERT_EQ(six.substr(0, 5), "a\r\nPK");

    auto file = OpenFile("claims.zip", archive);
    EXPECT_EQ(ReadAsset(file, "x"), six);
    Put32(archive, 22, 0xFFFFFFFF);
    file = OpenFile("claims.zip", archive);
    dir.Write("inner.zip", archive);
    auto inner = ArchiveVolume::Open(*FileSystemVolume::Open(qorfile::filepath(dir.path())), P("inner.zip"), "");
    for (const auto& volume : {file, inner}) {
        EXPECT_EQ(ReadAsset(volume, "x"), tail);
        EXPECT_EQ(ReadAsset(volume, "x", Volume::Text), "a\n" + tail.substr(3));
    }

    // Scrambled data unscrambles only what is held: the tail comes out plain.
    const std::string key = "k3y";
    std::string plain = MakeArchive({{"x", "abc"}, {"y", "y"}});
    Put32(plain, 22, 0xFFFFFFFF);
    auto scrambled = OpenFile("claims.pak", Scramble(plain, key), key);
    EXPECT_EQ(ReadAsset(scrambled, "x"), plain.substr(data));
}

// ---------------------------------------------------------------------------------------
// Scrambled archives.

TEST_F(ArchiveVolumeTest, ScrambledWithAGivenKey)
{
    const std::string key = "k3y";
    auto volume = OpenFile("data.pak", MakeArchive(SampleItems(), key), key);
    EXPECT_TRUE(volume->Exists(P("img/logo")));
    EXPECT_EQ(ReadAsset(volume, "img/logo/a.png"), "PNGDATA");
    EnsureRecorder recorder;
    auto wrong = OpenFile("data.pak", MakeArchive(SampleItems(), key), "wrong");
    EXPECT_FALSE(recorder.messages().empty());

    // With the ZIP extension only the records are unscrambled: the data stays as stored.
    const std::string archive = MakeArchive({{"name", "payload"}}, key);
    auto keyed = OpenFile("keyed.zip", archive, key);
    EXPECT_TRUE(keyed->Exists(P("name")));
    const std::size_t dataOffset = 30 + 4;
    EXPECT_EQ(ReadAsset(keyed, "name"), Scramble("payload", key, dataOffset));
}

TEST_F(ArchiveVolumeTest, ScrambledWithTheKeyFromTheTrailer)
{
    const std::string archive = MakeArchive(SampleItems(), Key32, true);
    auto volume = OpenFile("data.pak", archive);
    EXPECT_EQ(ReadAsset(volume, "shaders/basic.vert"), "void main() {}\n");
    // Upper-case ZIP counts as scrambled, too.
    auto upper = OpenFile("DATA.ZIP", archive);
    EXPECT_EQ(ReadAsset(upper, "img/logo/a.png"), "PNGDATA");
    // The same file read as plain ZIP misses its end record.
    EnsureRecorder recorder;
    OpenFile("data.zip", archive);
    ASSERT_FALSE(recorder.messages().empty());
    EXPECT_EQ(recorder.messages().front(), Messages::EndRecordInvalid);
}

TEST_F(ArchiveVolumeTest, ArchiveInsideAnotherVolumeIsReadOnce)
{
    dir.Write("inner.pak", MakeArchive(SampleItems(), Key32, true));
    auto outer = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    auto volume = ArchiveVolume::Open(*outer, P("inner.pak"), "");
    outer.reset();
    std::remove((dir / "inner.pak").c_str());
    EXPECT_EQ(ReadAsset(volume, "img/logo/a.png"), "PNGDATA");
    EXPECT_EQ(ReadAsset(volume, "shaders/basic.vert", Volume::Text), "void main() {}\n");
}

// A volume reads only from the archive file its directory came from. Another archive renamed
// over it, or written into it in place, whose first entry is c.txt where a.txt stood (so every
// offset still points at a valid local header): Open hands out nothing of it, neither c.txt's
// bytes nor a local-header report, and names the archive instead. An entry that the new file
// holds unchanged at its place (same local header: method, CRC-32, sizes) is still the entry
// listed, and opens. Alike for a plain and a scrambled archive.
TEST_F(ArchiveVolumeTest, ReplacedArchiveIsNeverMisread)
{
    namespace fs = std::filesystem;
    for (const std::string key : {"", "k3y"}) {
        const std::string name = key.empty() ? "game.zip" : "game.pak";
        const std::string original =
            MakeArchive({{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"same.txt", "unchanged"}}, key);
        const std::string replacement =
            MakeArchive({{"c.txt", "charl"}, {"b.txt", "other"}, {"same.txt", "unchanged"}}, key);
        ASSERT_EQ(original.size(), replacement.size());
        const auto renameOver = [&](const std::string& p_path) {
            fs::rename(fs::u8path(dir.Write("next", replacement)), fs::u8path(p_path));
        };
        // A rebuild comes later than the mount, while file times are coarse: its time is set apart.
        const auto rewriteInPlace = [&](const std::string& p_path) {
            const fs::file_time_type mounted = fs::last_write_time(fs::u8path(p_path));
            std::ofstream(fs::u8path(p_path), std::ios::binary | std::ios::trunc) << replacement;
            fs::last_write_time(fs::u8path(p_path), mounted + std::chrono::seconds(2));
        };
        const std::function<void(const std::string&)> replacements[] = {renameOver, rewriteInPlace};
        for (const auto& replace : replacements) {
            const std::string path = dir.Write(name, original);
            ArchiveVolume mounted(AssetPath(qorfile::filepath(path)), P("data"), 0, key);
            auto alone = ArchiveVolume::Open(qorfile::filepath(path), key);
            EXPECT_EQ(ReadAll(*mounted.Open(P("data/a.txt"), Volume::Binary)), "alpha");
            replace(path);
            const std::string source = AssetPath(qorfile::filepath(path)).str();
            const std::string changed = Messages::ArchiveChanged(source);
            EXPECT_NE(changed.find(source + ": archive changed on disk since it was mounted"), std::string::npos);
            EXPECT_EQ(ThrownReport([&] { mounted.Open(P("data/a.txt"), Volume::Binary); }), changed);
            EnsureRecorder recorder;
            EXPECT_FALSE(mounted.Open(P("data/a.txt"), Volume::Text));
            EXPECT_FALSE(mounted.Open(P("data/b.txt"), Volume::Binary));
            EXPECT_FALSE(alone->Open(P("a.txt"), Volume::Binary));
            char buffer[16];
            EXPECT_FALSE(mounted.Read(P("data/a.txt"), Volume::Binary, buffer, sizeof buffer));
            EXPECT_FALSE(alone->Size(P("a.txt"), Volume::Text));
            EXPECT_EQ(recorder.messages(), std::vector<std::string>(5, changed)) << name;
            recorder.clear();
            EXPECT_EQ(ReadAll(*mounted.Open(P("data/same.txt"), Volume::Binary)), "unchanged") << name;
            EXPECT_EQ(recorder.messages(), std::vector<std::string>()) << name;
            // The directory read at mount still answers; a fresh volume reads the new archive.
            EXPECT_TRUE(mounted.Exists(P("data/a.txt")));
            EXPECT_EQ(ReadAsset(ArchiveVolume::Open(qorfile::filepath(path), key), "c.txt"), "charl");
        }
    }
    // A shorter archive in its place, where the old offsets lie past the end: named, not read.
    const std::string path = dir.Write("short.zip", MakeArchive({{"a.txt", "alpha"}, {"b.txt", "bravo"}}));
    auto volume = ArchiveVolume::Open(qorfile::filepath(path), "");
    fs::rename(fs::u8path(dir.Write("next", MakeArchive({{"x", "1"}}))), fs::u8path(path));
    EnsureRecorder recorder;
    EXPECT_FALSE(volume->Open(P("b.txt"), Volume::Binary));
    EXPECT_EQ(recorder.messages(),
              std::vector<std::string>{Messages::ArchiveChanged(AssetPath(qorfile::filepath(path)).str())});
}

TEST_F(ArchiveVolumeTest, ArchiveInsideAnotherVolumeFailures)
{
    dir.Write("empty.zip", "");
    dir.MakeDir("dir.zip");
    auto outer = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    EXPECT_THROW(ArchiveVolume::Open(*outer, P("empty.zip"), ""), std::out_of_range);

    EnsureRecorder recorder;
    auto volume = ArchiveVolume::Open(*outer, P("dir.zip"), "");
    ASSERT_FALSE(recorder.messages().empty());
    EXPECT_EQ(recorder.messages().back(), Messages::VolumeStreamFailed);
    EXPECT_FALSE(volume->Exists(P("")));
}

// ---------------------------------------------------------------------------------------
// Scramble positions are signed 32-bit values, reduced modulo the key length first.
//
// A record or name is unscrambled from the position tellg gave for its first byte, cut to a
// signed 32-bit value. Damage brings that position below 0: a central directory offset of
// 0xFFFFFFF0 is -16 once cut, and a stream that failed (a seek past the end of a stream that
// refuses it, or any read past the end) tells -1. The key byte of the byte at offset p is the
// one at index p mod L, and the buffer's first byte picks "position reduced modulo L" as its
// index; an index lies in [0, L), so the reduction is the least non-negative remainder:
// -1 mod 7 = 6 and -16 mod 7 = 5. That is also the only reading under which every byte of such
// a buffer keeps the rule: the second byte of a buffer read at -1 lies at offset 0, and takes
// key[0] as any byte at offset 0 does ((6 + 1) mod 7 = 0). Other readings give other bytes and
// agree with this one only when L divides 2^32: the position as an unsigned 32-bit value
// (0xFFFFFFFF mod 7 = 3, 0xFFFFFFF0 mod 7 = 2), C++'s % on the signed value (-1 % 7 = -1, no
// index at all), and the signed value widened to a 64-bit unsigned length before the
// reduction ((2^64 - 1) mod 7 = 1, (2^64 - 16) mod 7 = 0).
//
// Nothing is read at such a position, so the record (or name) is zero bytes XORed with the key
// from that index on: which key bytes it holds tells which index was used. The key below
// makes the readings differ in what they report and in the name the directory gets.

const std::string Key7 = "scrambl";

// Index of the key byte that unscrambles the first byte read at p_position.
std::size_t KeyIndex(std::int32_t p_position, std::size_t p_keyLength)
{
    const std::int64_t remainder = p_position % static_cast<std::int64_t>(p_keyLength);
    return static_cast<std::size_t>(remainder < 0 ? remainder + static_cast<std::int64_t>(p_keyLength) : remainder);
}

// p_count zero bytes read at p_position and unscrambled with Key7.
std::string UnscrambledZeros(std::int32_t p_position, std::size_t p_count)
{
    std::string bytes;
    for (std::size_t i = 0; i < p_count; ++i)
        bytes += Key7[(KeyIndex(p_position, Key7.size()) + i) % Key7.size()];
    return bytes;
}

// A given-key archive of nothing but an end record that counts one central header at
// p_centralDirectory.
std::string EndRecordPointingAt(std::uint32_t p_centralDirectory)
{
    std::string plain = MakeArchive({});
    Put16(plain, plain.size() - 22 + 8, 1);
    Put16(plain, plain.size() - 22 + 10, 1);
    Put32(plain, plain.size() - 22 + 16, p_centralDirectory);
    return Scramble(plain, Key7);
}

// The name the walk gets from a header that was not there, read at p_headerPosition, its name
// read at -1: as long as the header's name length field says.
std::string NameOfAMissingHeader(std::int32_t p_headerPosition)
{
    const std::string header = UnscrambledZeros(p_headerPosition, 46);
    return UnscrambledZeros(-1, Get16(header, 28));
}

TEST_F(ArchiveVolumeTest, CentralDirectoryAtMinus16IsUnscrambledFromTheSignedPosition)
{
    // The header at 0xFFFFFFF0 (-16): key index 5. Its flags byte is key[6] = 'l' (0x6C, not
    // encrypted), its method key[1] key[2] ("cr", reported); its name length key[5] key[6]
    // ("bl", 27 746 bytes), and the name, read at -1, runs from key[6]: "lscramb" repeated.
    // (As an unsigned position the header starts at key[2]: flags 'a', odd, encrypted.)
    const std::string archive = EndRecordPointingAt(0xFFFFFFF0u);
    const std::string name = NameOfAMissingHeader(-16);
    ASSERT_EQ(name.size(), 27746u);
    ASSERT_EQ(name.substr(0, 8), "lscrambl");
    const std::vector<std::string> expected = {Messages::CentralHeaderCount, Messages::HeaderInvalid,
                                               Messages::MethodUnsupported};

    EnsureRecorder recorder;
    auto onDisk = OpenFile("minus16.pak", archive, Key7);
    EXPECT_EQ(recorder.messages(), expected);
    EXPECT_TRUE(onDisk->Exists(P(name)));

    // A file stream from a directory volume seeks past its end just as well.
    recorder.clear();
    auto outer = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    auto streamed = ArchiveVolume::Open(*outer, P("minus16.pak"), Key7);
    EXPECT_EQ(recorder.messages(), expected);
    EXPECT_TRUE(streamed->Exists(P(name)));
}

TEST_F(ArchiveVolumeTest, NameReadByAFailedStreamIsUnscrambledFromMinusOne)
{
    // The header at 65 539 lies past the end: it is read at a position all readings agree on
    // (65 539 mod 7 = 5, the same header as above), and fails the stream, whose tellg then gives
    // -1 for the name: key index 6, "lscramb" repeated. (Unsigned: index 3, "amblscr".)
    const std::string name = NameOfAMissingHeader(65539);
    ASSERT_EQ(name, NameOfAMissingHeader(-16));
    EnsureRecorder recorder;
    auto volume = OpenFile("past.pak", EndRecordPointingAt(65539), Key7);
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{Messages::CentralHeaderCount, Messages::HeaderInvalid,
                                                             Messages::MethodUnsupported}));
    EXPECT_TRUE(volume->Exists(P(name)));
}

TEST_F(ArchiveVolumeTest, HeaderAndNameOfAStreamThatRefusesTheSeekAreUnscrambledFromMinusOne)
{
    // The seek to 0xFFFFFFF0 fails the string stream: header and name are both read at -1,
    // key index 6. The header's flags byte is key[0] = 's' (0x73, encrypted), its method key[2]
    // key[3], its name length key[6] key[0] ("ls", 29 548 bytes).
    // (Unsigned: index 3, name length key[3] key[4], 28 001 bytes of "amblscr".)
    const std::string name = NameOfAMissingHeader(-1);
    ASSERT_EQ(name.size(), 29548u);
    // A volume whose one asset is a string stream: it refuses a seek past its end.
    const MemoryVolume outer("inner.pak", EndRecordPointingAt(0xFFFFFFF0u));
    EnsureRecorder recorder;
    auto volume = ArchiveVolume::Open(outer, P("inner.pak"), Key7);
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{Messages::CentralHeaderCount, Messages::HeaderInvalid,
                                                             Messages::Encrypted, Messages::MethodUnsupported}));
    EXPECT_TRUE(volume->Exists(P(name)));
}

// ---------------------------------------------------------------------------------------
// Archives made by Info-ZIP, and our writer's output checked by it.

class InfoZipTest : public ArchiveVolumeTest {
protected:
    void SetUp() override
    {
        if (!testing_support::HaveInfoZip())
            GTEST_SKIP() << "Info-ZIP zip and unzip are not at hand";
        dir.Write("content/shaders/basic.vert", "void main() {}\n");
        dir.Write("content/img/logo.png", std::string("\x89PNG\0\r\n", 7));
        dir.Write("content/readme.txt", "one\r\ntwo\r\n");
    }
};

TEST_F(InfoZipTest, StoredArchiveWithDirectoryEntries)
{
    ASSERT_EQ(RunShell("cd '" + dir.path() + "/content' && zip -q -0 -r ../with.zip ."), 0);
    auto volume = ArchiveVolume::Open(qorfile::filepath(dir / "with.zip"), "");
    EXPECT_TRUE(volume->Exists(P("shaders")));
    EXPECT_TRUE(volume->Exists(P("img/logo.png")));
    EXPECT_EQ(ReadAsset(volume, "img/logo.png"), std::string("\x89PNG\0\r\n", 7));
    EXPECT_EQ(ReadAsset(volume, "readme.txt", Volume::Text), "one\ntwo\n");
    EXPECT_THROW(volume->Open(P("shaders"), Volume::Binary), qordebug::ensure_failure);
}

TEST_F(InfoZipTest, StoredArchiveWithoutDirectoryEntries)
{
    ASSERT_EQ(RunShell("cd '" + dir.path() + "/content' && zip -q -0 -r -D ../without.zip ."), 0);
    auto volume = ArchiveVolume::Open(qorfile::filepath(dir / "without.zip"), "");
    EXPECT_TRUE(volume->Exists(P("shaders")));
    EXPECT_TRUE(volume->Exists(P("img")));
    EXPECT_EQ(ReadAsset(volume, "shaders/basic.vert"), "void main() {}\n");
    EnsureRecorder recorder;
    EXPECT_FALSE(volume->Open(P("shaders"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::EntryMissing});
}

TEST_F(InfoZipTest, OurWriterPassesUnzipTest)
{
    dir.Write("ours.zip", MakeArchive(SampleItems()));
    EXPECT_EQ(RunShell("unzip -tqq '" + (dir / "ours.zip") + "'"), 0);
    const std::string key = "anything";
    dir.Write("scrambled.bin", Scramble(MakeArchive(SampleItems(), key), key));
    EXPECT_EQ(RunShell("unzip -tqq '" + (dir / "scrambled.bin") + "'"), 0);
    ASSERT_EQ(RunShell("cd '" + dir.path() + "' && mkdir out && cd out && unzip -qq ../ours.zip"), 0);
    EXPECT_EQ(ReadFile(dir / "out/img/logo/a.png"), "PNGDATA");
}

} // namespace
