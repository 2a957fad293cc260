// draxel-assets tells the truth where it used to say "done" or the wrong thing: damaged data
// (CRC-32), entries that cannot be opened, archives named against the rule (--plain per -m),
// mount sources with colons, names with any bytes, unreadable files and folders, links while
// packing and extracting, archives of other tools (ZIP64, data descriptors), archives that claim
// more than they hold, wrong keys, lost writes, signals, long error lists, archives on standard
// input, closed outputs, special files in a packed tree and big entries in bounded memory.
#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <zip.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::CentralHeaderOffset;
using testing_support::MakeArchive;
using testing_support::Put16;
using testing_support::Put32;
using testing_support::ReadFile;

namespace {

class ToolHonesty : public Tool {
protected:
    // Whether p_json parses as JSON (Python's parser: strict about UTF-8 and escapes).
    bool ValidJson(const std::string& p_json)
    {
        _dir.Write(".document.json", p_json);
        return Shell(
                   "python3 -c 'import json, sys; json.load(open(sys.argv[1], encoding=\"utf-8\"))' .document.json") ==
               0;
    }

    // Runs a Python snippet in the scratch directory.
    int Python(const std::string& p_code) { return Shell("python3 " + _dir.Write(".script.py", p_code)); }

    // The tree's folders opened to the unprivileged user of AsUnprivileged.
    void OpenTree(std::initializer_list<const char*> p_folders)
    {
        for (const char* path : p_folders)
            ::chmod((_dir / path).c_str(), 0777);
    }

    // The temporary files of the tool go below the scratch directory: whatever is left shows.
    std::string Temporaries() { return "TMPDIR=" + (_dir / "tmp"); }
    std::size_t LeftInTemporaries()
    {
        std::size_t left = 0;
        for (const auto& entry : fs::recursive_directory_iterator(_dir / "tmp"))
            left += entry.is_regular_file() || entry.is_directory() ? 1 : 0;
        return left;
    }

    // A small archive whose first local header claims 4 GiB - 1 bytes.
    static std::string Claim()
    {
        std::string bytes = MakeArchive({{"huge.bin", std::string(1000, 'h')}, {"next.txt", "n"}});
        Put32(bytes, 22, 0xffffffffu);
        return bytes;
    }
};

} // namespace

TEST_F(ToolHonesty, ExtractAndCatCheckTheCrcOfWhatTheyWrite)
{
    std::string bytes = MakeArchive({{"a.txt", "alpha\n"}, {"sub/b.txt", "beta"}});
    bytes[bytes.find("alpha")] ^= 1;
    _dir.Write("bad.zip", bytes);
    const std::string crc = "*draxel-assets: a.txt: CRC-32 mismatch: directory *";
    Expect({{"extract bad.zip out", 1, {}, "*draxel-assets: bad.zip: a.txt: CRC-32 mismatch: directory *", 1},
            {"cat -m bad.zip a.txt", 1, {}, crc},
            {"cat --text -m bad.zip a.txt", 1, {}, crc},
            {"cat -m bad.zip sub/b.txt", 0}});
    EXPECT_EQ(ReadFile(_dir / "out/sub/b.txt"), "beta"); // the good entry is written all the same
}

TEST_F(ToolHonesty, PlainBelongsToEachMountLikeAKey)
{
    _dir.Write("game.jar", MakeArchive({{"a.txt", "alpha"}}));
    MakeTree("tree");
    Expect({{"cat -m game.jar --plain a.txt", 0, "alpha"},
            {"exists -m game.jar --plain a.txt", 0, "*a.txt: file from game.jar*"},
            {"tree -m tree:t -m game.jar:j --plain", 0, "*a.txt*"},
            // Without it the name rule holds, and the error says what to do.
            {"cat -m game.jar a.txt", 1, {}, "*--plain*"},
            {"cat --plain -m game.jar a.txt", 2, {}, "*must follow the -m*"},
            {"cat -m game.jar --plain --key k a.txt", 2, {}, "*takes no key*"},
            {"cat -m tree --plain a.txt", 2, {}, "*--plain applies to archives*"},
            {"cat -m game.jar --plain --plain a.txt", 2, {}, "*given twice*"}});
    // watch takes it too: it starts watching instead of refusing the option.
    Expect({{"watch -m game.jar --plain", 124, {}, "*watching 1 file*"}}, "timeout 2");
}

