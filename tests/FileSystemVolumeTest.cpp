// The directory volume: resolution under a mount point, existence, text and binary open,
// the two reported checks, streams that outlive the volume.
#include "TestSupport.h"

#include <Assets/FileSystemVolume.h>

#include "Messages.h"

#include <gtest/gtest.h>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

class FileSystemVolumeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.Write("shaders/basic.vert", "void main() {}\n");
        dir.Write("a/b.txt", "line1\r\nline2\r\n\rend\r");
        dir.Write("a.png", std::string("\x89PNG\r\n\x1a\n\0bin", 12));
    }

    ScratchDir dir;
};

TEST_F(FileSystemVolumeTest, ResolvesAtTheRootAndStreamsOutliveTheVolume)
{
    // A trailing backslash is dropped by normalisation; the volume stands at the root.
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir.path() + "\\"));
    EXPECT_TRUE(volume->Exists(P("shaders")));
    EXPECT_TRUE(volume->Exists(P("shaders/basic.vert")));
    EXPECT_TRUE(volume->Exists(P("")));
    EXPECT_FALSE(volume->Exists(P("shaders/missing")));
    auto stream = volume->Open(P("shaders/basic.vert"), Volume::Text);
    volume.reset();
    EXPECT_EQ(ReadAll(*stream), "void main() {}\n");
}

TEST_F(FileSystemVolumeTest, CutsTheMountPointOff)
{
    FileSystemVolume volume(AssetPath(qorfile::filepath(dir.path())), P("gfx"), 3);
    EXPECT_TRUE(volume.Exists(P("gfx")));
    EXPECT_TRUE(volume.Exists(P("gfx/a.png")));
    EXPECT_EQ(ReadAll(*volume.Open(P("gfx/a.png"), Volume::Binary)), std::string("\x89PNG\r\n\x1a\n\0bin", 12));
    // Paths outside the mount point are joined whole: the mount table never asks for them.
    dir.Write("gfxother/a", "outside");
    EXPECT_TRUE(volume.Exists(P("gfxother/a")));
    EXPECT_EQ(ReadAll(*volume.Open(P("gfxother/a"), Volume::Binary)), "outside");
}

// Text mode is the C runtime's text mode of Windows, imitated where the runtime has none.
TEST_F(FileSystemVolumeTest, TextModeFoldsCrLfOnlyAndSeeksToFileOffsets)
{
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    EXPECT_EQ(ReadAll(*volume->Open(P("a/b.txt"), Volume::Binary)), "line1\r\nline2\r\n\rend\r");
    auto stream = volume->Open(P("a/b.txt"), Volume::Text);
    EXPECT_EQ(ReadAll(*stream), "line1\nline2\n\rend\r");
    // Positions are offsets in the file: the end is its length, and a seek into a CR LF pair
    // finds the LF alone.
    stream->clear();
    stream->seekg(0, std::ios_base::end);
    EXPECT_EQ(static_cast<long>(stream->tellg()), 19);
    stream->seekg(7);
    EXPECT_EQ(ReadAll(*stream), "line2\n\rend\r");
    stream->clear();
    stream->seekg(6);
    EXPECT_EQ(ReadAll(*stream), "\nline2\n\rend\r");

    // A pair split by the stream's buffer is folded all the same.
    const std::string x(16383, 'x'), y(100, 'y');
    dir.Write("big.txt", x + "\r\n" + y);
    EXPECT_EQ(ReadAll(*volume->Open(P("big.txt"), Volume::Text)), x + "\n" + y);

    // A Ctrl-Z ends the text; a seek behind it reads on.
    dir.Write("z.txt", "ab\r\x1a"
                       "cd\r\nef");
    EXPECT_EQ(ReadAll(*volume->Open(P("z.txt"), Volume::Binary)), "ab\r\x1a"
                                                                  "cd\r\nef");
    stream = volume->Open(P("z.txt"), Volume::Text);
    EXPECT_EQ(ReadAll(*stream), "ab\r");
    stream->clear();
    stream->seekg(4);
    EXPECT_EQ(ReadAll(*stream), "cd\nef");
}

// Paths are UTF-8 on every host: a source and a file with non-ASCII names open in both modes.
TEST_F(FileSystemVolumeTest, NonAsciiNamesOpen)
{
    dir.Write("gr\xc3\xbcn/\xc3\xa9t\xc3\xa9.txt", "a\r\nb");
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir / "gr\xc3\xbcn"));
    EXPECT_TRUE(volume->Exists(P("")));
    EXPECT_TRUE(volume->Exists(P("\xc3\xa9t\xc3\xa9.txt")));
    EXPECT_EQ(ReadAsset(volume, "\xc3\xa9t\xc3\xa9.txt", Volume::Binary), "a\r\nb");
    EXPECT_EQ(ReadAsset(volume, "\xc3\xa9t\xc3\xa9.txt", Volume::Text), "a\nb");
}

TEST_F(FileSystemVolumeTest, DirectoryOrMissingFileDoesNotOpen)
{
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    EXPECT_FALSE(volume->Exists(P("nothing.txt")));
    EXPECT_EQ(ThrownReport([&] { volume->Open(P("nothing.txt"), Volume::Text); }), Messages::DirectoryStreamFailed);
    EnsureRecorder recorder;
    EXPECT_TRUE(volume->Exists(P("shaders")));
    auto stream = volume->Open(P("shaders"), Volume::Binary);
    ASSERT_TRUE(stream);
    EXPECT_FALSE(stream->good());
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::DirectoryStreamFailed});

    recorder.clear();
    stream = volume->Open(P("shaders"), Volume::Text);
    EXPECT_FALSE(stream->good());
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::DirectoryStreamFailed});
}

