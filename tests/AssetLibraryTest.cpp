// The mount table: search order, the mount-point rule, preconditions and log lines, mixed
// volumes, and views below a sub-path.
#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>

#include "Messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

class AssetLibraryTest : public ::testing::Test {
protected:
    qorfile::filepath Dir(const std::string& p_relative) { return qorfile::filepath(dir.MakeDir(p_relative)); }
    qorfile::filepath File(const std::string& p_relative, const std::string& p_bytes)
    {
        return qorfile::filepath(dir.Write(p_relative, p_bytes));
    }

    ScratchDir dir;
    LogCapture log;
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
};

TEST_F(AssetLibraryTest, MountPointsAndTheirParentsExistButDoNotOpen)
{
    EXPECT_FALSE(library->Exists(P("")));
    EXPECT_FALSE(library->Exists(P("x")));
    EXPECT_FALSE(library->Open(P("x"), Volume::Binary));
    EXPECT_TRUE(library->Children(AssetPath()).empty());
    EXPECT_TRUE(library->Mounts().empty());

    library->MountDirectory(Dir("empty"), P("a/b"), 0);
    for (const char* present : {"", "a", "a/b"})
        EXPECT_TRUE(library->Exists(P(present))) << present;
    for (const char* absent : {"a/c", "a/b/c", "ab"})
        EXPECT_FALSE(library->Exists(P(absent))) << absent;
    for (const char* path : {"a", "a/c", "a/b/c"})
        EXPECT_FALSE(library->Open(P(path), Volume::Binary)) << path;
}

TEST_F(AssetLibraryTest, HigherPriorityFirstThenSourceOrderUntilUnmounted)
{
    for (const char* source : {"zero", "mid-b", "mid-a", "max"})
        File(std::string(source) + "/f", source);
    library->MountDirectory(qorfile::filepath(dir / "zero"), P(""), 0);
    library->MountDirectory(qorfile::filepath(dir / "mid-b"), P(""), 7);
    library->MountDirectory(qorfile::filepath(dir / "mid-a"), P(""), 7);
    library->MountDirectory(qorfile::filepath(dir / "max"), P(""), UINT_MAX);
    for (const char* winner : {"max", "mid-a", "mid-b", "zero"}) {
        EXPECT_EQ(ReadAsset(library, "f"), winner);
        library->Unmount(qorfile::filepath(dir / winner));
    }
    EXPECT_FALSE(library->Exists(P("f")));
}

TEST_F(AssetLibraryTest, VolumesAreAskedOnlyBelowTheirMountPointWithTheFullPath)
{
    File("d/gfxother/a", "outside");
    File("d/x", "x");
    File("d/gfx/x", "gfx/x");
    library->MountDirectory(qorfile::filepath(dir / "d"), P("gfx"), 0);
    // The directory volume would say yes for gfxother/a (it joins paths it does not own).
    EXPECT_FALSE(library->Exists(P("gfxother/a")));
    EXPECT_FALSE(library->Open(P("gfxother/a"), Volume::Binary));
    // Given the full path, the volume cuts its own mount point once.
    EXPECT_EQ(ReadAsset(library, "gfx/x"), "x");
    EXPECT_EQ(ReadAsset(library, "gfx/gfx/x"), "gfx/x");
}

TEST_F(AssetLibraryTest, MountLogsThreeLines)
{
    library->MountDirectory(Dir("content"), P("data/here"), 3);
    File("pack.zip", MakeArchive({{"a", "1"}}, "secret-never-logged"));
    library->MountArchive(qorfile::filepath(dir / "pack.zip"), P(""), 0, "secret-never-logged");
    const std::vector<std::string> expected = {"Mounting directory: content",       "   -> path: " + (dir / "content"),
                                               "   -> target: data/here",           "Mounting archive: pack.zip",
                                               "   -> path: " + (dir / "pack.zip"), "   -> target: "};
    EXPECT_EQ(log.texts(), expected);
    for (const LogLine& line : log.lines()) {
        EXPECT_EQ(line.channel, "Assets");
        EXPECT_EQ(line.level, qordebug::level::out);
    }
}