TEST_F(ToolHonesty, ExistsAndTreeSayWhichEntriesCannotBeOpened)
{
    std::string bytes = MakeArchive({{"fine.txt", "f"}, {"packed.txt", "p"}});
    Put16(bytes, CentralHeaderOffset(bytes, 1) + 10, 8); // deflated
    _dir.Write("m.zip", bytes);
    Expect({{"exists -m m.zip fine.txt", 0, "fine.txt: file from m.zip (priority 0)\n"},
            {"exists --json -m m.zip fine.txt", 0, "*\"openable\": true*"},
            {"exists -m m.zip packed.txt", 0,
             "packed.txt: file from m.zip (priority 0), cannot be opened: deflated entry (compressed)\n"},
            {"exists --json -m m.zip packed.txt", 0, "*\"openable\": false*"},
            {"exists --json -m m.zip packed.txt", 0, "*\"reason\": \"deflated entry (compressed)\"*"},
            {"cat -m m.zip packed.txt",
             1,
             {},
             "draxel-assets: packed.txt: cannot be opened: deflated entry (compressed)\n"},
            {"tree --json -m m.zip", 0, "*\"openable\": false*"}});
    const std::string tree = Run("tree -m m.zip").out;
    EXPECT_TRUE(Matches(tree, "*(priority 0), cannot be opened: deflated entry (compressed)\n*")) << tree;
    EXPECT_EQ(Lines(tree), 2u);
}

TEST_F(ToolHonesty, AnyPathMountsWithTargetAndPriority)
{
    _dir.Write("my:dir/a.txt", "colon");
    _dir.Write("plain/a.txt", "plain");
    // The short form splits at the colon; --target and --priority take the source whole.
    Expect({{"cat -m my:dir a.txt", 1},
            {"cat -m my:dir --target assets assets/a.txt", 0, "colon"},
            {"cat -m my:dir --priority 5 -m plain:/:3 a.txt", 0, "colon"},
            {"exists -m my:dir --target /x --priority 7 x/a.txt", 0, "x/a.txt: file from my:dir (priority 7)\n"},
            {"cat -m plain --priority -1 a.txt", 2},
            {"cat -m plain --priority x a.txt", 2},
            {"cat -m plain --target a --target b a/a.txt", 2},
            {"cat --target a -m plain a/a.txt", 2}});
}

TEST_F(ToolHonesty, NamesWithAnyBytesGiveValidJsonAndOneLineEach)
{
    if (!HaveCommand("python3"))
        GTEST_SKIP() << "python3 is not installed";
    std::string bytes = MakeArchive({{"cafX.txt", "c"}, {"new\nline.txt", "n"}, {"dir/", "", true}});
    bytes.replace(bytes.find("cafX"), 4, "caf\x82");
    bytes.replace(bytes.find("cafX"), 4, "caf\x82");
    _dir.Write("odd.zip", bytes);
    EXPECT_TRUE(ValidJson(Run("check --json odd.zip").out));
    for (const char* arguments :
         {"ls --json odd.zip", "tree --json -m odd.zip", "exists --json -m odd.zip caf\x82.txt"}) {
        SCOPED_TRACE(arguments);
        Result result = Run(arguments);
        EXPECT_TRUE(ValidJson(result.out)) << result.out << result.err;
        EXPECT_TRUE(Matches(result.out, "*caf\\\\x82.txt*")) << result.out;
        EXPECT_TRUE(Matches(result.out, "*Escaped\": true*")) << result.out;
    }
    // Plain output: one line per entry, the newline and the stray byte escaped.
    Expect({{"ls --json odd.zip", 0, "*\"name\": \"new\\nline.txt\"*"},
            {"ls odd.zip", 0, "caf\\x82.txt\ndir/\nnew\\nline.txt\n"}});
    EXPECT_EQ(Lines(Run("tree -m odd.zip").out), 3u);
}

