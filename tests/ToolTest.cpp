// draxel-assets, run as a user runs it: every subcommand on archives and trees made here,
// exit statuses, and one-line errors.
#include "ArchiveBuilders.h"
#include "BuiltInArchive.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <Assets/ArchiveVolume.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace Qor::Draxel::Assets;
using testing_support::ReadFile;
using testing_support::ScratchDir;

TEST_F(Tool, PackThenListCheckCatRoundTrip)
{
    MakeTree("tree");
    Result pack = Run("pack out.zip tree");
    ASSERT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(pack.out, "out.zip: 3 entries\n");
    EXPECT_EQ(pack.err, ""); // no progress bar when standard error is no terminal

    Result ls = Run("ls out.zip");
    EXPECT_EQ(ls.status, 0);
    EXPECT_EQ(ls.out, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n");

    Result check = Run("check out.zip");
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, "out.zip: 3 files checked, no problems\n");

    EXPECT_EQ(Run("cat -m out.zip sub/b.txt").out, "one\r\ntwo\r\n");
    EXPECT_EQ(Run("cat --text -m out.zip sub/b.txt").out, "one\ntwo\n");
    EXPECT_EQ(Run("cat -m out.zip sub/deeper/c.bin").out, std::string("\0\1\2\3", 4));

    if (HaveCommand("unzip")) {
        EXPECT_EQ(testing_support::RunShell("unzip -tqq " + (_dir / "out.zip")), 0);
    }
}

TEST_F(Tool, LongListingShowsMethodSizesAndCrc)
{
    MakeTree("tree");
    ASSERT_EQ(Run("pack -d out.zip tree").status, 0);
    Result ls = Run("ls -l out.zip");
    ASSERT_EQ(ls.status, 0);
    EXPECT_NE(ls.out.find("dir  -"), std::string::npos) << ls.out;
    // CRC-32 of "alpha\n".
    EXPECT_NE(ls.out.find("file stored   ----             6            6 "), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("sub/deeper/\n"), std::string::npos);
}