TEST_F(AssetLibraryTest, DuplicateSourcesAreReportedWhateverTheKind)
{
    EnsureRecorder recorder;
    const qorfile::filepath source = Dir("twice");
    library->MountDirectory(source, P("one"), 1);
    library->MountDirectory(qorfile::filepath(source.str() + "/"), P("two"), 2);
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::MountDirectoryTwice});
    // Mounting goes on when the handler returns: the new volume joins its own priority group,
    // while the recorded priority stays the first one.
    EXPECT_TRUE(library->Exists(P("one")));
    EXPECT_TRUE(library->Exists(P("two")));

    recorder.clear();
    library->MountArchive(source, P("three"), 1, "");
    EXPECT_TRUE(recorder.Saw(Messages::MountArchiveTwice));

    library->Unmount(source);
    recorder.clear();
    library->MountDirectory(source, P("again"), 0);
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_TRUE(library->Exists(P("again")));
}

TEST_F(AssetLibraryTest, DuplicateMountThrowsWithTheDefaultHandler)
{
    const qorfile::filepath source = Dir("once");
    library->MountDirectory(source, P(""), 0);
    log.clear();
    EXPECT_THROW(library->MountDirectory(source, P("b"), 0), qordebug::ensure_failure);
    // Nothing was logged as mounted.
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].level, qordebug::level::err);
}

TEST_F(AssetLibraryTest, UnmountOfAnUnknownSourceIsReported)
{
    EnsureRecorder recorder;
    const qorfile::filepath source = Dir("u");
    library->Unmount(source);
    library->MountDirectory(source, P(""), 0);
    library->Unmount(source);
    library->Unmount(source);
    EXPECT_EQ(recorder.messages(),
              (std::vector<std::string>{Messages::UnmountNotMounted, Messages::UnmountNotMounted}));
}

TEST_F(AssetLibraryTest, MissingSourcesAreMountedWhenTheHandlerReturns)
{
    EnsureRecorder recorder;
    library->MountDirectory(qorfile::filepath(dir / "nowhere"), P("ghost"), 0);
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::MountDirectoryMissing});
    EXPECT_TRUE(library->Exists(P("ghost")));
    EXPECT_FALSE(library->Exists(P("ghost/x")));

    recorder.clear();
    library->MountArchive(qorfile::filepath(dir / "nowhere.zip"), P("zip"), 0, "");
    ASSERT_GE(recorder.messages().size(), 2u);
    EXPECT_EQ(recorder.messages()[0], Messages::MountArchiveMissing);
    EXPECT_TRUE(recorder.Saw("ParseArchive(const class qorfile::filepath &)"));
    EXPECT_TRUE(library->Exists(P("zip")));
}

TEST_F(AssetLibraryTest, ArchiveThatThrowsIsNotRecorded)
{
    const qorfile::filepath archive = File("bad.zip", "this is no archive at all, not even close");
    EXPECT_THROW(library->MountArchive(archive, P(""), 0, ""), qordebug::ensure_failure);
    EnsureRecorder recorder;
    library->Unmount(archive);
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::UnmountNotMounted});

    File("bad.zip", MakeArchive({{"fixed", "yes"}}));
    library->MountArchive(archive, P(""), 0, "");
    EXPECT_EQ(ReadAsset(library, "fixed"), "yes");
}

TEST_F(AssetLibraryTest, RemountReadsTheRebuiltArchiveWithItsMountParameters)
{
    const qorfile::filepath archive = File("game.pak", MakeArchive({{"a.txt", "old a"}, {"b.txt", "old b"}}, "kk"));
    library->MountArchive(archive, P("data"), 3, "kk");
    library->MountDirectory(Dir("low"), P(""), 1);
    const unsigned long long revision = library->MountRevision();
    File("game.pak", MakeArchive({{"c.txt", "new c"}, {"a.txt", "new a, longer"}}, "kk"));
    log.clear();
    library->Remount(archive);

    EXPECT_EQ(ReadAsset(library, "data/a.txt"), "new a, longer");
    EXPECT_EQ(ReadAsset(library, "data/c.txt"), "new c");
    EXPECT_FALSE(library->Exists(P("data/b.txt")));
    EXPECT_NE(revision, library->MountRevision());
    const std::vector<AssetLibrary::MountedVolume> mounts = library->Mounts();
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].target, P("data"));
    EXPECT_EQ(mounts[0].priority, 3u);
    EXPECT_TRUE(mounts[0].isArchive);
    const std::vector<std::string> expected = {"Mounting archive: game.pak", "   -> path: " + (dir / "game.pak"),
                                               "   -> target: data"};
    EXPECT_EQ(log.texts(), expected);

    // A directory remounts too (it reads nothing ahead).
    log.clear();
    library->Remount(qorfile::filepath(dir / "low"));
    EXPECT_EQ(log.texts().at(0), "Mounting directory: low");
}

