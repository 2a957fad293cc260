// draxel-assets watch, run as a user runs it: started in the background over a directory
// above an archive, it prints the changes made afterwards (the archive replaced too), one
// line each, with their source; a rebuilt archive entry by entry, as tree shows it afterwards.
#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

using testing_support::ReadFile;
using testing_support::ScratchDir;

namespace {

// Waits up to two minutes for p_file to hold p_text (a loaded machine is slow to start a
// program under the sanitizers; a working one is done in well under a second).
bool AwaitText(const std::string& p_file, const std::string& p_text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(p_file) && ReadFile(p_file).find(p_text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Starts p_command (shell words) in the background in p_dir: its output goes to the files out
// and err there, its exit status to the file status once it ends.
void Start(const ScratchDir& p_dir, const std::string& p_command)
{
    ASSERT_EQ(
        0, testing_support::RunShell("cd " + p_dir.path() + " && (" + p_command + " >out 2>err; echo $? >status) &"));
}

} // namespace

TEST(WatchTool, PrintsEachChangeWithTheSourceThatServesItNow)
{
    ScratchDir dir;
    dir.Write("pack.zip",
              testing_support::MakeArchive({{"Shaders/basic.vert", "archive"}, {"Shaders/other.vert", "x"}}));
    dir.Write("tests/keep.frag", "keep");
    const std::string out = dir / "out", err = dir / "err", status = dir / "status";
    // The program ends by itself after four changes; timeout only guards a broken one.
    Start(dir, "timeout 300 " DRAXEL_ASSETS_TOOL " watch -m pack.zip -m tests:Shaders:1 --count 4 Shaders");
    ASSERT_TRUE(AwaitText(err, "watching 3 files")) << ReadFile(err);

    // Each file is written whole and renamed into place, so that it is seen once.
    auto put = [&](const std::string& p_relative, const std::string& p_bytes) {
        std::filesystem::rename(dir.Write(".staged", p_bytes), dir / p_relative);
    };
    put("tests/basic.vert", "shadowing");
    ASSERT_TRUE(AwaitText(out, "basic.vert")) << ReadFile(out);
    put("tests/new.frag", "new");
    ASSERT_TRUE(AwaitText(out, "new.frag")) << ReadFile(out);
    std::filesystem::remove(dir / "tests/keep.frag");
    ASSERT_TRUE(AwaitText(out, "keep.frag")) << ReadFile(out);
    // The archive, named relative to the working directory, replaced by a rename.
    put("pack.zip", testing_support::MakeArchive({{"Shaders/other.vert", "y"}}));
    ASSERT_TRUE(AwaitText(status, "\n")) << ReadFile(out) << ReadFile(err);

    EXPECT_EQ("0\n", ReadFile(status));
    EXPECT_EQ("source changed    Shaders/basic.vert  <- tests (priority 1)\n"
              "created           Shaders/new.frag  <- tests (priority 1)\n"
              "removed           Shaders/keep.frag\n"
              "modified          Shaders/other.vert  <- pack.zip (priority 0)\n",
              ReadFile(out));
    EXPECT_EQ("watching 3 files (inotify); Ctrl-C stops\n", ReadFile(err));
}

TEST(WatchTool, TurnsToPollingAtTheSystemsWatchLimit)
{
    // The limit of inotify watches belongs to the user namespace: a fresh one, in which this
    // test may lower it to 2, leaves the machine's limit alone.
    if (testing_support::RunShell("unshare -Ur sh -c 'echo 2 >/proc/sys/user/max_inotify_watches' 2>/dev/null") != 0)
        GTEST_SKIP() << "no user namespace in which to lower the watch limit";
    ScratchDir dir;
    for (const char* name : {"a", "b", "c", "d"})
        dir.Write(std::string("tree/") + name + "/f.txt", name);
    const std::string out = dir / "out", err = dir / "err", status = dir / "status";
    Start(dir, "unshare -Ur sh -c 'echo 2 >/proc/sys/user/max_inotify_watches && exec timeout 300 " DRAXEL_ASSETS_TOOL
               " watch -m tree --count 1'");
    ASSERT_TRUE(AwaitText(err, "watching 4 files (polling)")) << ReadFile(err);
    std::filesystem::rename(dir.Write(".staged", "changed"), dir / "tree/c/f.txt");
    ASSERT_TRUE(AwaitText(status, "\n")) << ReadFile(out) << ReadFile(err);
    EXPECT_EQ("0\n", ReadFile(status));
    EXPECT_EQ("modified          c/f.txt  <- tree (priority 0)\n", ReadFile(out));
}

namespace {

// The files that draxel-assets tree prints, as full paths with their source names: the tree
// indents each level by two blanks and marks directories with a slash.
std::map<std::string, std::string> TreeFiles(const std::string& p_output)
{
    std::map<std::string, std::string> files;
    std::vector<std::string> directories;
    std::istringstream lines(p_output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t depth = line.find_first_not_of(' ') / 2;
        const std::size_t arrow = line.find("  <- ");
        std::string name = line.substr(depth * 2, line.find_last_not_of(' ', arrow) + 1 - depth * 2);
        directories.resize(depth);
        std::string path;
        for (const std::string& directory : directories)
            path += directory + "/";
        if (!name.empty() && name.back() == '/') {
            name.pop_back();
            directories.push_back(name);
        } else {
            files[path + name] = line.substr(arrow + 5, line.find(' ', arrow + 5) - arrow - 5);
        }
    }
    return files;
}

} // namespace

TEST(WatchTool, ARebuiltArchiveIsReportedEntryByEntryAsTreeShowsItAfterwards)
{
    ScratchDir dir;
    dir.Write("game.zip", testing_support::MakeArchive({{"Shaders/basic.vert", "basic"}, {"Shaders/other.vert", "x"}}));
    const std::string out = dir / "out", err = dir / "err", status = dir / "status";
    Start(dir, "timeout 300 " DRAXEL_ASSETS_TOOL " watch -m game.zip --count 5");
    ASSERT_TRUE(AwaitText(err, "watching 2 files")) << ReadFile(err);

    // Rebuilt without basic.vert, with extra.txt and another other.vert, renamed into place.
    std::filesystem::rename(
        dir.Write(".staged", testing_support::MakeArchive({{"Shaders/other.vert", "y, longer"}, {"extra.txt", "e"}})),
        dir / "game.zip");
    ASSERT_TRUE(AwaitText(out, "extra.txt")) << ReadFile(out) << ReadFile(err);
    EXPECT_EQ("removed           Shaders/basic.vert\n"
              "modified          Shaders/other.vert  <- game.zip (priority 0)\n"
              "created           extra.txt  <- game.zip (priority 0)\n",
              ReadFile(out));
    // What tree says afterwards: every created or modified file, none removed.
    EXPECT_EQ(0, testing_support::RunShell("cd " + dir.path() + " && " DRAXEL_ASSETS_TOOL " tree -m game.zip >" +
                                           (dir / "tree") + " 2>&1"));
    EXPECT_EQ((std::map<std::string, std::string>{{"Shaders/other.vert", "game.zip"}, {"extra.txt", "game.zip"}}),
              TreeFiles(ReadFile(dir / "tree")))
        << ReadFile(dir / "tree");

    // Deleted: every path it served is removed.
    std::filesystem::remove(dir / "game.zip");
    ASSERT_TRUE(AwaitText(status, "\n")) << ReadFile(out) << ReadFile(err);
    EXPECT_EQ("0\n", ReadFile(status));
    const std::string all = ReadFile(out);
    EXPECT_NE(all.find("removed           Shaders/other.vert\n"), std::string::npos) << all;
    EXPECT_NE(all.find("removed           extra.txt\n"), std::string::npos) << all;
}