TEST_F(ToolHonesty, AnUnreadableFileIsPermissionDenied)
{
    MakeTree("tree");
    const std::string user = AsUnprivileged();
    OpenTree({"tree", "tree/sub", "tree/sub/deeper"});
    ASSERT_EQ(::chmod((_dir / "tree/a.txt").c_str(), 0), 0);
    Expect({{"cat -m tree a.txt", 1, {}, "draxel-assets: a.txt: Permission denied\n"},
            {"exists -m tree a.txt", 0, "*cannot be opened: Permission denied*"}},
           user);
    ::chmod((_dir / "tree/a.txt").c_str(), 0644);
}

TEST_F(ToolHonesty, PackOfAnUnreadableFolderFailsNamingItAndWritesNothing)
{
    MakeTree("tree");
    _dir.Write("tree/locked/secret.txt", "s");
    _dir.Write("tree/zlast.txt", "after the locked folder");
    const std::string user = AsUnprivileged();
    OpenTree({"tree", "tree/sub", "tree/sub/deeper", "tree/locked"});
    ASSERT_EQ(::chmod((_dir / "tree/locked").c_str(), 0), 0);
    Expect({{"pack out.zip tree", 1, {}, "*tree/locked: Permission denied*", 1}}, user);
    EXPECT_FALSE(fs::exists(_dir / "out.zip"));
    Expect({{"pack --skip-unreadable out.zip tree", 1, {}, "*tree/locked: skipped: Permission denied*"}}, user);
    ::chmod((_dir / "tree/locked").c_str(), 0755);
    // Everything else is there, the files after the locked folder included.
    Expect({{"ls out.zip", 0, "a.txt\nsub/b.txt\nsub/deeper/c.bin\nzlast.txt\n"}});
    EXPECT_FALSE(TemporaryLeft());
}

TEST_F(ToolHonesty, PackFollowsLinksButNotLoopsAndNeverPacksItsOutput)
{
    MakeTree("tree");
    _dir.Write("elsewhere/linked.txt", "through a link");
    fs::create_directory_symlink(_dir / "elsewhere", _dir / "tree/link");
    // Packing again into the same place does not take the previous archive in.
    Expect({{"pack tree/self.zip tree", 0},
            {"pack tree/self.zip tree", 0},
            {"ls tree/self.zip", 0, "a.txt\nlink/linked.txt\nsub/b.txt\nsub/deeper/c.bin\n"}});
    fs::create_directory_symlink(_dir / "tree", _dir / "tree/sub/up");
    Expect({{"pack loop.zip tree", 1, {}, "*tree/sub/up: a symbolic link to a folder that contains it*"}});
    fs::remove(_dir / "tree/sub/up");
    fs::create_symlink(_dir / "nowhere", _dir / "tree/dangling");
    Expect({{"pack dangling.zip tree", 1, {}, "*tree/dangling: a symbolic link that leads nowhere*"}});
}

