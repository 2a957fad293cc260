// The archive volume: the walk over the central directory, implied folders, Open with its
// checks, scrambled archives, archives inside other volumes, archives made by Info-ZIP.
#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/FileSystemVolume.h>

#include "Messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

const std::string EndRecordMessage = Messages::EndRecordInvalid;
const std::string HeaderMessage = Messages::HeaderInvalid;
const std::string NameLengthMessage = Messages::NameEmpty;
const std::string EncryptedMessage = Messages::Encrypted;
const std::string MethodMessage = Messages::MethodUnsupported;
const std::string DuplicateMessage = Messages::DuplicateFile;
const std::string MissingMessage = Messages::EntryMissing;
const std::string NoFileMessage = Messages::EntryIsDirectory;
const std::string SourceMessage = Messages::ArchiveNotGood;
const std::string LocalHeaderMessage = Messages::LocalHeaderInvalid;
const std::string CompressedMessage = Messages::EntryCompressed;
const std::string FileStreamMessage = Messages::ArchiveFileFailed;

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
    EXPECT_TRUE(volume->Exists(P("")));
    // A path asked at the root loses one leading slash before the lookup.
    EXPECT_FALSE(volume->Exists(P("/abs")));
    EXPECT_TRUE(volume->Exists(P("//abs")));
    EXPECT_TRUE(volume->Exists(P("a")));
    EXPECT_TRUE(volume->Exists(P("a//b")));
    EXPECT_FALSE(volume->Exists(P("a/b")));
}

TEST_F(ArchiveVolumeTest, StreamSeeksAndOutlivesTheVolume)
{
    auto volume = OpenFile("s.zip", MakeArchive({{"x", "0123456789"}}));
    auto stream = volume->Open(P("x"), Volume::Binary);
    volume.reset();
    stream->seekg(4);
    EXPECT_EQ(ReadAll(*stream), "456789");
    stream->seekg(0, std::ios_base::end);
    EXPECT_EQ(static_cast<long>(stream->tellg()), 10);
}

TEST_F(ArchiveVolumeTest, EmptyEntryThrowsOutOfRange)
{
    auto volume = OpenFile("e.zip", MakeArchive({{"empty", ""}}));
    EXPECT_TRUE(volume->Exists(P("empty")));
    try {
        volume->Open(P("empty"), Volume::Binary);
        FAIL();
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "invalid string position");
    }
}

TEST_F(ArchiveVolumeTest, DirectoryEntryAndMissingPathAreReported)
{
    auto volume = OpenFile("sample.zip", MakeArchive(SampleItems()));
    try {
        volume->Open(P("shaders"), Volume::Binary);
        FAIL();
    } catch (const qordebug::ensure_failure& failure) {
        EXPECT_EQ(failure.what(), NoFileMessage);
    }
    EnsureRecorder recorder;
    EXPECT_FALSE(volume->Open(P("img"), Volume::Binary));
    EXPECT_FALSE(volume->Open(P("nothing"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{MissingMessage, MissingMessage}));
}

TEST_F(ArchiveVolumeTest, MethodsAndEncryptionAreReportedAndEntriesListedAsStored)
{
    std::string archive = MakeArchive({{"deflated", "stored-bytes"}, {"odd", "x"}, {"secret", "plain"}});
    Put16(archive, CentralHeaderOffset(archive, 0) + 10, 8);
    Put16(archive, CentralHeaderOffset(archive, 1) + 10, 12);
    Put16(archive, CentralHeaderOffset(archive, 2) + 8, 1);
    EnsureRecorder recorder;
    auto volume = OpenFile("m.zip", archive);
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{MethodMessage, EncryptedMessage}));
    EXPECT_TRUE(volume->Exists(P("deflated")));
    EXPECT_TRUE(volume->Exists(P("odd")));
    recorder.clear();
    // When the handler returns, the bytes are handed out as stored.
    EXPECT_EQ(ReadAsset(volume, "deflated"), "stored-bytes");
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{CompressedMessage});
    EXPECT_EQ(ReadAsset(volume, "secret"), "plain");
}