TEST_F(AssetLibraryTest, RemountThatCannotReadKeepsTheMountedVolume)
{
    EnsureRecorder recorder;
    const qorfile::filepath archive = File("game.zip", MakeArchive({{"a.txt", "old a"}}));
    library->MountArchive(archive, P(""), 0, "");
    const std::string rebuilt = MakeArchive({{"b.txt", "new b"}});
    // Half written, not an archive at all, gone: each reported, the old entries still served.
    for (const std::string& bytes : {rebuilt.substr(0, rebuilt.size() / 2), std::string("no archive"), std::string()}) {
        if (bytes.empty())
            std::remove((dir / "game.zip").c_str());
        else
            File("game.zip", bytes);
        recorder.clear();
        log.clear();
        library->Remount(archive);
        EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::RemountUnreadable});
        for (const std::string& line : log.texts())
            EXPECT_EQ(line.find("Mounting"), std::string::npos) << line;
        EXPECT_TRUE(library->Exists(P("a.txt")));
        EXPECT_FALSE(library->Exists(P("b.txt")));
    }

    recorder.clear();
    library->Remount(qorfile::filepath(dir / "never-mounted.zip"));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::RemountNotMounted});
}

TEST_F(AssetLibraryTest, DirectoriesAndArchivesTogether)
{
    File("disk/shaders/a.vert", "disk a");
    File("disk/inner.pak", MakeArchive({{"deep/file", "inside"}}, "kk"));
    File("pack.zip", MakeArchive({{"shaders/a.vert", "zip a"}, {"shaders/b.vert", "zip b"}}));
    library->MountDirectory(qorfile::filepath(dir / "disk"), P(""), 1);
    library->MountArchive(qorfile::filepath(dir / "pack.zip"), P(""), 0, "");
    EXPECT_EQ(ReadAsset(library, "shaders/a.vert"), "disk a");
    EXPECT_EQ(ReadAsset(library, "shaders/b.vert"), "zip b");

    // An archive read from inside the library itself.
    auto inner = ArchiveVolume::Open(*library, P("inner.pak"), "kk");
    EXPECT_EQ(ReadAsset(inner, "deep/file"), "inside");

    auto stream = library->Open(P("shaders/b.vert"), Volume::Text);
    library.reset();
    inner.reset();
    EXPECT_EQ(ReadAll(*stream), "zip b");
}

TEST_F(AssetLibraryTest, ViewsJoinTheirBase)
{
    File("root/a/b/c", "abc");
    File("root/b/c", "bc");
    library->MountDirectory(qorfile::filepath(dir / "root"), P(""), 0);
    auto view = library->RelativeTo(P("a"));
    EXPECT_TRUE(view->Exists(P("b/c")));
    EXPECT_TRUE(view->Exists(P("/b/c")));
    EXPECT_EQ(ReadAsset(view, "b/c"), "abc");
    EXPECT_TRUE(view->Exists(P("")));

    auto whole = library->RelativeTo(P(""));
    EXPECT_EQ(ReadAsset(whole, "b/c"), "bc");
    EXPECT_EQ(ReadAsset(whole, "/b/c"), "bc");

    // A view of a mount point's parent sees the mount point.
    library->MountDirectory(Dir("m"), P("x/y"), 0);
    EXPECT_TRUE(library->RelativeTo(P("x"))->Exists(P("")));
    EXPECT_TRUE(library->RelativeTo(P("x"))->Exists(P("y")));
    EXPECT_FALSE(library->RelativeTo(P("q"))->Exists(P("")));
}

TEST_F(AssetLibraryTest, ViewKeepsTheLibraryAliveAndSeesLaterMounts)
{
    File("later/f", "later");
    auto view = library->RelativeTo(P("sub"));
    boost::weak_ptr<AssetLibrary> weak = library;
    library->MountDirectory(qorfile::filepath(dir / "later"), P("sub"), 0);
    library.reset();
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(ReadAsset(view, "f"), "later");
    view.reset();
    EXPECT_TRUE(weak.expired());
}

