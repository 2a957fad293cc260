// The directory volume: resolution under a mount point, existence, text and binary open,
// the two reported checks, streams that outlive the volume.
#include "TestSupport.h"

#include <Assets/FileSystemVolume.h>

#include "Messages.h"

#include <gtest/gtest.h>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

const std::string ModeMessage = Messages::DirectoryModeNotText;
const std::string StreamMessage = Messages::DirectoryStreamFailed;

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

TEST_F(FileSystemVolumeTest, TextModeFoldsCrLfOnlyAndSeeksInFoldedPositions)
{
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    EXPECT_EQ(ReadAll(*volume->Open(P("a/b.txt"), Volume::Binary)), "line1\r\nline2\r\n\rend\r");
    auto stream = volume->Open(P("a/b.txt"), Volume::Text);
    EXPECT_EQ(ReadAll(*stream), "line1\nline2\n\rend\r");
    stream->clear();
    stream->seekg(0, std::ios_base::end);
    EXPECT_EQ(static_cast<long>(stream->tellg()), 17);
    stream->seekg(6);
    EXPECT_EQ(ReadAll(*stream), "line2\n\rend\r");

    // A pair split by the stream's buffer is folded all the same.
    const std::string x(16383, 'x'), y(100, 'y');
    dir.Write("big.txt", x + "\r\n" + y);
    EXPECT_EQ(ReadAll(*volume->Open(P("big.txt"), Volume::Text)), x + "\n" + y);
}

TEST_F(FileSystemVolumeTest, DirectoryOrMissingFileDoesNotOpen)
{
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    EXPECT_FALSE(volume->Exists(P("nothing.txt")));
    try {
        volume->Open(P("nothing.txt"), Volume::Text);
        FAIL() << "the default handler returned";
    } catch (const qordebug::ensure_failure& failure) {
        EXPECT_EQ(std::string(failure.what()), StreamMessage);
    }
    EnsureRecorder recorder;
    EXPECT_TRUE(volume->Exists(P("shaders")));
    auto stream = volume->Open(P("shaders"), Volume::Binary);
    ASSERT_TRUE(stream);
    EXPECT_FALSE(stream->good());
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{StreamMessage});

    recorder.clear();
    stream = volume->Open(P("shaders"), Volume::Text);
    EXPECT_FALSE(stream->good());
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{StreamMessage});
}

TEST_F(FileSystemVolumeTest, UnknownModeIsReportedAndOpensAsText)
{
    EnsureRecorder recorder;
    auto volume = FileSystemVolume::Open(qorfile::filepath(dir.path()));
    auto stream = volume->Open(P("a/b.txt"), static_cast<Volume::OpenMode>(7));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{ModeMessage});
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

} // namespace