TEST_F(Tool, ScrambledArchivesWithAndWithoutTrailerRoundTrip)
{
    MakeTree("tree");
    ASSERT_EQ(Run("pack --key secret s.dat tree").status, 0);
    EXPECT_EQ(Run("ls --key secret s.dat").out, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n");
    EXPECT_EQ(Run("check --key secret s.dat").status, 0);
    EXPECT_EQ(Run("cat -m s.dat --key secret a.txt").out, "alpha\n");
    _dir.Write("key.bin", "secret");
    EXPECT_EQ(Run("check --key-file key.bin s.dat").status, 0);
    ASSERT_EQ(Run("extract --key secret s.dat copy").status, 0);
    EXPECT_EQ(ReadFile(_dir / "copy/sub/b.txt"), "one\r\ntwo\r\n");
    EXPECT_EQ(ReadFile(_dir / "copy/sub/deeper/c.bin"), std::string("\0\1\2\3", 4));

    // Without its key the archive is read as carrying one in a trailer: one clear line.
    Result wrong = Run("ls s.dat");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(Lines(wrong.err), 1u) << wrong.err;
    EXPECT_EQ(wrong.err.rfind("draxel-assets: s.dat: ", 0), 0u) << wrong.err;

    const std::string key32 = "0123456789abcdef0123456789ABCDEF";
    ASSERT_EQ(Run("pack --key " + key32 + " --trailer t.pak tree").status, 0);
    EXPECT_EQ(ReadFile(_dir / "t.pak").substr(ReadFile(_dir / "t.pak").size() - 32), key32);
    EXPECT_EQ(Run("ls t.pak").out, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n");
    EXPECT_EQ(Run("check t.pak").status, 0);
    EXPECT_EQ(Run("cat -m t.pak sub/deeper/c.bin").out, std::string("\0\1\2\3", 4));
}

TEST_F(Tool, InfoZipArchivesListAndCheck)
{
    if (!HaveCommand("zip"))
        GTEST_SKIP() << "Info-ZIP zip is not installed";
    MakeTree("tree");
    ASSERT_EQ(testing_support::RunShell("cd " + _dir.path() + " && zip -q -0 -r stored.zip tree"), 0);
    Result ls = Run("ls -l stored.zip");
    EXPECT_EQ(ls.status, 0) << ls.err;
    EXPECT_NE(ls.out.find("tree/sub/deeper/c.bin"), std::string::npos);
    EXPECT_NE(ls.out.find("dir "), std::string::npos); // zip stores directory entries
    Result check = Run("check stored.zip");
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, "stored.zip: 3 files checked, no problems\n");

    // Deflated entries are listed but reported by check (zip stores what does not shrink).
    _dir.Write("tree/big.txt", std::string(4000, 'a'));
    ASSERT_EQ(testing_support::RunShell("cd " + _dir.path() + " && zip -q -9 -r deflated.zip tree"), 0);
    EXPECT_NE(Run("ls -l deflated.zip").out.find("deflate"), std::string::npos);
    Result deflated = Run("check deflated.zip");
    EXPECT_EQ(deflated.status, 1);
    EXPECT_NE(deflated.err.find("deflated.zip: tree/big.txt: deflated entry"), std::string::npos) << deflated.err;
}

TEST_F(Tool, CheckReportsEachProblemInOneLine)
{
    std::string bytes = ReadFile(WriteArchive("bad.zip", {{"good.txt", "fine"}, {"bad.txt", "damaged soon"}}));
    // The second local header follows the first entry: 30 + 8 + 4 bytes; its data 30 + 7 later.
    const std::size_t data = 30 + 8 + 4 + 30 + 7;
    ASSERT_EQ(bytes.substr(data, 7), "damaged");
    bytes[data] = 'D';
    _dir.Write("bad.zip", bytes);
    Result check = Run("check bad.zip");
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(Lines(check.err), 1u) << check.err;
    EXPECT_NE(check.err.find("draxel-assets: bad.zip: bad.txt: CRC-32 mismatch"), std::string::npos) << check.err;
    EXPECT_EQ(check.out, "bad.zip: 2 files checked, 1 problem(s)\n");

    WriteArchive("dup.zip", {{"x.txt", "one"}, {"x.txt", "two"}});
    Result duplicate = Run("check dup.zip");
    EXPECT_EQ(duplicate.status, 1);
    EXPECT_NE(duplicate.err.find("dup.zip: x.txt: duplicate name"), std::string::npos) << duplicate.err;

    bytes = ReadFile(WriteArchive("comment.zip", {{"a", "a"}}));
    bytes[bytes.size() - 2] = 1; // a one-byte comment, then the byte
    bytes += 'c';
    _dir.Write("comment.zip", bytes);
    Result comment = Run("check comment.zip");
    EXPECT_EQ(comment.status, 1);
    EXPECT_NE(comment.err.find("comment.zip: archive comment"), std::string::npos) << comment.err;

    // Method 12 (bzip2) in the second entry's headers, local and central: listed, and named once.
    bytes = ReadFile(WriteArchive("odd.zip", {{"plain.txt", "p"}, {"odd.bin", "o"}}));
    const std::size_t central = bytes.rfind(std::string("PK\1\2", 4));
    ASSERT_NE(central, std::string::npos);
    bytes[central + 10] = 12;
    bytes[testing_support::LocalHeaderOffset(bytes, 1) + 8] = 12;
    _dir.Write("odd.zip", bytes);
    EXPECT_NE(Run("ls -l odd.zip").out.find("method12"), std::string::npos);
    Result odd = Run("check odd.zip");
    EXPECT_EQ(odd.status, 1);
    EXPECT_EQ(odd.err, "draxel-assets: odd.zip: odd.bin: unknown compression method 12\n");
}

TEST_F(Tool, ExtractWritesEntriesAndRefusesHostileNames)
{
    WriteArchive("hostile.zip", {{"ok/inside.txt", "safe"},
                                 {"../evil.txt", "x"},
                                 {"/abs.txt", "x"},
                                 {"C:/drive.txt", "x"},
                                 {"a/../../up.txt", "x"},
                                 {"..\\back.txt", "x"}});
    Result extract = Run("extract hostile.zip out");
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(ReadFile(_dir / "out/ok/inside.txt"), "safe");
    EXPECT_EQ(Lines(extract.err), 5u) << extract.err;
    for (const char* name : {"../evil.txt", "/abs.txt", "C:/drive.txt", "a/../../up.txt", "..\\back.txt"})
        EXPECT_NE(extract.err.find(std::string("hostile.zip: ") + name + ": refused"), std::string::npos) << name;
    EXPECT_FALSE(std::filesystem::exists(_dir / "evil.txt"));
    EXPECT_FALSE(std::filesystem::exists(_dir / "up.txt"));
    EXPECT_FALSE(std::filesystem::exists(_dir / "out/drive.txt"));
    EXPECT_EQ(extract.out, "hostile.zip: 1 file extracted into out\n");
}

TEST_F(Tool, MountedTreeCatExistsAndTree)
{
    MakeTree("tree");
    _dir.Write("over/a.txt", "shadowing alpha\n");
    ASSERT_EQ(Run("pack pack.zip tree").status, 0);

    const std::string mounts = "-m pack.zip:game:1 -m over:game/:2 -m tree";
    EXPECT_EQ(Run("cat " + mounts + " game/a.txt").out, "shadowing alpha\n");
    EXPECT_EQ(Run("cat " + mounts + " game/sub/b.txt").out, "one\r\ntwo\r\n");

    Result exists = Run("exists " + mounts + " game/sub/b.txt");
    EXPECT_EQ(exists.status, 0);
    EXPECT_NE(exists.out.find("game/sub/b.txt: file from pack.zip (priority 1)"), std::string::npos) << exists.out;
    Result missing = Run("exists " + mounts + " game/nothing");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "game/nothing: no such asset\n");

    Result tree = Run("tree " + mounts + " game");
    EXPECT_EQ(tree.status, 0);
    EXPECT_NE(tree.out.find("a.txt                                 <- over (priority 2)"), std::string::npos)
        << tree.out;
    EXPECT_NE(tree.out.find("  deeper/"), std::string::npos) << tree.out;

    Result cat = Run("cat " + mounts + " game/none.txt");
    EXPECT_EQ(cat.status, 1);
    EXPECT_EQ(cat.err, "draxel-assets: game/none.txt: no such asset\n");
    Result directory = Run("cat " + mounts + " game/sub");
    EXPECT_EQ(directory.status, 1);
    EXPECT_EQ(directory.err, "draxel-assets: game/sub: is a directory\n");
}