// A path with a ".." component never leaves a mounted directory, through the library, a
// view or a listing, while the archive mounted beside it answers as before.
TEST_F(AssetLibraryTest, ParentComponentsStayInsideMountedDirectories)
{
    File("secret.txt", "secret");
    File("data/inside.txt", "inside");
    File("data/sub/x.txt", "x");
    File("root/sub/x.txt", "x");
    File("pack.zip", MakeArchive({{"in.txt", "zip"}}));
    library->MountDirectory(qorfile::filepath(dir / "data"), P("data"), 0);
    library->MountDirectory(qorfile::filepath(dir / "root"), P(""), 1);
    library->MountArchive(qorfile::filepath(dir / "pack.zip"), P("zip"), 0, "");
    for (const char* path :
         {"data/../secret.txt", "data/sub/../../secret.txt", "data/sub/../inside.txt", "../secret.txt", "sub/../x.txt",
          "./../secret.txt", "sub//../../secret.txt", "data/..", "sub/.."}) {
        EXPECT_FALSE(library->Exists(P(path))) << path;
        EXPECT_FALSE(library->Open(P(path), Volume::Binary)) << path;
        EXPECT_TRUE(library->Children(P(path)).empty()) << path;
    }
    auto view = library->RelativeTo(P("data"));
    EXPECT_FALSE(view->Exists(P("../secret.txt")));
    EXPECT_FALSE(view->Open(P("../secret.txt"), Volume::Binary));
    EXPECT_FALSE(library->RelativeTo(P("data/sub"))->Open(P("../../secret.txt"), Volume::Text));
    EXPECT_EQ(ReadAsset(view, "inside.txt"), "inside");
    EXPECT_EQ(ReadAsset(library, "zip/in.txt"), "zip");
    EXPECT_EQ(library->Children(P("data")).size(), 2u);
}

// Every file a listing shows opens, an empty one as an empty stream, from a directory or an
// archive alike, in both modes.
TEST_F(AssetLibraryTest, EveryListedFileOpensEmptyOnesEmpty)
{
    File("disk/empty.txt", "");
    File("disk/full.txt", "disk");
    File("pack.pak", MakeArchive({{"zip/empty.bin", ""}, {"zip/none.txt", ""}, {"zip/full.txt", "a\r\n"}}, "k"));
    library->MountDirectory(qorfile::filepath(dir / "disk"), P(""), 1);
    library->MountArchive(qorfile::filepath(dir / "pack.pak"), P(""), 0, "k");
    std::vector<std::string> opened;
    for (const char* directory : {"", "zip"}) {
        for (const AssetLibrary::Child& child : library->Children(P(directory))) {
            if (child.isDirectory)
                continue;
            for (Volume::OpenMode mode : {Volume::Binary, Volume::Text}) {
                boost::shared_ptr<std::istream> stream = library->Open(child.path, mode);
                ASSERT_TRUE(stream && stream->good()) << child.path.str();
                opened.push_back(child.path.str() + "=" + ReadAll(*stream));
            }
        }
    }
    EXPECT_EQ(opened, (std::vector<std::string>{"empty.txt=", "empty.txt=", "full.txt=disk", "full.txt=disk",
                                                "zip/empty.bin=", "zip/empty.bin=", "zip/full.txt=a\r\n",
                                                "zip/full.txt=a\n", "zip/none.txt=", "zip/none.txt="}));
}

// A mounted archive replaced on disk is reported by name and read no more; mounted again, the
// new one answers.
TEST_F(AssetLibraryTest, ReplacedArchiveIsReportedUntilMountedAgain)
{
    const qorfile::filepath archive = File("game.zip", MakeArchive({{"a.txt", "alpha"}, {"b.txt", "bravo"}}));
    library->MountArchive(archive, P("game"), 0, "");
    File("next.zip", MakeArchive({{"c.txt", "charl"}, {"b.txt", "bravo"}}));
    std::filesystem::rename(std::filesystem::u8path(dir / "next.zip"), std::filesystem::u8path(archive.str()));
    EnsureRecorder recorder;
    EXPECT_FALSE(library->Open(P("game/a.txt"), Volume::Binary));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::ArchiveChanged(AssetPath(archive).str())});
    library->Unmount(archive);
    library->MountArchive(archive, P("game"), 0, "");
    EXPECT_EQ(ReadAsset(library, "game/c.txt"), "charl");
    EXPECT_FALSE(library->Exists(P("game/a.txt")));
}

} // namespace