TEST_F(FileSystemVolumeTest, UnknownModeIsReportedAndOpensAsText)
{
    EnsureRecorder recorder;
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    auto stream = volume->Open(P("a/b.txt"), static_cast<Volume::OpenMode>(7));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::DirectoryModeNotText});
    EXPECT_EQ(ReadAll(*stream), "line1\nline2\n\rend\r");
}

TEST_F(FileSystemVolumeTest, MissingSourceAnswersNothing)
{
    EnsureRecorder recorder;
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir / "gone"));
    EXPECT_FALSE(volume->Exists(P("")));
    EXPECT_FALSE(volume->Open(P("x"), Volume::Binary)->good());
    EXPECT_EQ(recorder.messages().size(), 1u);
}

// ---------------------------------------------------------------------------------------
// Paths stay inside the directory: a ".." component anywhere below the mount point is never
// resolved, even where it would lead back inside. Such a path fails exactly as a missing file
// fails. The directory "data" is mounted at "data", with secret.txt beside it.

class ContainmentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.Write("secret.txt", "secret");
        dir.Write("data/inside.txt", "inside");
        dir.Write("data/sub/x.txt", "x");
        dir.Write("data/..hidden", "dots");
        dir.Write("data/a..b", "dots");
    }

    ScratchDir dir;
};

const char* const Escapes[] = {
    "data/..",
    "data/../secret.txt",
    "data/sub/../../secret.txt",
    "data/sub/../inside.txt",
    "data/sub/..",
    "data/../data/inside.txt",
    "data/../../../../../../etc/passwd",
    "data/./../secret.txt",
    "data/sub/./../../secret.txt",
    "data/sub//../../secret.txt",
    "data//../secret.txt",
    "data\\..\\secret.txt",
#ifdef _WIN32
    // What the system reads as a parent, a drive, a stream, a device or a rooted path.
    "data/sub/.../x.txt",
    "data/. ./secret.txt",
    "data/.. /secret.txt",
    "data/c:/secret.txt",
    "data/c:secret.txt",
    "data/inside.txt:stream",
    "data/inside.txt::$DATA",
    "data//server/share/x",
    "data/\\?\\c:/secret.txt",
    "data/CON:",
#endif
};

TEST_F(ContainmentTest, ParentComponentsNeverResolveAndFailAsAMissingFile)
{
    FileSystemVolume volume(AssetPath(qorfile::filepath(dir / "data")), P("data"), 0);
    EXPECT_EQ(ThrownReport([&] { volume.Open(P("data/../secret.txt"), Volume::Binary); }),
              Messages::DirectoryStreamFailed);
    EnsureRecorder recorder;
    const boost::shared_ptr<std::istream> missing = volume.Open(P("data/missing.txt"), Volume::Binary);
    ASSERT_EQ(recorder.messages(), std::vector<std::string>{Messages::DirectoryStreamFailed});
    for (const char* path : Escapes) {
        EXPECT_FALSE(volume.Exists(P(path))) << path;
        EXPECT_TRUE(volume.Children(P(path)).empty()) << path;
        for (Volume::OpenMode mode : {Volume::Binary, Volume::Text}) {
            recorder.clear();
            const boost::shared_ptr<std::istream> stream = volume.Open(P(path), mode);
            ASSERT_TRUE(stream) << path;
            EXPECT_EQ(stream->rdstate(), missing->rdstate()) << path;
            EXPECT_EQ(stream->get(), std::char_traits<char>::eof()) << path;
            EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::DirectoryStreamFailed}) << path;
            recorder.clear();
            char buffer[16];
            EXPECT_FALSE(volume.Read(P(path), mode, buffer, sizeof buffer)) << path;
            EXPECT_FALSE(volume.Size(P(path), mode)) << path;
            EXPECT_EQ(recorder.messages(), std::vector<std::string>(2, Messages::DirectoryStreamFailed)) << path;
        }
    }
}

TEST_F(ContainmentTest, DotsInNamesAndSingleDotsStillResolve)
{
    FileSystemVolume volume(AssetPath(qorfile::filepath(dir / "data")), P("data"), 0);
    for (const char* path : {"data/..hidden", "data/a..b", "data/./inside.txt", "data/sub/./x.txt"}) {
        EXPECT_TRUE(volume.Exists(P(path))) << path;
        auto stream = volume.Open(P(path), Volume::Binary);
        EXPECT_TRUE(stream->good()) << path;
    }
    EXPECT_EQ(volume.Children(P("data/.")).size(), 4u);
}

#ifndef _WIN32
// A symbolic link inside the directory is the user's own layout: followed wherever it leads.
TEST_F(ContainmentTest, SymbolicLinksInsideAreFollowed)
{
    ASSERT_EQ(RunShell("ln -s ../secret.txt '" + (dir / "data/link.txt") + "'"), 0);
    ASSERT_EQ(RunShell("ln -s .. '" + (dir / "data/up") + "'"), 0);
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir / "data"));
    EXPECT_EQ(ReadAsset(volume, "link.txt"), "secret");
    EXPECT_EQ(ReadAsset(volume, "up/secret.txt"), "secret");
}
#endif

} // namespace
