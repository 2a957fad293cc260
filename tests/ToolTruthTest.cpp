// draxel-assets tells the truth where it used to say "done" or the wrong thing: damaged data
// (CRC-32), entries that cannot be opened, archives named against the rule (--plain per -m),
// mount sources with colons, names with any bytes, unreadable files, signals, long error
// lists, archives on standard input, closed outputs and special files in a packed tree.
#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::RunShell;

namespace {

bool Has(const std::string& p_text, const std::string& p_part)
{
    return p_text.find(p_part) != std::string::npos;
}

class ToolTruth : public Tool {
protected:
    // An archive of a.txt ("alpha\n") and sub/b.txt, with one data byte of a.txt flipped.
    void WriteDamaged(const std::string& p_name)
    {
        std::string bytes = testing_support::MakeArchive({{"a.txt", "alpha\n"}, {"sub/b.txt", "beta"}});
        bytes[bytes.find("alpha")] ^= 1;
        _dir.Write(p_name, bytes);
    }

    // Whether p_json parses as JSON (Python's parser: strict about UTF-8 and escapes).
    bool ValidJson(const std::string& p_json)
    {
        _dir.Write(".document.json", p_json);
        return RunShell("python3 -c 'import json, sys; json.load(open(sys.argv[1], encoding=\"utf-8\"))' " +
                        (_dir / ".document.json")) == 0;
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
};

} // namespace

TEST_F(ToolTruth, ExtractAndCatCheckTheCrcOfWhatTheyWrite)
{
    WriteDamaged("bad.zip");
    Result extract = Run("extract bad.zip out");
    EXPECT_EQ(extract.status, 1);
    EXPECT_TRUE(Has(extract.err, "draxel-assets: bad.zip: a.txt: CRC-32 mismatch: directory ")) << extract.err;
    EXPECT_EQ(Lines(extract.err), 1u) << extract.err;
    EXPECT_EQ(ReadFile(_dir / "out/sub/b.txt"), "beta"); // the good entry is written all the same

    for (const char* arguments : {"cat -m bad.zip a.txt", "cat --text -m bad.zip a.txt"}) {
        SCOPED_TRACE(arguments);
        Result cat = Run(arguments);
        EXPECT_EQ(cat.status, 1);
        EXPECT_TRUE(Has(cat.err, "draxel-assets: a.txt: CRC-32 mismatch: directory ")) << cat.err;
    }
    EXPECT_EQ(Run("cat -m bad.zip sub/b.txt").status, 0);
}

TEST_F(ToolTruth, CatOfAnEntryThatRunsPastTheEndFailsAndWritesNothing)
{
    std::string bytes = testing_support::MakeArchive({{"huge.bin", std::string(1000, 'h')}, {"next.txt", "n"}});
    testing_support::Put32(bytes, 22, 0xffffffffu); // the local header's size
    _dir.Write("claim.zip", bytes);
    Result cat = Run("cat -m claim.zip huge.bin");
    EXPECT_EQ(cat.status, 1);
    EXPECT_EQ(cat.out, "");
    EXPECT_EQ(cat.err, "draxel-assets: huge.bin: cannot be opened: its data runs past the end of the archive\n");
}

TEST_F(ToolTruth, PlainBelongsToEachMountLikeAKey)
{
    _dir.Write("game.jar", testing_support::MakeArchive({{"a.txt", "alpha"}}));
    MakeTree("tree");
    EXPECT_EQ(Run("cat -m game.jar --plain a.txt").out, "alpha");
    EXPECT_TRUE(Has(Run("exists -m game.jar --plain a.txt").out, "a.txt: file from game.jar"));
    EXPECT_TRUE(Has(Run("tree -m tree:t -m game.jar:j --plain").out, "a.txt"));
    // Without it the name rule holds, and the error says what to do.
    Result without = Run("cat -m game.jar a.txt");
    EXPECT_EQ(without.status, 1);
    EXPECT_TRUE(Has(without.err, "--plain")) << without.err;
    // watch takes it too: it starts watching instead of refusing the option.
    Result watch = Run("watch -m game.jar --plain", "timeout 2");
    EXPECT_EQ(watch.status, 124) << watch.err;
    EXPECT_TRUE(Has(watch.err, "watching 1 file")) << watch.err;

    struct Wrong {
        const char* arguments;
        const char* says;
    };
    for (const Wrong& wrong : {Wrong{"cat --plain -m game.jar a.txt", "must follow the -m"},
                               Wrong{"cat -m game.jar --plain --key k a.txt", "takes no key"},
                               Wrong{"cat -m tree --plain a.txt", "--plain applies to archives"},
                               Wrong{"cat -m game.jar --plain --plain a.txt", "given twice"}}) {
        SCOPED_TRACE(wrong.arguments);
        Result result = Run(wrong.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(Has(result.err, wrong.says)) << result.err;
    }
}

TEST_F(ToolTruth, ExistsAndTreeSayWhichEntriesCannotBeOpened)
{
    std::string bytes = testing_support::MakeArchive({{"fine.txt", "f"}, {"packed.txt", "p"}});
    testing_support::Put16(bytes, testing_support::CentralHeaderOffset(bytes, 1) + 10, 8); // deflated
    _dir.Write("m.zip", bytes);
    struct Case {
        const char* path;
        const char* reason; // empty: it opens
    };
    for (const Case& item : {Case{"fine.txt", ""}, Case{"packed.txt", "deflated entry (compressed)"}}) {
        SCOPED_TRACE(item.path);
        const std::string reason = item.reason;
        Result exists = Run(std::string("exists -m m.zip ") + item.path);
        EXPECT_EQ(exists.status, 0);
        EXPECT_EQ(exists.out, std::string(item.path) + ": file from m.zip (priority 0)" +
                                  (reason.empty() ? "" : ", cannot be opened: " + reason) + "\n");
        Result json = Run(std::string("exists --json -m m.zip ") + item.path);
        EXPECT_TRUE(Has(json.out, reason.empty() ? "\"openable\": true" : "\"openable\": false")) << json.out;
        if (!reason.empty()) {
            EXPECT_TRUE(Has(json.out, "\"reason\": \"" + reason + "\"")) << json.out;
            Result cat = Run(std::string("cat -m m.zip ") + item.path);
            EXPECT_EQ(cat.status, 1);
            EXPECT_EQ(cat.err, "draxel-assets: " + std::string(item.path) + ": cannot be opened: " + reason + "\n");
        }
    }
    const std::string tree = Run("tree -m m.zip").out;
    EXPECT_TRUE(Has(tree, "(priority 0), cannot be opened: deflated entry (compressed)\n")) << tree;
    EXPECT_EQ(Lines(tree), 2u);
    EXPECT_TRUE(Has(Run("tree --json -m m.zip").out, "\"openable\": false")) << tree;
}

TEST_F(ToolTruth, AnyPathMountsWithTargetAndPriority)
{
    _dir.Write("my:dir/a.txt", "colon");
    _dir.Write("plain/a.txt", "plain");
    // The short form splits at the colon; --target and --priority take the source whole.
    EXPECT_EQ(Run("cat -m my:dir a.txt").status, 1);
    EXPECT_EQ(Run("cat -m my:dir --target assets assets/a.txt").out, "colon");
    EXPECT_EQ(Run("cat -m my:dir --priority 5 -m plain:/:3 a.txt").out, "colon");
    EXPECT_EQ(Run("exists -m my:dir --target /x --priority 7 x/a.txt").out, "x/a.txt: file from my:dir (priority 7)\n");
    for (const char* wrong : {"cat -m plain --priority -1 a.txt", "cat -m plain --priority x a.txt",
                              "cat -m plain --target a --target b a/a.txt", "cat --target a -m plain a/a.txt"}) {
        SCOPED_TRACE(wrong);
        EXPECT_EQ(Run(wrong).status, 2);
    }
}

TEST_F(ToolTruth, NamesWithAnyBytesGiveValidJsonAndOneLineEach)
{
    if (!HaveCommand("python3"))
        GTEST_SKIP() << "python3 is not installed";
    std::string bytes = testing_support::MakeArchive({{"cafX.txt", "c"}, {"new\nline.txt", "n"}, {"dir/", "", true}});
    bytes.replace(bytes.find("cafX"), 4, "caf\x82");
    bytes.replace(bytes.find("cafX"), 4, "caf\x82");
    _dir.Write("odd.zip", bytes);
    EXPECT_TRUE(ValidJson(Run("check --json odd.zip").out));
    for (const char* arguments :
         {"ls --json odd.zip", "tree --json -m odd.zip", "exists --json -m odd.zip caf\x82.txt"}) {
        SCOPED_TRACE(arguments);
        Result result = Run(arguments);
        EXPECT_TRUE(ValidJson(result.out)) << result.out << result.err;
        EXPECT_TRUE(Has(result.out, "caf\\\\x82.txt")) << result.out;
        EXPECT_TRUE(Has(result.out, "Escaped\": true")) << result.out;
    }
    EXPECT_TRUE(Has(Run("ls --json odd.zip").out, "\"name\": \"new\\nline.txt\""));
    // Plain output: one line per entry, the newline and the stray byte escaped.
    EXPECT_EQ(Run("ls odd.zip").out, "caf\\x82.txt\ndir/\nnew\\nline.txt\n");
    EXPECT_EQ(Lines(Run("tree -m odd.zip").out), 3u);
}

TEST_F(ToolTruth, AnUnreadableFileIsPermissionDenied)
{
    MakeTree("tree");
    const std::string user = AsUnprivileged();
    for (const char* path : {"tree", "tree/sub", "tree/sub/deeper"})
        ::chmod((_dir / path).c_str(), 0777);
    ASSERT_EQ(::chmod((_dir / "tree/a.txt").c_str(), 0), 0);
    Result cat = Run("cat -m tree a.txt", user);
    EXPECT_EQ(cat.status, 1);
    EXPECT_EQ(cat.err, "draxel-assets: a.txt: Permission denied\n");
    EXPECT_TRUE(Has(Run("exists -m tree a.txt", user).out, "cannot be opened: Permission denied"));
    ::chmod((_dir / "tree/a.txt").c_str(), 0644);
}

TEST_F(ToolTruth, HangUpAndTerminateLeaveNoTemporaryFile)
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
        for (const auto& entry : fs::directory_iterator(_dir.path()))
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

TEST_F(ToolTruth, ExtractNamesTheFirstTwentyErrorsAndCountsTheRest)
{
    std::vector<testing_support::ArchiveItem> items;
    for (int i = 0; i < 30; ++i)
        items.push_back({"e" + std::to_string(100 + i), "x"});
    WriteArchive("many.zip", items);
    ASSERT_EQ(Run("extract many.zip out").status, 0);
    // Every file exists now, so every one is an error.
    Result capped = Run("extract many.zip out");
    EXPECT_EQ(capped.status, 1);
    EXPECT_EQ(Lines(capped.err), 21u) << capped.err;
    EXPECT_TRUE(Has(capped.err, "draxel-assets: many.zip: and 10 more (--all lists every one)\n")) << capped.err;
    Result all = Run("extract --all many.zip out");
    EXPECT_EQ(all.status, 1);
    EXPECT_EQ(Lines(all.err), 30u);
}

TEST_F(ToolTruth, ArchivesComeFromStandardInputAndPipes)
{
    MakeTree("tree");
    ASSERT_EQ(Run("pack out.zip tree").status, 0);
    ASSERT_EQ(Run("pack --key 0123456789abcdef0123456789ABCDEF --trailer out.pak tree").status, 0);
    ASSERT_EQ(Run("pack --key secret out.dat tree").status, 0);
    _dir.MakeDir("tmp");
    struct Case {
        const char* command;
        const char* out;
    };
    for (const Case& item :
         {Case{"ls - < out.zip", "a.txt\nsub/b.txt\nsub/deeper/c.bin\n"},
          Case{"cat -m /dev/stdin a.txt < out.zip", "alpha\n"}, Case{"cat -m - a.txt < out.pak", "alpha\n"},
          Case{"exists -m - a.txt < out.zip", "a.txt: file from - (priority 0)\n"},
          Case{"cat -m - --key secret a.txt < out.dat", "alpha\n"}}) {
        SCOPED_TRACE(item.command);
        const std::string out = _dir / ".out";
        const int status = RunShell("cd " + _dir.path() + " && " + Temporaries() + " " DRAXEL_ASSETS_TOOL " " +
                                    item.command + " >" + out);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(ReadFile(out), item.out);
        EXPECT_EQ(LeftInTemporaries(), 0u);
    }
    // Through a pipe, and from a failing command: what came is read, and nothing is left.
    EXPECT_EQ(RunShell("cd " + _dir.path() + " && cat out.zip | " + Temporaries() +
                       " " DRAXEL_ASSETS_TOOL " check - >/dev/null"),
              0);
    EXPECT_EQ(RunShell("cd " + _dir.path() + " && head -c 100 out.zip | " + Temporaries() +
                       " " DRAXEL_ASSETS_TOOL " ls - 2>/dev/null"),
              1);
    EXPECT_EQ(LeftInTemporaries(), 0u);
}

TEST_F(ToolTruth, FailedHelpWritesAndClosedPipes)
{
    for (const char* arguments : {"--help", "ls --help", "--version"}) {
        SCOPED_TRACE(arguments);
        const int status =
            RunShell("cd " + _dir.path() + " && " DRAXEL_ASSETS_TOOL " " + arguments + " >/dev/full 2>/dev/null");
        EXPECT_EQ(status, 1);
    }
    _dir.Write("big/large.txt", std::string(1 << 20, 'x'));
    ASSERT_EQ(Run("pack big.zip big").status, 0);
    // A reader that stops early: the program ends without a word, whether SIGPIPE ends it or
    // it was told to ignore SIGPIPE (and sees EPIPE).
    for (const char* prefix : {"", "trap '' PIPE;"}) {
        SCOPED_TRACE(prefix);
        const std::string err = _dir / ".err";
        RunShell("cd " + _dir.path() + " && (" + prefix + " " DRAXEL_ASSETS_TOOL " cat -m big.zip large.txt 2>" + err +
                 ") | head -c 10 >/dev/null");
        EXPECT_EQ(ReadFile(err), "");
    }
}

TEST_F(ToolTruth, PipesAndSocketsInAPackedTreeAreErrors)
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
    EXPECT_TRUE(Has(pack.err, "a named pipe (FIFO), not a file") || Has(pack.err, "a socket, not a file")) << pack.err;
    EXPECT_FALSE(fs::exists(_dir / "out.zip"));
    Result skipping = Run("pack --skip-unreadable out.zip tree");
    EXPECT_EQ(skipping.status, 1);
    EXPECT_TRUE(Has(skipping.err, "tree/pipe: skipped: a named pipe (FIFO), not a file")) << skipping.err;
    EXPECT_TRUE(Has(skipping.err, "tree/sub/socket: skipped: a socket, not a file")) << skipping.err;
    EXPECT_EQ(Run("ls out.zip").out, "a.txt\nsub/b.txt\nsub/deeper/c.bin\n");
    ::close(listener);
}

TEST_F(ToolTruth, OneVocabularyAndEveryFlagShown)
{
    std::string bytes =
        testing_support::MakeArchive({{"d/", "", true}, {"caf\xc3\xa9.txt", "c"}, {"streamed.txt", "s"}});
    // UTF-8 name (bit 11); data descriptor (bit 3) with the compression option bits 1 and 2 set.
    testing_support::Put16(bytes, testing_support::CentralHeaderOffset(bytes, 1) + 8, 0x0800);
    testing_support::Put16(bytes, testing_support::CentralHeaderOffset(bytes, 2) + 8, 0x0008 | 0x0006);
    _dir.Write("f.zip", bytes);
    const std::string listing = Run("ls -l f.zip").out;
    EXPECT_TRUE(Has(listing, "file stored   --U-  ")) << listing;
    EXPECT_TRUE(Has(listing, "file stored   -D-3  ")) << listing;
    // Directories are "directory" in every command's JSON.
    EXPECT_TRUE(Has(Run("ls --json f.zip").out, "\"type\": \"directory\"")) << Run("ls --json f.zip").out;
    EXPECT_TRUE(Has(Run("tree --json -m f.zip").out, "\"type\": \"directory\""));
    EXPECT_TRUE(Has(Run("exists --json -m f.zip d").out, "\"type\": \"directory\""));
    EXPECT_FALSE(Has(Run("ls --json f.zip").out, "\"dir\""));
}