TEST_F(ToolHonesty, ExtractNeverWritesThroughALinkNorReplacesFiles)
{
    WriteArchive("a.zip", {{"data/palette.txt", "from the archive"}, {"data/other.txt", "other"}});
    _dir.Write("outside.txt", "precious");
    fs::create_directories(_dir / "OUT/data");
    fs::create_symlink(_dir / "outside.txt", _dir / "OUT/data/palette.txt");
    const std::string inTheWay = "*a.zip: data/palette.txt: a symbolic link is in the way*";
    Expect({{"extract a.zip OUT", 1, {}, inTheWay}, {"extract --overwrite a.zip OUT", 1, {}, inTheWay}});
    EXPECT_EQ(ReadFile(_dir / "outside.txt"), "precious");
    // A link in place of a folder is not followed either.
    fs::remove_all(_dir / "OUT");
    fs::create_directories(_dir / "OUT");
    fs::create_directory_symlink(_dir.path(), _dir / "OUT/data");
    Expect({{"extract a.zip OUT", 1}});
    EXPECT_FALSE(fs::exists(_dir / "other.txt"));
    EXPECT_FALSE(fs::exists(_dir / "palette.txt"));

    // An existing file stays unless --overwrite.
    fs::remove_all(_dir / "OUT");
    _dir.Write("OUT/data/other.txt", "mine");
    Expect({{"extract a.zip OUT", 1, {}, "*data/other.txt: exists (--overwrite replaces it)*"}});
    EXPECT_EQ(ReadFile(_dir / "OUT/data/other.txt"), "mine");
    Expect({{"extract --overwrite a.zip OUT", 0}});
    EXPECT_EQ(ReadFile(_dir / "OUT/data/other.txt"), "other");
}

TEST_F(ToolHonesty, ExtractSkipsCompressedAndEncryptedEntriesByName)
{
    std::string bytes = MakeArchive({{"fine.txt", "f"}, {"locked.txt", "l"}, {"packed.txt", "p"}});
    Put16(bytes, CentralHeaderOffset(bytes, 1) + 8, 1);  // encrypted
    Put16(bytes, CentralHeaderOffset(bytes, 2) + 10, 8); // deflated
    _dir.Write("m.zip", bytes);
    Expect({{"extract m.zip out",
             1,
             {},
             "*m.zip: locked.txt: skipped, encrypted*m.zip: packed.txt: skipped, deflated*",
             2}});
    EXPECT_EQ(ReadFile(_dir / "out/fine.txt"), "f");
}

TEST_F(ToolHonesty, PythonZip64AndDataDescriptorArchivesAreNotPassedOff)
{
    if (!HaveCommand("python3"))
        GTEST_SKIP() << "python3 is not installed";
    ASSERT_EQ(Python("import zipfile\n"
                     "with zipfile.ZipFile('many.zip', 'w') as z:\n"
                     "    for i in range(70000):\n"
                     "        z.writestr('f%05d' % i, b'x')\n"),
              0);
    // pack --from names the limit of our format instead of dropping entries.
    Expect({{"ls many.zip", 1, {}, "*ZIP64*", 1},
            {"check many.zip", 1, {}, "*ZIP64*"},
            {"pack --from many.zip stored.zip", 1}});
    EXPECT_FALSE(fs::exists(_dir / "stored.zip"));

    // Written to a pipe, zipfile streams: sizes and CRC follow the data.
    ASSERT_EQ(Shell("python3 -c \"import sys, zipfile\n"
                    "z = zipfile.ZipFile(sys.stdout.buffer, 'w')\n"
                    "f = z.open('stream.txt', 'w'); f.write(b'streamed data'); f.close(); z.close()\" | cat > "
                    "streamed.zip"),
              0);
    Expect({{"check streamed.zip", 1, {}, "*streamed.zip: stream.txt: data descriptor*"},
            {"extract streamed.zip out", 0},
            {"pack --from streamed.zip converted.zip", 0},
            {"check converted.zip", 0},
            {"cat -m converted.zip stream.txt", 0, "streamed data"}});
    EXPECT_EQ(ReadFile(_dir / "out/stream.txt"), "streamed data");
}

