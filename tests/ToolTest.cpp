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

using namespace Qor::Draxel::Assets;
using testing_support::ReadFile;
using testing_support::ScratchDir;

TEST_F(Tool, PackThenListCheckCatRoundTrip)
{
    MakeTree("tree");
    // No progress bar when standard error is no terminal.
    Expect({{"pack out.zip tree", 0, "out.zip: 3 entries\n", ""},
            {"ls out.zip", 0, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n"},
            {"check out.zip", 0, "out.zip: 3 files checked, no problems\n"},
            {"cat -m out.zip sub/b.txt", 0, "one\r\ntwo\r\n"},
            {"cat --text -m out.zip sub/b.txt", 0, "one\ntwo\n"},
            {"cat -m out.zip sub/deeper/c.bin", 0, std::string("\0\1\2\3", 4)}});
    EXPECT_TRUE(!HaveCommand("unzip") || Shell("unzip -tqq out.zip") == 0);
}

TEST_F(Tool, LongListingShowsMethodSizesAndCrc)
{
    MakeTree("tree");
    // CRC-32 of "alpha\n".
    Expect({{"pack -d out.zip tree", 0},
            {"ls -l out.zip", 0, "*file stored   ----             6            6 *dir  -*sub/deeper/\n*"}});
}

TEST_F(Tool, ScrambledArchivesWithAndWithoutTrailerRoundTrip)
{
    MakeTree("tree");
    _dir.Write("key.bin", "secret");
    const std::string key32 = "0123456789abcdef0123456789ABCDEF";
    const std::string c = std::string("\0\1\2\3", 4);
    // Without its key the archive is read as carrying one in a trailer: one clear line.
    Expect({{"pack --key secret s.dat tree", 0},
            {"ls --key secret s.dat", 0, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n"},
            {"check --key secret s.dat", 0},
            {"cat -m s.dat --key secret a.txt", 0, "alpha\n"},
            {"check --key-file key.bin s.dat", 0},
            {"extract --key secret s.dat copy", 0},
            {"ls s.dat", 1, {}, "draxel-assets: s.dat: *", 1},
            {"pack --key " + key32 + " --trailer t.pak tree", 0},
            {"ls t.pak", 0, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n"},
            {"check t.pak", 0},
            {"cat -m t.pak sub/deeper/c.bin", 0, c}});
    EXPECT_EQ(ReadFile(_dir / "copy/sub/b.txt"), "one\r\ntwo\r\n");
    EXPECT_EQ(ReadFile(_dir / "copy/sub/deeper/c.bin"), c);
    const std::string trailer = ReadFile(_dir / "t.pak");
    EXPECT_EQ(trailer.substr(trailer.size() - 32), key32);
}

TEST_F(Tool, InfoZipArchivesListAndCheck)
{
    if (!HaveCommand("zip"))
        GTEST_SKIP() << "Info-ZIP zip is not installed";
    MakeTree("tree");
    ASSERT_EQ(Shell("zip -q -0 -r stored.zip tree"), 0);
    // zip stores directory entries.
    Expect({{"ls -l stored.zip", 0, "*dir *tree/sub/deeper/c.bin*"},
            {"check stored.zip", 0, "stored.zip: 3 files checked, no problems\n"}});
    // Deflated entries are listed but reported by check (zip stores what does not shrink).
    _dir.Write("tree/big.txt", std::string(4000, 'a'));
    ASSERT_EQ(Shell("zip -q -9 -r deflated.zip tree"), 0);
    Expect({{"ls -l deflated.zip", 0, "*deflate*"},
            {"check deflated.zip", 1, {}, "*deflated.zip: tree/big.txt: deflated entry*"}});
}

TEST_F(Tool, CheckReportsEachProblemInOneLine)
{
    std::string bytes = ReadFile(WriteArchive("bad.zip", {{"good.txt", "fine"}, {"bad.txt", "damaged soon"}}));
    // The second local header follows the first entry: 30 + 8 + 4 bytes; its data 30 + 7 later.
    const std::size_t data = 30 + 8 + 4 + 30 + 7;
    ASSERT_EQ(bytes.substr(data, 7), "damaged");
    bytes[data] = 'D';
    _dir.Write("bad.zip", bytes);
    WriteArchive("dup.zip", {{"x.txt", "one"}, {"x.txt", "two"}});
    bytes = ReadFile(WriteArchive("comment.zip", {{"a", "a"}}));
    bytes[bytes.size() - 2] = 1; // a one-byte comment, then the byte
    _dir.Write("comment.zip", bytes + 'c');
    // Method 12 (bzip2) in the second entry's headers, local and central: listed, and named once.
    bytes = ReadFile(WriteArchive("odd.zip", {{"plain.txt", "p"}, {"odd.bin", "o"}}));
    bytes[testing_support::CentralHeaderOffset(bytes, 1) + 10] = 12;
    bytes[testing_support::LocalHeaderOffset(bytes, 1) + 8] = 12;
    _dir.Write("odd.zip", bytes);
    Expect({{"check bad.zip", 1, "bad.zip: 2 files checked, 1 problem(s)\n",
             "*draxel-assets: bad.zip: bad.txt: CRC-32 mismatch*", 1},
            {"check dup.zip", 1, {}, "*dup.zip: x.txt: duplicate name*"},
            {"check comment.zip", 1, {}, "*comment.zip: archive comment*"},
            {"ls -l odd.zip", 0, "*method12*"},
            {"check odd.zip", 1, {}, "draxel-assets: odd.zip: odd.bin: unknown compression method 12\n"}});
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
        EXPECT_TRUE(Matches(extract.err, std::string("*hostile.zip: ") + name + ": refused*")) << name;
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
    const std::string mounts = " -m pack.zip:game:1 -m over:game/:2 -m tree ";
    Expect({{"cat" + mounts + "game/a.txt", 0, "shadowing alpha\n"},
            {"cat" + mounts + "game/sub/b.txt", 0, "one\r\ntwo\r\n"},
            {"exists" + mounts + "game/sub/b.txt", 0, "*game/sub/b.txt: file from pack.zip (priority 1)*"},
            {"exists" + mounts + "game/nothing", 1, "game/nothing: no such asset\n"},
            {"tree" + mounts + "game", 0, "*a.txt                                 <- over (priority 2)*  deeper/*"},
            {"cat" + mounts + "game/none.txt", 1, {}, "draxel-assets: game/none.txt: no such asset\n"},
            {"cat" + mounts + "game/sub", 1, {}, "draxel-assets: game/sub: is a directory\n"}});
}

// cat, exists and tree inherit the directory volume's rule: no path with a ".." component
// leaves a mounted directory, at the root or below a mount point.
TEST_F(Tool, ParentComponentsNeverLeaveAMountedDirectory)
{
    MakeTree("assets/Shaders");
    _dir.Write("secret.txt", "secret\n");
    std::vector<Expected> cases;
    for (const std::string path :
         {"../../secret.txt", "sub/../../../secret.txt", "sub/../a.txt", "./../../secret.txt",
          "sub//../../../secret.txt", "../../../../../../../../etc/passwd", "game/../../secret.txt"}) {
        const std::string mount = path.rfind("game/", 0) == 0 ? "-m assets/Shaders:game '" : "-m assets/Shaders '";
        cases.push_back({"cat " + mount + path + "'", 1, "", "draxel-assets: " + path + ": no such asset\n"});
        cases.push_back({"exists " + mount + path + "'", 1, path + ": no such asset\n"});
    }
    for (const std::string directory : {"..", "../..", "sub/../..", "../../../../../../etc"})
        cases.push_back(
            {"tree -m assets/Shaders '" + directory + "'", 1, "", "draxel-assets: " + directory + ": no such asset\n"});
    cases.push_back({"cat -m assets/Shaders sub/b.txt", 0, "one\r\ntwo\r\n"});
    Expect(cases);
}

TEST_F(Tool, BadUsageIsStatusTwoAndOneLine)
{
    MakeTree("tree");
    std::vector<Expected> cases;
    for (const char* arguments : {"", "bogus", "ls", "ls a b", "pack out.zip", "ls --nope x.zip", "pack plain.dat tree",
                                  "pack --key k scrambled.zip tree", "cat --key k -m tree a.txt",
                                  "cat -m tree:x:notanumber a.txt", "pack --builtin --key k x.dat tree"})
        cases.push_back({arguments, 2, {}, "draxel-assets: *", 1});
    cases.push_back({"pack --trailer --key short s.dat tree", 2, {}, "draxel-assets: *exactly 32 bytes*", 1});
    cases.push_back({"ls --help", 0});
    cases.push_back({"pack --help", 0, "*--trailer*"});
    Expect(cases);
}

TEST_F(Tool, ErrorsNameTheFileInOneLine)
{
    _dir.Write("junk.zip", "this is not a zip archive at all, not even close to one");
    Expect({{"ls missing.zip", 1, {}, "draxel-assets: missing.zip: no such file\n"},
            {"cat -m junk.zip a", 1, {}, "draxel-assets: junk.zip: *", 1},
            {"tree -m nowhere", 1, {}, "draxel-assets: nowhere: no such file or directory\n"},
            {"extract junk.zip -", 1, {}, "draxel-assets: -: extract writes into a directory, *\n"}});
    EXPECT_FALSE(std::filesystem::exists(_dir / "-"));
}

TEST_F(Tool, FailedPackLeavesNoHalfArchive)
{
    _dir.Write("one/same.txt", "1");
    _dir.Write("two/same.txt", "2");
    _dir.Write("out.zip", "previous");
    Expect({{"pack out.zip one two", 1, {}, "*duplicate entry name same.txt*"}});
    EXPECT_EQ(ReadFile(_dir / "out.zip"), "previous");
    EXPECT_FALSE(TemporaryLeft());
}

TEST_F(Tool, BuiltInPackIsWhatAResourceMounts)
{
    _dir.Write("content/Shaders/basic.vert", "void main() {}\n");
    _dir.MakeDir("assets");
    Expect({{"pack --builtin assets content", 0}});
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
    Expect({{"demo", 0,
             "*1. Building the Resource*root directory  : *Mounting archive: draxel.pack*2. The mount table*"
             "3. The merged tree*basic.vert*4. A shader through the shader view*gl_Position*5. Fonts*"
             "Loading default font: dejavusans*6. An image decoded through the cache*64 x 64 pixels*"
             "7. Hot reload*source changed    Shaders/Tests/colour.frag*",
             ""},
            {"demo nowhere", 1, {}, {}, 1}});
}

// pack --order stores the named entries first, in the file's order, and the rest by name; a
// name that is not packed, or named twice, ends the command at its line and writes nothing.
TEST_F(Tool, PackLaysEntriesOutInTheGivenOrder)
{
    MakeTree("tree");
    _dir.Write("order.txt", "sub/deeper/c.bin\r\n\na.txt\n");
    _dir.Write("bad.txt", "a.txt\nmissing.txt\n");
    _dir.Write("twice.txt", "a.txt\na.txt\n");
    Expect({{"pack --order order.txt out.zip tree", 0},
            {"pack --order bad.txt bad.zip tree", 1, {}, "*bad.txt:2: no entry named missing.txt is packed*"},
            {"pack --order twice.txt twice.zip tree", 1, {}, "*twice.txt:2: a.txt is named twice*"}});
    EXPECT_FALSE(std::filesystem::exists(_dir / "bad.zip"));
    EXPECT_FALSE(std::filesystem::exists(_dir / "twice.zip"));
    std::vector<std::pair<std::uint64_t, std::string>> stored;
    for (const auto& entry : ArchiveVolume(AssetPath(_dir / "out.zip"), AssetPath(), 0, "").Entries())
        stored.emplace_back(entry.localHeaderOffset, entry.path.str());
    std::sort(stored.begin(), stored.end());
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].second, "sub/deeper/c.bin");
    EXPECT_EQ(stored[1].second, "a.txt");
    EXPECT_EQ(stored[2].second, "sub/b.txt");
}
