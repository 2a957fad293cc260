// Volumes, the mount table and their streams used from several threads at once: each thread
// opens and reads the same entries of one archive volume (on disk and in memory) and of one
// library, while streams made by one thread are read by another and outlive what made them;
// kept directory indexes asked while a watcher of their library polls.
// Run under ThreadSanitizer in CI (tests/threads).
#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>
#include <Assets/AssetWatcher.h>
#include <Assets/FileSystemVolume.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

const std::string Key32 = "0123456789abcdef0123456789ABCDEF";

std::vector<ArchiveItem> Items()
{
    std::vector<ArchiveItem> items = {{"shaders/", "", true}};
    for (int i = 0; i < 8; ++i)
        items.push_back(
            {"shaders/s" + std::to_string(i) + ".vert", std::string(1000 + 37 * i, 'a' + i) + "\r\nend\r\n"});
    return items;
}

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::vector<ArchiveItem> items = Items();
        plainPath = dir.Write("pack/plain.zip", MakeArchive(items));
        scrambledPath = dir.Write("pack/scrambled.dat", MakeArchive(items, Key32, true));
        dir.Write("loose/extra/readme.txt", "loose\r\nfile\r\n");
    }

    static std::string Expected(int p_index, Volume::OpenMode p_mode)
    {
        const std::string crlf = p_mode == Volume::Text ? "\n" : "\r\n";
        return std::string(1000 + 37 * p_index, 'a' + p_index) + crlf + "end" + crlf;
    }

    ScratchDir dir;
    std::string plainPath;
    std::string scrambledPath;
};

// p_work(thread, round) in p_threads threads; counts the failures it returns.
template <class Work>
int RunThreads(int p_threads, int p_rounds, const Work& p_work)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < p_threads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < p_rounds; ++round)
                if (!p_work(t, round))
                    ++failures;
        });
    for (std::thread& thread : threads)
        thread.join();
    return failures.load();
}

TEST_F(ThreadTest, ThreadsOpenAndReadTheSameVolumes)
{
    boost::shared_ptr<Volume> plain = ArchiveVolume::Open(qorfile::filepath(plainPath), std::string());
    boost::shared_ptr<Volume> scrambled = ArchiveVolume::Open(qorfile::filepath(scrambledPath), std::string());
    boost::shared_ptr<Volume> directory = boost::make_shared<FileSystemVolume>(AssetPath(dir / "pack"), AssetPath(), 0);
    boost::shared_ptr<Volume> inner = ArchiveVolume::Open(*directory, AssetPath("scrambled.dat"), std::string());
    const std::vector<boost::shared_ptr<Volume>> volumes = {plain, scrambled, inner};

    const int failures = RunThreads(4, 40, [&](int p_thread, int p_round) {
        const int index = (p_thread + p_round) % 8;
        const Volume::OpenMode mode = p_round % 2 ? Volume::Text : Volume::Binary;
        const Volume& volume = *volumes[static_cast<std::size_t>(p_round % 3)];
        const AssetPath path("shaders/s" + std::to_string(index) + ".vert");
        boost::shared_ptr<std::istream> stream = volume.Open(path, mode);
        return volume.Exists(AssetPath("shaders")) && stream && ReadAll(*stream) == Expected(index, mode);
    });
    EXPECT_EQ(failures, 0);
}

TEST_F(ThreadTest, ThreadsUseOneLibraryAndItsViews)
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    library->MountArchive(qorfile::filepath(plainPath), AssetPath("plain"), 1, std::string());
    library->MountArchive(qorfile::filepath(scrambledPath), AssetPath("scrambled"), 2, std::string());
    library->MountDirectory(qorfile::filepath(dir / "loose"), AssetPath("loose"), 0);
    boost::shared_ptr<Volume> view = library->RelativeTo(AssetPath("scrambled/shaders"));

    const int failures = RunThreads(4, 40, [&](int p_thread, int p_round) {
        const int index = (p_thread * 3 + p_round) % 8;
        const Volume::OpenMode mode = p_round % 2 ? Volume::Text : Volume::Binary;
        const std::string name = "s" + std::to_string(index) + ".vert";
        boost::shared_ptr<std::istream> a = library->Open(AssetPath("plain/shaders/" + name), mode);
        boost::shared_ptr<std::istream> b = view->Open(AssetPath(name), mode);
        boost::shared_ptr<std::istream> c = library->Open(AssetPath("loose/extra/readme.txt"), Volume::Text);
        return library->Exists(AssetPath("scrambled/shaders")) && a && b && c && ReadAll(*a) == Expected(index, mode) &&
               ReadAll(*b) == Expected(index, mode) && ReadAll(*c) == "loose\nfile\n";
    });
    EXPECT_EQ(failures, 0);
}