TEST_F(ToolHonesty, PackFromConvertsDeflatedArchivesOfInfoZipAndLibzip)
{
    if (!HaveCommand("zip") || !HaveCommand("unzip"))
        GTEST_SKIP() << "Info-ZIP zip and unzip are not installed";
    MakeTree("tree");
    _dir.Write("tree/big.txt", std::string(5000, 'a'));
    ASSERT_EQ(Shell("echo 'a comment' | zip -q -9 -r -z deflated.zip tree"), 0);
    // A plain conversion is an archive other tools read too.
    Expect({{"check deflated.zip", 1, {}, "*comment*"},
            {"pack --from deflated.zip --key secret stored.pak", 0},
            {"check --key secret stored.pak", 0},
            {"cat -m stored.pak --key secret tree/big.txt", 0, std::string(5000, 'a')},
            {"pack --from deflated.zip plain.zip", 0},
            {"check plain.zip", 0}});
    EXPECT_EQ(Shell("unzip -tq plain.zip"), 0);

    // An archive libzip writes (deflated by default).
    int error = 0;
    zip_t* archive = zip_open((_dir / "libzip.zip").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    static const std::string text(3000, 'l');
    zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
    ASSERT_GE(zip_file_add(archive, "made/by/libzip.txt", source, ZIP_FL_ENC_UTF_8), 0);
    ASSERT_EQ(zip_close(archive), 0);
    Expect({{"ls -l libzip.zip", 0, "*deflate*"},
            {"pack --from libzip.zip fromlibzip.zip", 0},
            {"cat -m fromlibzip.zip made/by/libzip.txt", 0, text}});
}

TEST_F(ToolHonesty, ClaimsBeyondTheArchiveFinishQuicklyInBoundedMemory)
{
    const std::string key = "0123456789abcdef0123456789ABCDEF";
    _dir.Write("claim.zip", Claim());
    _dir.Write("claim.pak", testing_support::Scramble(Claim(), key) + key);
    const std::string limit = MemoryLimit;
    for (const char* arguments : {"check claim.pak", "ls claim.pak", "extract claim.zip out"}) {
        SCOPED_TRACE(arguments);
        // timeout guards against a hang (status 124); how long it takes is for the benchmarks.
        Result result = Run(arguments, limit + std::string(" timeout 60"));
        EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status << result.err;
        EXPECT_FALSE(Matches(result.err, "*bad_alloc*")) << result.err;
    }
    Expect({{"check claim.zip", 1, {}, "*claim.zip: huge.bin: size mismatch*claim.zip: huge.bin: data past the end*"},
            {"cat -m claim.zip huge.bin", 1, "",
             "draxel-assets: huge.bin: cannot be opened: its data runs past the end of the archive\n"}},
           limit + " timeout 60");
}

TEST_F(ToolHonesty, EveryDamagedArchiveOfTheCorpusEndsInSecondsUnderAMemoryLimit)
{
    // check reads all that ls reads and more; ls runs on every fourth file, to keep the time.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(ASSETS_CORPUS_DIR)) {
        const std::string file = entry.path().string();
        for (const char* command : {"check", "ls"}) {
            if (command[0] == 'l' && files % 4 != 0)
                continue;
            // timeout guards against a hang (status 124).
            Result result = Run(std::string(command) + " '" + file + "'", MemoryLimit + std::string(" timeout 60"));
            EXPECT_TRUE(result.status == 0 || result.status == 1) << command << ' ' << file << ": " << result.err;
            EXPECT_LE(Lines(result.err), 21u) << command << ' ' << file;
        }
        ++files;
    }
    EXPECT_GT(files, 100u);
}

