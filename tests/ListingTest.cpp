// The listing rules: archive entries and implied folders, the children of a directory in one
// volume, and the merged children of a library, which must agree with Exists and Open.
#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>
#include <Assets/FileSystemVolume.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <string>
#include <vector>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

std::vector<std::string> Names(const std::vector<ListedChild>& p_children)
{
    std::vector<std::string> names;
    for (const ListedChild& child : p_children)
        names.push_back(child.name + (child.isFile ? "" : "/") + (child.isFile && child.isDirectory ? "+/" : ""));
    return names;
}

std::vector<std::string> Names(const std::vector<AssetLibrary::Child>& p_children)
{
    std::vector<std::string> names;
    for (const AssetLibrary::Child& child : p_children)
        names.push_back(child.name + (child.isDirectory ? "/" : ""));
    return names;
}

std::uint32_t Crc(const std::string& p_bytes)
{
    return static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(p_bytes.data()), static_cast<uInt>(p_bytes.size())));
}

} // namespace

TEST(ArchiveListing, EntriesCarryTheCentralDirectoryInPathOrder)
{
    ScratchDir dir;
    const std::string path = dir.Write(
        "a.zip",
        MakeArchive({{"shaders/basic.vert", "void main() {}"}, {"shaders", "", true}, {"img/logo/a.png", "PNG"}}));
    ArchiveVolume volume(AssetPath(qorfile::filepath(path)), AssetPath(), 0, std::string());

    const std::vector<ArchiveVolume::ListedEntry> entries = volume.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].path.str(), "img/logo/a.png");
    EXPECT_EQ(entries[1].path.str(), "shaders");
    EXPECT_EQ(entries[2].path.str(), "shaders/basic.vert");

    EXPECT_EQ(entries[1].storedName, "shaders/");
    EXPECT_TRUE(entries[1].isDirectory);
    EXPECT_FALSE(entries[1].isFile);

    const ArchiveVolume::ListedEntry& vert = entries[2];
    EXPECT_TRUE(vert.isFile);
    EXPECT_FALSE(vert.isDirectory);
    EXPECT_EQ(vert.method, 0);
    EXPECT_FALSE(vert.encrypted);
    EXPECT_EQ(vert.uncompressedSize, 14u);
    EXPECT_EQ(vert.compressedSize, 14u);
    EXPECT_EQ(vert.crc32, Crc("void main() {}"));
    EXPECT_EQ(vert.localHeaderOffset, 0u); // written first

    const std::vector<AssetPath> folders = volume.Folders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0].str(), "img");
    EXPECT_EQ(folders[1].str(), "img/logo");
    EXPECT_EQ(folders[2].str(), "shaders");
}

TEST(ArchiveListing, ChildrenSkipWholeSubtreesAndMergeFileAndFolder)
{
    ScratchDir dir;
    // "a/b" < "a/b.txt" < "a/b/c": the file b and the folder b are not neighbours.
    const std::string path = dir.Write(
        "a.zip",
        MakeArchive(
            {{"a/b", "file b"}, {"a/b.txt", "t"}, {"a/b/c", "c"}, {"a/b/d/e", "e"}, {"a/z", "z"}, {"top.txt", "top"}}));
    ArchiveVolume volume(AssetPath(qorfile::filepath(path)), P("mnt"), 0, std::string());

    EXPECT_EQ(Names(volume.Children(P("mnt"))), (std::vector<std::string>{"a/", "top.txt"}));
    EXPECT_EQ(Names(volume.Children(P("mnt/a"))), (std::vector<std::string>{"b+/", "b.txt", "z"}));
    EXPECT_EQ(Names(volume.Children(P("mnt/a/b"))), (std::vector<std::string>{"c", "d/"}));
    EXPECT_TRUE(volume.Children(P("mnt/a/z")).empty());
    EXPECT_TRUE(volume.Children(P("mnt/nothing")).empty());
    // A name that is only a prefix of a key's component is no directory.
    EXPECT_TRUE(volume.Children(P("mnt/a/b.")).empty());
}