// cat, exists and tree inherit the directory volume's rule: no path with a ".." component
// leaves a mounted directory, at the root or below a mount point.
TEST_F(Tool, ParentComponentsNeverLeaveAMountedDirectory)
{
    MakeTree("assets/Shaders");
    _dir.Write("secret.txt", "secret\n");
    for (const std::string path :
         {"../../secret.txt", "sub/../../../secret.txt", "sub/../a.txt", "./../../secret.txt",
          "sub//../../../secret.txt", "../../../../../../../../etc/passwd", "game/../../secret.txt"}) {
        const std::string mount = path.rfind("game/", 0) == 0 ? "-m assets/Shaders:game" : "-m assets/Shaders";
        const Result cat = Run("cat " + mount + " '" + path + "'");
        EXPECT_EQ(cat.status, 1) << path;
        EXPECT_EQ(cat.out, "") << path;
        EXPECT_EQ(cat.err, "draxel-assets: " + path + ": no such asset\n");
        const Result exists = Run("exists " + mount + " '" + path + "'");
        EXPECT_EQ(exists.status, 1) << path;
        EXPECT_EQ(exists.out, path + ": no such asset\n");
    }
    for (const char* directory : {"..", "../..", "sub/../..", "../../../../../../etc"}) {
        const Result tree = Run(std::string("tree -m assets/Shaders '") + directory + "'");
        EXPECT_EQ(tree.status, 1) << directory;
        EXPECT_EQ(tree.out, "") << directory;
        EXPECT_EQ(tree.err, std::string("draxel-assets: ") + directory + ": no such asset\n");
    }
    EXPECT_EQ(Run("cat -m assets/Shaders sub/b.txt").out, "one\r\ntwo\r\n");
}

TEST_F(Tool, BadUsageIsStatusTwoAndOneLine)
{
    MakeTree("tree");
    for (const char* arguments :
         {"", "bogus", "ls", "ls a b", "pack out.zip", "ls --nope x.zip", "pack --trailer --key short s.dat tree",
          "pack plain.dat tree", "pack --key k scrambled.zip tree", "cat --key k -m tree a.txt",
          "cat -m tree:x:notanumber a.txt", "pack --builtin --key k x.dat tree"}) {
        SCOPED_TRACE(arguments);
        Result result = Run(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(Lines(result.err), 1u) << result.err;
        EXPECT_EQ(result.err.rfind("draxel-assets: ", 0), 0u) << result.err;
    }
    EXPECT_NE(Run("pack --trailer --key short s.dat tree").err.find("exactly 32 bytes"), std::string::npos);
    EXPECT_EQ(Run("ls --help").status, 0);
    EXPECT_NE(Run("pack --help").out.find("--trailer"), std::string::npos);
}

TEST_F(Tool, ErrorsNameTheFileInOneLine)
{
    Result missing = Run("ls missing.zip");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "draxel-assets: missing.zip: no such file\n");

    _dir.Write("junk.zip", "this is not a zip archive at all, not even close to one");
    Result junk = Run("cat -m junk.zip a");
    EXPECT_EQ(junk.status, 1);
    EXPECT_EQ(Lines(junk.err), 1u) << junk.err;
    EXPECT_EQ(junk.err.rfind("draxel-assets: junk.zip: ", 0), 0u) << junk.err;

    Result source = Run("tree -m nowhere");
    EXPECT_EQ(source.status, 1);
    EXPECT_EQ(source.err, "draxel-assets: nowhere: no such file or directory\n");
}