TEST_F(ToolHonesty, WrongKeysRenamedAndCommentedArchivesTakeOneLine)
{
    // Many entries, so that a line per entry would show.
    std::vector<testing_support::ArchiveItem> items;
    for (int i = 0; i < 300; ++i)
        items.push_back({"e" + std::to_string(i), "x"});
    _dir.Write("game.pak", MakeArchive(items, "secret"));
    const std::string plain = MakeArchive(items);
    _dir.Write("game.jar", plain);
    std::string commented = plain;
    Put16(commented, commented.size() - 2, 9);
    _dir.Write("commented.zip", commented + "a comment");
    // check shows 20 problems and a count; --all shows every one.
    std::string broken = plain;
    for (int i = 0; i < 30; ++i)
        Put32(broken, CentralHeaderOffset(broken, i) + 16, 0xdeadbeef);
    _dir.Write("broken.zip", broken);
    Expect({{"ls game.pak", 1, {}, "*--key*", 1},
            {"ls --key wrong game.pak", 1, {}, {}, 1},
            {"ls game.jar", 1, {}, "*--plain*", 1},
            {"check --plain game.jar", 0},
            {"ls commented.zip", 1, {}, "*comment*", 1},
            {"check commented.zip", 1, {}, {}, 1},
            {"check broken.zip", 1, {}, "*and 10 more*", 21},
            {"check --all broken.zip", 1, {}, {}, 30}});
    Result asPlain = Run("ls --plain game.jar");
    EXPECT_EQ(asPlain.status, 0) << asPlain.err;
    EXPECT_EQ(Lines(asPlain.out), 300u);
}