// Names of runs of slashes, empty and deep components: the folders are every prefix up to a
// slash, normalised (a run of slashes cut back to its start, a leading one to "/", the prefix
// before a leading slash empty), and Exists answers for exactly the keys and those folders.
TEST(ArchiveListing, SlashHeavyNamesImplyTheFoldersOfEveryPrefix)
{
    std::string deep;
    for (int i = 0; i < 400; ++i)
        deep += std::string(i % 3 == 0 ? "" : "d") + std::string(1 + i % 4, '/');
    const std::vector<ArchiveItem> items = {
        {"///a//b///c", "1"},
        {"//", "", true},
        {"/x", "2"},
        {"a//b//c//d", "3"},
        {"a/b", "4"},
        {"a/b.txt", "5"},
        {"a//b", "6"},
        {"x//", "", true},
        {"\\\\server\\share\\\\f", "7"},
        {std::string(1500, '/') + "z", "8"},
        {"q/" + std::string(700, '/') + "r/" + std::string(300, '/') + "s", "", true},
        {deep + "leaf", "9"},
        {deep.substr(0, deep.size() / 2) + "mid", "10"}};
    ScratchDir dir;
    const std::string path = dir.Write("slashes.zip", MakeArchive(items));
    // Under a mount point, so that a path that begins with a slash is asked as it is.
    ArchiveVolume volume(AssetPath(qorfile::filepath(path)), P("m"), 0, std::string());

    std::set<std::string> keys;
    std::set<std::string> folders;
    for (const ArchiveItem& item : items) {
        const std::string key = AssetPath(item.name).str();
        keys.insert(key);
        for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
            folders.insert(AssetPath(key.substr(0, slash)).str());
    }
    std::vector<std::string> listed;
    for (const AssetPath& folder : volume.Folders())
        listed.push_back(folder.str());
    EXPECT_EQ(listed, std::vector<std::string>(folders.begin(), folders.end()));
    EXPECT_TRUE(folders.count(""));
    EXPECT_TRUE(folders.count("/"));
    EXPECT_TRUE(folders.count("//server/share"));
    EXPECT_TRUE(folders.count("q/" + std::string(700, '/') + "r"));

    // Every prefix of every key ("/" aside: behind a mount point it is the mount point).
    for (const std::string& key : keys) {
        for (std::size_t length = 0; length <= key.size(); ++length) {
            const std::string prefix = AssetPath(key.substr(0, length)).str();
            if (prefix != "/") {
                EXPECT_EQ(volume.Exists(P("m/" + prefix)), keys.count(prefix) + folders.count(prefix) > 0) << prefix;
            }
        }
    }

    // A component behind a run of slashes is empty: a listing shows no nameless child.
    EXPECT_EQ(Names(volume.Children(P("m"))), (std::vector<std::string>{"a/", "q/", "x/"}));
    EXPECT_EQ(Names(volume.Children(P("m/a"))), (std::vector<std::string>{"b", "b.txt"}));
    EXPECT_TRUE(volume.Children(P("m/a//b")).empty());
}

TEST(DirectoryListing, ChildrenComeFromTheDiskInNameOrder)
{
    ScratchDir dir;
    dir.Write("root/b.txt", "b");
    dir.Write("root/a/inner.txt", "i");
    dir.Write("root/C.txt", "c");
    FileSystemVolume volume(AssetPath(dir / "root"), P("gfx"), 0);
    EXPECT_EQ(Names(volume.Children(P("gfx"))), (std::vector<std::string>{"C.txt", "a/", "b.txt"}));
    EXPECT_EQ(Names(volume.Children(P("gfx/a"))), (std::vector<std::string>{"inner.txt"}));
    EXPECT_TRUE(volume.Children(P("gfx/missing")).empty());
}

class LibraryListing : public ::testing::Test {
protected:
    void SetUp() override { _library = AssetLibrary::Create(); }

    std::string Archive(const std::string& p_name, const std::vector<ArchiveItem>& p_items)
    {
        return _dir.Write(p_name, MakeArchive(p_items));
    }

    // Walks the whole listing and checks it against Exists and Open.
    void ExpectAgreesWithLookups(const AssetPath& p_directory)
    {
        for (const AssetLibrary::Child& child : _library->Children(p_directory)) {
            SCOPED_TRACE(child.path.str());
            EXPECT_TRUE(_library->Exists(child.path));
            if (child.isDirectory) {
                ExpectAgreesWithLookups(child.path);
            } else {
                boost::shared_ptr<std::istream> stream = _library->Open(child.path, Volume::Binary);
                ASSERT_TRUE(stream);
                EXPECT_TRUE(stream->good());
            }
        }
    }

    testing_support::LogCapture _log;
    ScratchDir _dir;
    boost::shared_ptr<AssetLibrary> _library;
};