TEST_F(Tool, FailedPackLeavesNoHalfArchive)
{
    _dir.Write("one/same.txt", "1");
    _dir.Write("two/same.txt", "2");
    _dir.Write("out.zip", "previous");
    Result pack = Run("pack out.zip one two");
    EXPECT_EQ(pack.status, 1);
    EXPECT_NE(pack.err.find("duplicate entry name same.txt"), std::string::npos) << pack.err;
    EXPECT_EQ(ReadFile(_dir / "out.zip"), "previous");

    // No temporary file is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(_dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(Tool, BuiltInPackIsWhatAResourceMounts)
{
    _dir.Write("content/Shaders/basic.vert", "void main() {}\n");
    _dir.MakeDir("assets");
    Result pack = Run("pack --builtin assets content");
    ASSERT_EQ(pack.status, 0) << pack.err;
    std::string name;
    for (const auto& entry : std::filesystem::directory_iterator(_dir / "assets"))
        name = entry.path().filename().string();
    EXPECT_EQ(name, BuiltInArchives().front().name);
    // Read back the way the Resource mounts it: with the built-in key, and no trailer.
    ArchiveVolume volume(AssetPath(_dir / ("assets/" + name)), AssetPath(), 0, BuiltInArchives().front().key);
    boost::shared_ptr<std::istream> stream = volume.Open(AssetPath(std::string("Shaders/basic.vert")), Volume::Binary);
    ASSERT_TRUE(stream);
    EXPECT_EQ(testing_support::ReadAll(*stream), "void main() {}\n");
}

TEST_F(Tool, DemoTellsTheStory)
{
    Result demo = Run("demo");
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_EQ(demo.err, "");
    for (const char* expected :
         {"1. Building the Resource", "root directory  : ", "Mounting archive: draxel.pack", "2. The mount table",
          "3. The merged tree", "basic.vert", "4. A shader through the shader view", "gl_Position", "5. Fonts",
          "Loading default font: dejavusans", "6. An image decoded through the cache", "64 x 64 pixels",
          "7. Hot reload", "source changed    Shaders/Tests/colour.frag"})
        EXPECT_NE(demo.out.find(expected), std::string::npos) << expected;

    Result missing = Run("demo nowhere");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(Lines(missing.err), 1u);
}

// pack --order stores the named entries first, in the file's order, and the rest by name; a
// name that is not packed, or named twice, ends the command at its line and writes nothing.
TEST_F(Tool, PackLaysEntriesOutInTheGivenOrder)
{
    MakeTree("tree");
    _dir.Write("order.txt", "sub/deeper/c.bin\r\n\na.txt\n");
    Result pack = Run("pack --order order.txt out.zip tree");
    ASSERT_EQ(pack.status, 0) << pack.err;
    const auto entries = boost::dynamic_pointer_cast<Qor::Draxel::Assets::ArchiveVolume>(
                             Qor::Draxel::Assets::ArchiveVolume::Open(qorfile::filepath(_dir / "out.zip"), ""))
                             ->Entries();
    std::vector<std::pair<std::uint64_t, std::string>> stored;
    for (const auto& entry : entries)
        stored.emplace_back(entry.localHeaderOffset, entry.path.str());
    std::sort(stored.begin(), stored.end());
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].second, "sub/deeper/c.bin");
    EXPECT_EQ(stored[1].second, "a.txt");
    EXPECT_EQ(stored[2].second, "sub/b.txt");

    _dir.Write("bad.txt", "a.txt\nmissing.txt\n");
    Result missing = Run("pack --order bad.txt bad.zip tree");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("bad.txt:2: no entry named missing.txt is packed"), std::string::npos) << missing.err;
    _dir.Write("twice.txt", "a.txt\na.txt\n");
    Result twice = Run("pack --order twice.txt twice.zip tree");
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.err.find("twice.txt:2: a.txt is named twice"), std::string::npos) << twice.err;
    EXPECT_FALSE(std::ifstream(_dir / "bad.zip").good());
    EXPECT_FALSE(std::ifstream(_dir / "twice.zip").good());
}