TEST_F(ThreadTest, StreamsOutliveTheirLibraryAndAreReadElsewhere)
{
    std::vector<boost::shared_ptr<std::istream>> streams;
    {
        boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
        library->MountArchive(qorfile::filepath(scrambledPath), AssetPath(), 0, std::string());
        // Made in four threads at once; the library goes before any of them is read.
        std::vector<boost::shared_ptr<std::istream>> made(8);
        RunThreads(4, 2, [&](int p_thread, int p_round) {
            const int index = p_thread * 2 + p_round;
            made[static_cast<std::size_t>(index)] =
                library->Open(AssetPath("shaders/s" + std::to_string(index) + ".vert"), Volume::Binary);
            return true;
        });
        streams = made;
    }
    const int failures = RunThreads(8, 1, [&](int p_thread, int) {
        const boost::shared_ptr<std::istream>& stream = streams[static_cast<std::size_t>(p_thread)];
        return stream && ReadAll(*stream) == Expected(p_thread, Volume::Binary);
    });
    EXPECT_EQ(failures, 0);
}

// A kept index is brought up to date by whichever thread asks first: four threads ask while
// one of them changes the directory and polls a watcher; what stays put keeps its answers.
// The two kept mounts and the watcher share the library's notifier, each reading it from
// whichever thread asks; the watcher's reports end where the disk does.
TEST_F(ThreadTest, ThreadsAskAnIndexedDirectoryWhileItChanges)
{
    dir.Write("other/still.txt", "still");
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    library->MountDirectory(qorfile::filepath(dir / "loose"), AssetPath(), 0, AssetLibrary::DirectoryIndex::Kept);
    library->MountDirectory(qorfile::filepath(dir / "other"), AssetPath("other"), 0,
                            AssetLibrary::DirectoryIndex::Kept);
#ifdef _WIN32
    // Notices arrive when they arrive there: a full rescan at every Poll instead.
    AssetWatcher watcher(library, AssetWatcher::Polling, std::chrono::milliseconds(0));
#else
    AssetWatcher watcher(library);
#endif
    watcher.Watch(AssetPath("churn"));
    std::set<std::string> reported;
    const auto poll = [&] {
        for (const AssetWatcher::Change& change : watcher.Poll())
            if (change.kind == AssetWatcher::Change::Removed)
                reported.erase(change.path.str());
            else
                reported.insert(change.path.str());
    };
    const int failures = RunThreads(4, 40, [&](int p_thread, int p_round) {
        if (p_thread == 0) {
            const std::string name = "churn/" + std::to_string(p_round % 5) + "/file.txt";
            if (p_round % 2)
                dir.Write("loose/" + name, "x");
            else
                std::remove((dir / ("loose/" + name)).c_str());
            poll();
        }
        library->Exists(AssetPath("churn/" + std::to_string(p_round % 5) + "/file.txt"));
        library->Children(AssetPath("churn"));
        boost::shared_ptr<std::istream> stream = library->Open(AssetPath("extra/readme.txt"), Volume::Text);
        return library->Exists(AssetPath("extra")) && stream && ReadAll(*stream) == "loose\nfile\n" &&
               library->Children(AssetPath("extra")).size() == 1 && library->Exists(AssetPath("other/still.txt"));
    });
    EXPECT_EQ(failures, 0);
    poll();
    std::set<std::string> present;
    for (int i = 0; i < 5; ++i)
        if (library->Exists(AssetPath("churn/" + std::to_string(i) + "/file.txt")))
            present.insert("churn/" + std::to_string(i) + "/file.txt");
    EXPECT_EQ(present, reported);
}

} // namespace