TEST_F(LibraryListing, ChildrenMergeVolumesAndNameTheWinner)
{
    _dir.Write("disk/x/y.txt", "from disk");
    _dir.Write("disk/x/only-disk.txt", "d");
    _dir.Write("disk/readme", "r");
    const std::string archive = Archive("pack.zip", {{"x/y.txt", "from archive"}, {"x/only-archive.txt", "a"}});
    _library->MountDirectory(qorfile::filepath(_dir / "disk"), AssetPath(), 1);
    _library->MountArchive(qorfile::filepath(archive), AssetPath(), 2, std::string());

    EXPECT_EQ(Names(_library->Children(AssetPath())), (std::vector<std::string>{"readme", "x/"}));
    const std::vector<AssetLibrary::Child> children = _library->Children(P("x"));
    EXPECT_EQ(Names(children), (std::vector<std::string>{"only-archive.txt", "only-disk.txt", "y.txt"}));
    EXPECT_EQ(children[0].source.str(), AssetPath(qorfile::filepath(archive)).str());
    EXPECT_EQ(children[1].source.str(), AssetPath(qorfile::filepath(_dir / "disk")).str());
    EXPECT_EQ(children[1].priority, 1u);
    // Shadowing: the higher priority wins, as Open does.
    EXPECT_EQ(children[2].source.str(), AssetPath(qorfile::filepath(archive)).str());
    EXPECT_EQ(children[2].priority, 2u);
    EXPECT_EQ(ReadAll(*_library->Open(children[2].path, Volume::Binary)), "from archive");
    EXPECT_EQ(children[2].path.str(), "x/y.txt");

    // After the archive goes, the directory's copy wins.
    _library->Unmount(qorfile::filepath(archive));
    const std::vector<AssetLibrary::Child> after = _library->Children(P("x"));
    EXPECT_EQ(Names(after), (std::vector<std::string>{"only-disk.txt", "y.txt"}));
    EXPECT_EQ(after[1].priority, 1u);
    ExpectAgreesWithLookups(AssetPath());
}

TEST_F(LibraryListing, WithinOnePrioritySourceOrderWins)
{
    const std::string second = Archive("b.zip", {{"f", "b"}});
    const std::string first = Archive("a.zip", {{"f", "a"}});
    _library->MountArchive(qorfile::filepath(second), AssetPath(), 0, std::string());
    _library->MountArchive(qorfile::filepath(first), AssetPath(), 0, std::string());
    const std::vector<AssetLibrary::Child> children = _library->Children(AssetPath());
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].source.str(), AssetPath(qorfile::filepath(first)).str());
    EXPECT_EQ(ReadAll(*_library->Open(P("f"), Volume::Binary)), "a");

    const std::vector<AssetLibrary::MountedVolume> mounts = _library->Mounts();
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].source.str(), AssetPath(qorfile::filepath(first)).str());
    EXPECT_TRUE(mounts[0].isArchive);
}

TEST_F(LibraryListing, MountPointIsADirectoryAtEveryLevelAboveIt)
{
    const std::string archive = Archive("deep.zip", {{"leaf.txt", "l"}});
    _library->MountArchive(qorfile::filepath(archive), P("a/b/c"), 0, std::string());
    const std::string source = AssetPath(qorfile::filepath(archive)).str();

    for (const char* level : {"", "a", "a/b"}) {
        SCOPED_TRACE(level);
        const std::vector<AssetLibrary::Child> children = _library->Children(P(level));
        ASSERT_EQ(children.size(), 1u);
        EXPECT_TRUE(children[0].isDirectory);
        EXPECT_EQ(children[0].source.str(), source);
    }
    EXPECT_EQ(Names(_library->Children(P("a/b/c"))), (std::vector<std::string>{"leaf.txt"}));
    EXPECT_TRUE(_library->Children(P("a/x")).empty());
    EXPECT_TRUE(_library->Children(P("ab")).empty());
    ExpectAgreesWithLookups(AssetPath());
}

TEST_F(LibraryListing, AFileUnderAnArchiveMountPointIsWhatOpenReads)
{
    // The archive mounted at m answers Exists(m) with false (its root is no entry), so Open(m)
    // falls through to the directory's file m: the listing must say file, from the directory.
    _dir.Write("disk/m", "file m");
    const std::string archive = Archive("m.zip", {{"in.txt", "i"}});
    _library->MountArchive(qorfile::filepath(archive), P("m"), 5, std::string());
    _library->MountDirectory(qorfile::filepath(_dir / "disk"), AssetPath(), 0);

    const std::vector<AssetLibrary::Child> children = _library->Children(AssetPath());
    ASSERT_EQ(children.size(), 1u);
    EXPECT_FALSE(children[0].isDirectory);
    EXPECT_EQ(children[0].source.str(), AssetPath(qorfile::filepath(_dir / "disk")).str());
    EXPECT_EQ(ReadAll(*_library->Open(P("m"), Volume::Binary)), "file m");
    // Its content is still listed below it.
    EXPECT_EQ(Names(_library->Children(P("m"))), (std::vector<std::string>{"in.txt"}));
}

TEST_F(LibraryListing, ADirectoryMountedOverAFileHidesIt)
{
    // A directory volume mounted at m exists there, so Open(m) asks it (and fails): m is a
    // directory in the listing although a lower volume holds a file m.
    _dir.Write("low/m", "file m");
    _dir.Write("high/inside.txt", "x");
    _library->MountDirectory(qorfile::filepath(_dir / "low"), AssetPath(), 0);
    _library->MountDirectory(qorfile::filepath(_dir / "high"), P("m"), 1);
    const std::vector<AssetLibrary::Child> children = _library->Children(AssetPath());
    ASSERT_EQ(children.size(), 1u);
    EXPECT_TRUE(children[0].isDirectory);
    EXPECT_EQ(children[0].priority, 1u);
}