TEST_F(ArchiveVolumeTest, DuplicateFileKeepsTheLaterRecordAndADirectoryRecordKeepsTheFile)
{
    EnsureRecorder recorder;
    auto volume =
        OpenFile("dup.zip", MakeArchive({{"a/b", "first"}, {"a\\b", "second"}, {"lib", "library"}, {"lib/", "", true}}));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{DuplicateMessage});
    EXPECT_EQ(ReadAsset(volume, "a/b"), "second");
    EXPECT_TRUE(volume->Exists(P("lib")));
    EXPECT_EQ(ReadAsset(volume, "lib"), "library");
}

TEST_F(ArchiveVolumeTest, CommentMovesTheEndRecord)
{
    std::string archive = MakeArchive({{"x", "1"}});
    Put16(archive, archive.size() - 2, 1);
    archive += 'c';
    try {
        OpenFile("comment.zip", archive);
        FAIL();
    } catch (const qordebug::ensure_failure& failure) {
        EXPECT_EQ(failure.what(), EndRecordMessage);
    }
    EnsureRecorder recorder;
    auto volume = OpenFile("comment.zip", archive);
    ASSERT_FALSE(recorder.messages().empty());
    EXPECT_EQ(recorder.messages().front(), EndRecordMessage);
    EXPECT_FALSE(volume->Exists(P("x")));
}

TEST_F(ArchiveVolumeTest, MissingFileOrDirectoryReportsAndStaysEmpty)
{
    EnsureRecorder recorder;
    auto volume = ArchiveVolume::Open(qorfile::filepath(dir / "absent.zip"), "");
    EXPECT_EQ(recorder.messages(),
              (std::vector<std::string>{FileStreamMessage, Messages::EndRecordCount,
                                        EndRecordMessage}));
    EXPECT_FALSE(volume->Exists(P("")));
    recorder.clear();
    EXPECT_FALSE(volume->Open(P("x"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{MissingMessage});

    // A directory opens as a failed stream.
    recorder.clear();
    dir.MakeDir("folder.zip");
    ArchiveVolume::Open(qorfile::filepath(dir / "folder.zip"), "");
    ASSERT_FALSE(recorder.messages().empty());
    EXPECT_EQ(recorder.messages().front(), FileStreamMessage);
}

TEST_F(ArchiveVolumeTest, TooManyRecordsReadPastTheDirectory)
{
    std::string archive = MakeArchive({{"only", "1"}});
    Put16(archive, archive.size() - 22 + 8, 3);
    EnsureRecorder recorder;
    auto volume = OpenFile("count.zip", archive);
    const std::string shortHeader =
        Messages::CentralHeaderCount;
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{shortHeader, HeaderMessage, NameLengthMessage,
                                                             shortHeader, HeaderMessage, NameLengthMessage}));
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
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{LocalHeaderMessage});

    auto gone = OpenFile("gone.zip", MakeArchive({{"x", "1"}}));
    std::remove((dir / "gone.zip").c_str());
    recorder.clear();
    EXPECT_FALSE(gone->Open(P("x"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{SourceMessage});
}

TEST_F(ArchiveVolumeTest, LocalHeaderSizeCountsAndMissingBytesAreZero)
{
    std::string archive = MakeArchive({{"x", "abc"}});
    Put32(archive, 22, 6); // the local header claims six bytes
    auto full = OpenFile("claims.zip", archive);
    std::string bytes = ReadAsset(full, "x");
    ASSERT_EQ(bytes.size(), 6u);
    EXPECT_EQ(bytes.substr(0, 3), "abc");
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
    EXPECT_EQ(recorder.messages().front(), EndRecordMessage);
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
// Archives made by Info-ZIP, and our writer's output checked by it.

class InfoZipTest : public ArchiveVolumeTest {
protected:
    void SetUp() override
    {
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
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{MissingMessage});
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