// A full output is an error, named in one line; a reader that stops early is none.
TEST_F(ToolHonesty, LostWritesAreErrorsAndClosedPipesAreNot)
{
    MakeTree("tree");
    ASSERT_EQ(Run("pack out.zip tree").status, 0);
    for (const std::string arguments :
         {"--help", "ls --help", "--version", "ls out.zip", "ls --json out.zip", "check out.zip",
          "cat -m out.zip a.txt", "cat -m tree a.txt", "tree -m out.zip", "exists -m out.zip a.txt", "pack - tree"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(Shell(DRAXEL_ASSETS_TOOL " " + arguments + " >/dev/full 2>.err"), 1);
        EXPECT_EQ(ReadFile(_dir / ".err"), "draxel-assets: write error: No space left on device\n");
    }
    _dir.Write("big/large.txt", std::string(1 << 20, 'x'));
    ASSERT_EQ(Run("pack big.zip big").status, 0);
    // The program ends without a word, whether SIGPIPE ends it or it was told to ignore SIGPIPE
    // (and sees EPIPE).
    for (const char* prefix : {"", "trap '' PIPE;"}) {
        SCOPED_TRACE(prefix);
        Shell(std::string("(") + prefix + " " DRAXEL_ASSETS_TOOL " cat -m big.zip large.txt 2>.err) | head -c 10");
        EXPECT_EQ(ReadFile(_dir / ".err"), "");
    }
}

TEST_F(ToolHonesty, HangUpTerminateAndInterruptLeaveNoTemporaryFile)
{
    _dir.MakeDir("big");
    {
        std::ofstream sparse(_dir / "big/zeros.bin", std::ios_base::binary);
        sparse.seekp((std::streamoff(1) << 30) - 1);
        sparse.put('\0');
    }
    for (const int signal : {SIGHUP, SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const std::string command =
            "cd " + _dir.path() + " && exec " DRAXEL_ASSETS_TOOL " pack big.zip big 2>/dev/null";
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        bool seen = false;
        for (int i = 0; i < 2000 && !seen; ++i) {
            for (const auto& entry : fs::directory_iterator(_dir.path()))
                seen = seen || entry.path().filename().string().find(".big.zip.tmp") == 0;
            if (!seen)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ::kill(child, signal);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!seen)
            continue; // the pack finished first: nothing to tell
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_FALSE(TemporaryLeft());
    }
}

TEST_F(ToolHonesty, ExtractNamesTheFirstTwentyErrorsAndCountsTheRest)
{
    std::vector<testing_support::ArchiveItem> items;
    for (int i = 0; i < 30; ++i)
        items.push_back({"e" + std::to_string(100 + i), "x"});
    WriteArchive("many.zip", items);
    // Every file exists after the first run, so every one is an error.
    Expect({{"extract many.zip out", 0},
            {"extract many.zip out", 1, {}, "*draxel-assets: many.zip: and 10 more (--all lists every one)\n*", 21},
            {"extract --all many.zip out", 1, {}, {}, 30}});
}

TEST_F(ToolHonesty, ArchivesComeFromStandardInputAndPipes)
{
    MakeTree("tree");
    Expect({{"pack out.zip tree", 0},
            {"pack --key 0123456789abcdef0123456789ABCDEF --trailer out.pak tree", 0},
            {"pack --key secret out.dat tree", 0}});
    _dir.MakeDir("tmp");
    Expect({{"ls - < out.zip", 0, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n"},
            {"cat -m /dev/stdin a.txt < out.zip", 0, "alpha\n"},
            {"cat -m - a.txt < out.pak", 0, "alpha\n"},
            {"exists -m - a.txt < out.zip", 0, "a.txt: file from - (priority 0)\n"},
            {"cat -m - --key secret a.txt < out.dat", 0, "alpha\n"}},
           Temporaries());
    // Through a pipe, and from a failing command: what came is read, and nothing is left.
    EXPECT_EQ(Shell("cat out.zip | " + Temporaries() + " " DRAXEL_ASSETS_TOOL " check -"), 0);
    EXPECT_EQ(Shell("head -c 100 out.zip | " + Temporaries() + " " DRAXEL_ASSETS_TOOL " ls -"), 1);
    EXPECT_EQ(LeftInTemporaries(), 0u);
}

TEST_F(ToolHonesty, PipesAndSocketsInAPackedTreeAreErrors)
{
    MakeTree("tree");
    ASSERT_EQ(::mkfifo((_dir / "tree/pipe").c_str(), 0644), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = _dir / "tree/sub/socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    Result pack = Run("pack out.zip tree");
    EXPECT_EQ(pack.status, 1);
    EXPECT_TRUE(Matches(pack.err, "*a named pipe (FIFO), not a file*") || Matches(pack.err, "*a socket, not a file*"))
        << pack.err;
    EXPECT_FALSE(fs::exists(_dir / "out.zip"));
    Expect({{"pack --skip-unreadable out.zip tree", 1, {}, "*tree/pipe: skipped: a named pipe (FIFO), not a file*"},
            {"pack --skip-unreadable out.zip tree", 1, {}, "*tree/sub/socket: skipped: a socket, not a file*"},
            {"ls out.zip", 0, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n"}});
    ::close(listener);
}

TEST_F(ToolHonesty, OneVocabularyAndEveryFlagShown)
{
    std::string bytes = MakeArchive({{"d/", "", true}, {"caf\xc3\xa9.txt", "c"}, {"streamed.txt", "s"}});
    // UTF-8 name (bit 11); data descriptor (bit 3) with the compression option bits 1 and 2 set.
    Put16(bytes, CentralHeaderOffset(bytes, 1) + 8, 0x0800);
    Put16(bytes, CentralHeaderOffset(bytes, 2) + 8, 0x0008 | 0x0006);
    _dir.Write("f.zip", bytes);
    // Directories are "directory" in every command's JSON.
    Expect({{"ls -l f.zip", 0, "*file stored   --U-  *file stored   -D-3  *"},
            {"ls --json f.zip", 0, "*\"type\": \"directory\"*"},
            {"tree --json -m f.zip", 0, "*\"type\": \"directory\"*"},
            {"exists --json -m f.zip d", 0, "*\"type\": \"directory\"*"}});
    EXPECT_FALSE(Matches(Run("ls --json f.zip").out, "*\"dir\"*"));
}

TEST_F(ToolHonesty, NonAsciiNamesCarryTheUtf8FlagAndMountTargetsDropTheirSlash)
{
    _dir.Write("tree/caf\xc3\xa9.txt", "coffee");
    _dir.Write("tree/plain.txt", "tea");
    ASSERT_EQ(Run("pack out.zip tree").status, 0);
    const std::string bytes = ReadFile(_dir / "out.zip");
    EXPECT_EQ(testing_support::Get16(bytes, 6) & 0x0800, 0x0800); // the first local header: café.txt
    EXPECT_EQ(testing_support::Get16(bytes, CentralHeaderOffset(bytes, 0) + 8) & 0x0800, 0x0800);
    EXPECT_EQ(testing_support::Get16(bytes, CentralHeaderOffset(bytes, 1) + 8) & 0x0800, 0);
    if (HaveCommand("python3")) {
        EXPECT_EQ(Python("import zipfile\n"
                         "assert zipfile.ZipFile('out.zip').namelist()[0] == 'caf\\u00e9.txt'\n"),
                  0);
    }
    Expect({{"cat -m out.zip:/assets assets/plain.txt", 0, "tea"},
            {"exists -m out.zip:/assets:3 assets/plain.txt", 0, "assets/plain.txt: file from out.zip (priority 3)\n"},
            {"cat --help", 0, "*leading slash is dropped*"}});
}

TEST_F(ToolHonesty, JsonVersionKeyFileAndNameRuleAreThere)
{
    MakeTree("tree");
    _dir.Write("key.bin", "secret");
    Expect({{"pack out.zip tree", 0},
            {"ls --json out.zip", 0, "*\"name\": \"sub/b.txt\"*"},
            {"check --json out.zip", 0, "*\"problems\": []*"},
            {"tree --json -m out.zip", 0, "*\"children\"*"},
            {"exists --json -m out.zip a.txt", 0, "*\"exists\": true*"},
            {"--version", 0, "draxel-assets *"},
            {"pack --key-file key.bin s.dat tree", 0},
            {"cat -m s.dat --key-file key.bin a.txt", 0, "alpha\n"},
            {"--help", 0, "*--plain*"}});
    Expect({{"pack - tree", 0, ReadFile(_dir / "out.zip")}});
}

TEST_F(ToolHonesty, AGibibyteEntryIsCheckedReadAndExtractedInBoundedMemory)
{
    // One stored entry of 1 GiB of zeros, written sparse: local header, data, central
    // header, end record.
    const std::uint64_t size = std::uint64_t(1) << 30;
    uLong crc = ::crc32(0L, Z_NULL, 0);
    const std::string zeros(std::size_t(1) << 20, '\0');
    for (std::uint64_t done = 0; done < size; done += zeros.size())
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
    std::string small = MakeArchive({{"big.bin", "x"}});
    const std::size_t central = CentralHeaderOffset(small, 0);
    std::string local = small.substr(0, 30 + 7);
    std::string tail = small.substr(central);
    for (std::string* header : {&local, &tail}) {
        const std::size_t at = header == &local ? 14 : 16;
        Put32(*header, at, static_cast<std::uint32_t>(crc));
        Put32(*header, at + 4, static_cast<std::uint32_t>(size));
        Put32(*header, at + 8, static_cast<std::uint32_t>(size));
    }
    Put32(tail, tail.size() - 22 + 16, static_cast<std::uint32_t>(local.size() + size));
    {
        std::ofstream out(_dir / "big.zip", std::ios_base::binary);
        out.write(local.data(), static_cast<std::streamsize>(local.size()));
        out.seekp(static_cast<std::streamoff>(local.size() + size));
        out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    }
    for (const char* arguments : {"check big.zip", "cat -m big.zip big.bin", "extract big.zip out"}) {
        SCOPED_TRACE(arguments);
        // Output to /dev/null: the test does not read back the gigabytes.
        long peakKiB = 0;
        EXPECT_EQ(RunMeasured("cd " + _dir.path() + " && " + MemoryLimit + " " DRAXEL_ASSETS_TOOL " " + arguments +
                                  " >/dev/null",
                              peakKiB),
                  0);
        // (Under AddressSanitizer the shadow and quarantine add their own.)
#if !defined(ASSETS_TOOL_UNDER_ASAN)
        EXPECT_LT(peakKiB, 256 * 1024) << "KiB";
#endif
        std::cout << arguments << ": peak resident " << peakKiB / 1024 << " MiB\n";
    }
    EXPECT_EQ(fs::file_size(_dir / "out/big.bin"), size);
    fs::remove(_dir / "out/big.bin");
}
