// The watcher, with native notification and with the polling fallback: files modified,
// created, removed and renamed, shadowing and un-shadowing, mounts after the watcher, an
// archive replaced, cut short or deleted on disk (remounted by the host or by the watcher),
// and a burst of changes larger than the kernel's notice queue.
// Changes are awaited by polling up to a generous deadline, never by sleeping a fixed time.
#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <Assets/AssetWatcher.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

using namespace Qor::Draxel::Assets;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Every change seen so far, by path, in the order seen.
using Seen = std::map<std::string, std::vector<AssetWatcher::Change>>;

class AssetWatcherTest : public ::testing::TestWithParam<AssetWatcher::Notification> {
protected:
    std::unique_ptr<AssetWatcher> MakeWatcher(const std::string& p_path = std::string())
    {
        auto watcher = std::make_unique<AssetWatcher>(library, GetParam(), std::chrono::milliseconds(10));
        watcher->Watch(P(p_path));
        return watcher;
    }

    // Polls until p_done holds for what was seen, for at most a minute (a loaded machine
    // under the sanitizers is slow; a correct watcher answers in milliseconds).
    Seen PollUntil(AssetWatcher& p_watcher, const std::function<bool(const Seen&)>& p_done)
    {
        Seen seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!p_done(seen) && std::chrono::steady_clock::now() < deadline) {
            for (AssetWatcher::Change& change : p_watcher.Poll()) {
                if (checkAgainstListing)
                    ExpectListed(change);
                seen[change.path.str()].push_back(std::move(change));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return seen;
    }

    // Polls until each path of p_kinds was seen, then checks the kinds seen for it (as Kinds
    // joins them).
    Seen ExpectKinds(AssetWatcher& p_watcher, const std::map<std::string, std::string>& p_kinds)
    {
        std::vector<std::string> paths;
        for (const auto& path : p_kinds)
            paths.push_back(path.first);
        const Seen seen = PollFor(p_watcher, paths);
        std::map<std::string, std::string> kinds;
        for (const auto& path : p_kinds)
            kinds[path.first] = Kinds(seen, path.first);
        EXPECT_EQ(kinds, p_kinds);
        return seen;
    }

    Seen PollFor(AssetWatcher& p_watcher, const std::vector<std::string>& p_paths)
    {
        return PollUntil(p_watcher, [&](const Seen& p_seen) {
            for (const std::string& path : p_paths)
                if (!p_seen.count(path))
                    return false;
            return true;
        });
    }

    // A change agrees with the library's listing of the moment: a file that is there now is
    // listed as a file of the reported source; a removed one is listed as no file.
    void ExpectListed(const AssetWatcher::Change& p_change)
    {
        if (p_change.kind == AssetWatcher::Change::MayHaveChanged)
            return;
        const std::string text = p_change.path.str();
        const std::size_t slash = text.rfind('/');
        const AssetPath parent(slash == std::string::npos ? std::string() : text.substr(0, slash));
        std::string listed = "<no file>";
        for (const AssetLibrary::Child& child : library->Children(parent))
            if (child.path == p_change.path && !child.isDirectory)
                listed = child.source.str();
        EXPECT_EQ(p_change.kind == AssetWatcher::Change::Removed ? "<no file>" : p_change.source.str(), listed)
            << AssetWatcher::KindName(p_change.kind) << " " << text;
    }

    // The kinds seen for p_path, joined by commas.
    static std::string Kinds(const Seen& p_seen, const std::string& p_path)
    {
        std::string kinds;
        auto found = p_seen.find(p_path);
        if (found != p_seen.end())
            for (const AssetWatcher::Change& change : found->second)
                kinds += (kinds.empty() ? "" : ",") + std::string(AssetWatcher::KindName(change.kind));
        return kinds;
    }

    // The source the library records for the volume mounted from p_host (separators as '/').
    static std::string SourceOf(const std::string& p_host) { return AssetPath(qorfile::filepath(p_host)).str(); }

    static std::string Source(const Seen& p_seen, const std::string& p_path)
    {
        auto found = p_seen.find(p_path);
        return found == p_seen.end() ? "<none>" : found->second.back().source.str();
    }

    // Writes a file whole at once, as an editor's save does (a file written in place may be
    // seen half-written, and reported again when done).
    void Put(const std::string& p_relative, const std::string& p_bytes)
    {
        const fs::path target = dir / p_relative;
        fs::create_directories(target.parent_path());
        fs::rename(dir.Write(".staged", p_bytes), target);
    }

    ScratchDir dir;
    LogCapture log;
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    // Off where a listing per change would cost too much.
    bool checkAgainstListing = true;
};

TEST_P(AssetWatcherTest, ReportsModifiedCreatedRemovedAndRenamedFiles)
{
    dir.Write("data/a.txt", "a");
    dir.Write("data/sub/c.txt", "c");
    dir.Write("data/keep.txt", "keep");
    library->MountDirectory(qorfile::filepath(dir / "data"), P("root"), 0);
    auto watcher = MakeWatcher();
    EXPECT_EQ(GetParam() == AssetWatcher::Native, watcher->IsNative());
    EXPECT_EQ(3u, watcher->WatchedFiles());
    EXPECT_TRUE(watcher->Poll().empty());

    Put("data/a.txt", "a, longer");
    Seen seen = ExpectKinds(*watcher, {{"root/a.txt", "modified"}});
    EXPECT_EQ(SourceOf(dir / "data"), Source(seen, "root/a.txt"));

    Put("data/sub/new/b.txt", "b");
    seen = ExpectKinds(*watcher, {{"root/sub/new/b.txt", "created"}});

    fs::remove(dir / "data/a.txt");
    seen = ExpectKinds(*watcher, {{"root/a.txt", "removed"}});
    EXPECT_EQ("", Source(seen, "root/a.txt"));

    fs::rename(dir / "data/sub/c.txt", dir / "data/d.txt");
    seen = ExpectKinds(*watcher, {{"root/sub/c.txt", "removed"}, {"root/d.txt", "created"}});

    // A renamed directory: its files move, and the watches follow the new name.
    fs::rename(dir / "data/sub", dir / "data/moved");
    seen = ExpectKinds(*watcher, {{"root/sub/new/b.txt", "removed"}, {"root/moved/new/b.txt", "created"}});
    Put("data/moved/new/b.txt", "b, again");
    seen = ExpectKinds(*watcher, {{"root/moved/new/b.txt", "modified"}});
    EXPECT_EQ(3u, watcher->WatchedFiles());
    EXPECT_FALSE(seen.count("root/keep.txt"));
}

TEST_P(AssetWatcherTest, ReportsARewriteOfTheSameSizeAndAnAtomicReplace)
{
    dir.Write("data/shader.frag", "colour = red;");
    library->MountDirectory(qorfile::filepath(dir / "data"), P(""), 0);
    auto watcher = MakeWatcher("shader.frag");

    // An editor's save: a new file renamed over the old one.
    Put("data/shader.frag", "colour = tan;");
    Seen seen = ExpectKinds(*watcher, {{"shader.frag", "modified"}});
    EXPECT_EQ(1u, seen.size()) << "only the watched path is reported";
    if (GetParam() == AssetWatcher::Native) {
        // In place, with the same size, and at once: the notice alone tells it.
        dir.Write("data/shader.frag", "colour = sky;");
        seen = ExpectKinds(*watcher, {{"shader.frag", "modified"}});
    }
}

TEST_P(AssetWatcherTest, ReportsShadowingAndUnshadowingOfAnArchiveEntry)
{
    const std::string archive =
        dir.Write("assets/builtin.zip",
                  MakeArchive({{"Shaders/basic.vert", "archive vert"}, {"Shaders/Tests/colour.frag", "archive frag"}}));
    library->MountArchive(qorfile::filepath(archive), P(""), 0, std::string());
    library->MountDirectory(qorfile::filepath(dir.MakeDir("tests")), P("Shaders/Tests"), 1);
    library->MountDirectory(qorfile::filepath(dir.MakeDir("root")), P(""), 2);
    auto watcher = MakeWatcher("Shaders");
    EXPECT_EQ(2u, watcher->WatchedFiles());

    Put("tests/colour.frag", "test frag");
    Seen seen = ExpectKinds(*watcher, {{"Shaders/Tests/colour.frag", "source changed"}});
    EXPECT_EQ(SourceOf(dir / "tests"), Source(seen, "Shaders/Tests/colour.frag"));
    EXPECT_EQ(1u, seen.at("Shaders/Tests/colour.frag").back().priority);

    // A directory the highest volume does not have yet: made, then a file in it.
    Put("root/Shaders/basic.vert", "root vert");
    seen = ExpectKinds(*watcher, {{"Shaders/basic.vert", "source changed"}});
    EXPECT_EQ(SourceOf(dir / "root"), Source(seen, "Shaders/basic.vert"));

    fs::remove(dir / "tests/colour.frag");
    fs::remove_all(dir / "root/Shaders");
    seen = ExpectKinds(*watcher,
                       {{"Shaders/Tests/colour.frag", "source changed"}, {"Shaders/basic.vert", "source changed"}});
    EXPECT_EQ(SourceOf(archive), Source(seen, "Shaders/Tests/colour.frag"));
    EXPECT_EQ(0u, seen.at("Shaders/basic.vert").back().priority);
}

TEST_P(AssetWatcherTest, SeesDirectoriesMountedAndUnmountedAfterItWasMade)
{
    dir.Write("early/a.txt", "early a");
    library->MountDirectory(qorfile::filepath(dir / "early"), P(""), 0);
    auto watcher = MakeWatcher();

    dir.Write("late/a.txt", "late a");
    dir.Write("late/sub/b.txt", "late b");
    library->MountDirectory(qorfile::filepath(dir / "late"), P(""), 1);
    std::vector<AssetWatcher::Change> changes = watcher->Poll();
    ASSERT_EQ(2u, changes.size());
    EXPECT_EQ("a.txt", changes[0].path.str());
    EXPECT_EQ(AssetWatcher::Change::SourceChanged, changes[0].kind);
    EXPECT_EQ("sub/b.txt", changes[1].path.str());
    EXPECT_EQ(AssetWatcher::Change::Created, changes[1].kind);
    EXPECT_EQ(SourceOf(dir / "late"), changes[1].source.str());

    // The late directory is watched like the others.
    Put("late/sub/b.txt", "late b, changed");
    Seen seen = ExpectKinds(*watcher, {{"sub/b.txt", "modified"}});

    library->Unmount(qorfile::filepath(dir / "late"));
    changes = watcher->Poll();
    ASSERT_EQ(2u, changes.size());
    EXPECT_EQ(AssetWatcher::Change::SourceChanged, changes[0].kind);
    EXPECT_EQ(SourceOf(dir / "early"), changes[0].source.str());
    EXPECT_EQ(AssetWatcher::Change::Removed, changes[1].kind);
}

TEST_P(AssetWatcherTest, AnArchiveChangedOnDiskMayHaveChangedUntilTheHostRemountsIt)
{
    dir.Write("low/pack/a.txt", "low a");
    library->MountDirectory(qorfile::filepath(dir / "low"), P(""), 0);
    const std::string archive =
        dir.Write("assets/pack.zip", MakeArchive({{"a.txt", "one"}, {"b/c.txt", "two"}, {"b/", "", true}}));
    library->MountArchive(qorfile::filepath(archive), P("pack"), 1, std::string());
    auto watcher = MakeWatcher();
    EXPECT_EQ(2u, watcher->WatchedFiles());

    // Replaced by a rename, as a packer writes it: the mounted volume still serves the
    // directory it read, so nothing is guessed.
    Put("assets/pack.zip", MakeArchive({{"a.txt", "one, new"}, {"d.txt", "four"}}));
    Seen seen = ExpectKinds(*watcher, {{"pack/a.txt", "may have changed"}, {"pack/b/c.txt", "may have changed"}});
    EXPECT_FALSE(seen.count("pack/d.txt"));
    EXPECT_TRUE(library->Exists(P("pack/b/c.txt")));

    // The host remounts: now each entry tells its change.
    library->Remount(qorfile::filepath(archive));
    seen = ExpectKinds(*watcher, {{"pack/a.txt", "modified"}, {"pack/b/c.txt", "removed"}, {"pack/d.txt", "created"}});

    // Deleted: its paths go, or fall to the volume below (the archive stays mounted, so the
    // listing is not asked).
    checkAgainstListing = false;
    fs::remove(archive);
    seen = ExpectKinds(*watcher, {{"pack/a.txt", "source changed"}, {"pack/d.txt", "removed"}});
    EXPECT_EQ(SourceOf(dir / "low"), Source(seen, "pack/a.txt"));
    EXPECT_EQ(1u, watcher->WatchedFiles());
}

TEST_P(AssetWatcherTest, RemountingArchivesReportsTheirEntriesOneByOne)
{
    const std::string archive =
        dir.Write("game.zip",
                  MakeArchive({{"Shaders/basic.vert", "v1"}, {"Shaders/keep.frag", "k1"}, {"Shaders/same.frag", "s"}}));
    library->MountArchive(qorfile::filepath(archive), P(""), 0, std::string());
    library->MountDirectory(qorfile::filepath(dir.MakeDir("tests")), P("Shaders"), 1);
    AssetWatcher watcher(library, AssetWatcher::RemountArchives, GetParam(), std::chrono::milliseconds(10));
    watcher.Watch(P(""));
    EXPECT_EQ(3u, watcher.WatchedFiles());

    // Rebuilt and renamed over the old one.
    const std::string rebuilt =
        MakeArchive({{"Shaders/keep.frag", "k2, longer"}, {"Shaders/same.frag", "s"}, {"extra.txt", "e"}});
    log.clear();
    Put("game.zip", rebuilt);
    Seen seen = ExpectKinds(
        watcher, {{"Shaders/basic.vert", "removed"}, {"Shaders/keep.frag", "modified"}, {"extra.txt", "created"}});
    EXPECT_EQ(SourceOf(archive), Source(seen, "extra.txt"));
    EXPECT_FALSE(seen.count("Shaders/same.frag"));
    EXPECT_EQ("e", ReadAsset(library, "extra.txt"));
    EXPECT_EQ(std::vector<std::string>({"Mounting archive: game.zip", "   -> path: " + archive, "   -> target: "}),
              log.texts());

    // Rewritten in place with bytes of the same length: the CRC-32 tells. Overwritten without
    // being cut short first, so that no notice can find the archive empty on the way.
    std::fstream(dir / "game.zip", std::ios_base::in | std::ios_base::out | std::ios_base::binary)
        << MakeArchive({{"Shaders/keep.frag", "k3, longer"}, {"Shaders/same.frag", "s"}, {"extra.txt", "e"}});
    seen = ExpectKinds(watcher, {{"Shaders/keep.frag", "modified"}});
    EXPECT_EQ(1u, seen.size());
    EXPECT_EQ("k3, longer", ReadAsset(library, "Shaders/keep.frag"));

    // Cut short (a packer half way): it serves nothing until it is whole again; the old volume
    // stays mounted meanwhile. Shadowed by the directory, same.frag changes its source.
    checkAgainstListing = false;
    Put("tests/same.frag", "from tests");
    PollFor(watcher, {"Shaders/same.frag"});
    dir.Write("game.zip", rebuilt.substr(0, rebuilt.size() - 10));
    seen = ExpectKinds(watcher, {{"Shaders/keep.frag", "removed"}, {"extra.txt", "removed"}});
    EXPECT_FALSE(seen.count("Shaders/same.frag"));
    EXPECT_EQ(1u, watcher.WatchedFiles());
    checkAgainstListing = true;
    dir.Write("game.zip", rebuilt);
    seen = ExpectKinds(watcher, {{"Shaders/keep.frag", "created"}, {"extra.txt", "created"}});
    EXPECT_EQ("k2, longer", ReadAsset(library, "Shaders/keep.frag"));
}

TEST_P(AssetWatcherTest, NothingBelowAFileOfAHigherVolumeIsWatched)
{
    dir.Write("low/b/x.txt", "low x");
    library->MountDirectory(qorfile::filepath(dir / "low"), P(""), 0);
    library->MountDirectory(qorfile::filepath(dir.MakeDir("high")), P(""), 1);
    auto watcher = MakeWatcher();
    // Children("b") still lists the lower volume's b: what the walk from the root reaches counts.
    checkAgainstListing = false;

    Put("high/b", "high b");
    Seen seen = ExpectKinds(*watcher, {{"b", "created"}, {"b/x.txt", "removed"}});

    // Made and edited below the hidden directory: out of sight, as the listing has it.
    Put("low/b/y.txt", "low y");
    Put("low/b/x.txt", "low x, changed");
    Put("high/c.txt", "c");
    seen = PollFor(*watcher, {"c.txt"});
    EXPECT_FALSE(seen.count("b/x.txt"));
    EXPECT_FALSE(seen.count("b/y.txt"));
    EXPECT_EQ(2u, watcher->WatchedFiles());

    fs::remove(dir / "high/b");
    seen = ExpectKinds(*watcher, {{"b", "removed"}, {"b/x.txt", "created"}, {"b/y.txt", "created"}});
}

TEST_P(AssetWatcherTest, SeesAnArchiveInsideAMountedDirectoryAndTheFilesBesideIt)
{
    // The archive's directory is watched first (at mount), the directory that holds it after.
    dir.Write("data/readme.txt", "readme");
    const std::string archive = dir.Write("data/packs/pack.zip", MakeArchive({{"a.txt", "one"}}));
    library->MountArchive(qorfile::filepath(archive), P("pack"), 0, std::string());
    library->MountDirectory(qorfile::filepath(dir / "data"), P(""), 1);
    auto watcher = MakeWatcher();
    EXPECT_EQ(3u, watcher->WatchedFiles());

    Put("data/packs/pack.zip", MakeArchive({{"a.txt", "two"}}));
    Seen seen = ExpectKinds(*watcher, {{"pack/a.txt", "may have changed"}, {"packs/pack.zip", "modified"}});
    EXPECT_EQ(SourceOf(dir / "data"), Source(seen, "packs/pack.zip"));

    Put("data/packs/new.txt", "new");
    seen = ExpectKinds(*watcher, {{"packs/new.txt", "created"}});
    EXPECT_FALSE(seen.count("pack/a.txt"));
}

TEST_P(AssetWatcherTest, MissesNothingOfTenThousandRapidChanges)
{
    const int count = 10000;
    checkAgainstListing = false;
    dir.Write("data/old.txt", "old");
    dir.MakeDir("data/burst");
    library->MountDirectory(qorfile::filepath(dir / "data"), P(""), 0);
    auto watcher = MakeWatcher();

    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "burst/f%05d.txt", i);
        paths.push_back(name);
        const std::string file = dir / ("data/" + paths.back());
        std::ofstream out(file);
        out << i;
        ASSERT_TRUE(out.good()) << file;
    }
    fs::remove(dir / "data/old.txt");
    paths.push_back("old.txt");
    Seen seen = PollFor(*watcher, paths);

    int created = 0;
    for (int i = 0; i < count; ++i)
        created += Kinds(seen, paths[i]) == "created";
    EXPECT_EQ(count, created);
    EXPECT_EQ("removed", Kinds(seen, "old.txt"));
    EXPECT_EQ(std::size_t(count), watcher->WatchedFiles());

    // Two notices a file (created, written) overflow inotify's default queue of 16384 (and the
    // 64 KiB that ReadDirectoryChangesW keeps): the watched path is then reported as
    // may-have-changed before what the rescan found.
    std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
    long queued = 0;
    if (GetParam() == AssetWatcher::Native && (limit >> queued) && queued < 2 * count) {
        EXPECT_EQ("may have changed", Kinds(seen, "")) << "queue limit " << queued;
    } else if (GetParam() == AssetWatcher::Polling) {
        EXPECT_FALSE(seen.count(""));
    }
}

INSTANTIATE_TEST_SUITE_P(Notification, AssetWatcherTest, ::testing::Values(AssetWatcher::Native, AssetWatcher::Polling),
                         [](const ::testing::TestParamInfo<AssetWatcher::Notification>& p_info) {
                             return std::string(p_info.param == AssetWatcher::Native ? "Native" : "Polling");
                         });

} // namespace
