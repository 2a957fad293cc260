// The watcher against a library built afresh: random sequences of mounts, unmounts, archives
// rebuilt (renamed over, or rewritten in place) and deleted, and files created, edited and
// deleted in mounted directories, each followed by Poll. After every step the watcher's
// reports, applied to the answers known before, must equal what a library built afresh from
// the same sources answers for every file (its source, priority and bytes), and the watched
// library, which remounts changed archives, must serve the same bytes. With the directories
// mounted with kept indexes, the indexes and the watcher share the library's notifier, and
// every other step the whole tree is listed before Poll, so that the indexes read the
// notices first: the watcher must still hear of every change.
#include "ArchiveBuilders.h"
#include "RandomLibrary.h"
#include "TestSupport.h"

#include <Assets/AssetWatcher.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <tuple>

using namespace Qor::Draxel::Assets;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// What the tree answers for one file.
struct Answer {
    std::string source;
    unsigned int priority;
    std::string bytes;

    bool operator==(const Answer& p_other) const
    {
        return source == p_other.source && priority == p_other.priority && bytes == p_other.bytes;
    }
};
using Answers = std::map<std::string, Answer>;

std::ostream& operator<<(std::ostream& p_out, const Answers& p_answers)
{
    for (const auto& file : p_answers)
        p_out << "\n  " << file.first << " <- " << file.second.source << " (" << file.second.priority << "): \""
              << file.second.bytes << "\"";
    return p_out;
}

std::string Bytes(const AssetLibrary& p_library, const AssetPath& p_path)
{
    boost::shared_ptr<std::istream> stream = p_library.Open(p_path, Volume::Binary);
    return stream ? ReadAll(*stream) : "<no stream>";
}

void Walk(const AssetLibrary& p_library, const AssetPath& p_directory, Answers& p_into)
{
    for (const AssetLibrary::Child& child : p_library.Children(p_directory)) {
        if (child.isDirectory)
            Walk(p_library, child.path, p_into);
        else
            p_into[child.path.str()] = Answer{child.source.str(), child.priority, Bytes(p_library, child.path)};
    }
}

// Lists the whole tree (and opens nothing: an archive changed on disk is remounted by Poll).
void ListAll(const AssetLibrary& p_library, const AssetPath& p_directory)
{
    for (const AssetLibrary::Child& child : p_library.Children(p_directory))
        if (child.isDirectory)
            ListAll(p_library, child.path);
}

// One source the sequence may mount: a directory or an archive file of the scratch directory.
struct Source {
    std::string host;
    bool isArchive;
    bool mounted = false;
    AssetPath target;
    unsigned int priority = 0;
};

class WatchDifferentialTest
    : public ::testing::TestWithParam<std::tuple<AssetWatcher::Notification, AssetLibrary::DirectoryIndex>> {
protected:
    std::string RandomPath() { return testing_support::RandomPath(random, 1, 3); }

    std::string RandomArchive()
    {
        std::vector<ArchiveItem> items;
        std::set<std::string> names;
        const int count = std::uniform_int_distribution<int>(0, 5)(random);
        for (int i = 0; i < count; ++i) {
            const std::string path = RandomPath();
            if (names.insert(path).second)
                items.push_back(ArchiveItem{path, "entry " + std::to_string(random() % 4), false});
        }
        return MakeArchive(items);
    }

    // The archive's new bytes, in place or renamed over it. In place, a rewrite of the same
    // length could look unchanged to a rescan within one tick of the file system's clock: the
    // length is made to differ.
    void RebuildArchive(Source& p_archive, bool p_inPlace)
    {
        std::string bytes = RandomArchive();
        std::error_code error;
        const auto before = fs::file_size(fs::u8path(p_archive.host), error);
        if (!error && bytes.size() == before)
            bytes = MakeArchive({{"padding", "x"}});
        if (p_inPlace) {
            WriteFile(p_archive.host, bytes);
        } else {
            WriteFile(p_archive.host + ".new", bytes);
            fs::rename(fs::u8path(p_archive.host + ".new"), fs::u8path(p_archive.host));
        }
    }

    static void WriteFile(const std::string& p_host, const std::string& p_bytes)
    {
        std::ofstream out(fs::u8path(p_host), std::ios_base::binary | std::ios_base::trunc);
        out << p_bytes;
    }

    // A file created, edited (made longer) or deleted in one of the directories.
    void ChangeFile(const Source& p_directory)
    {
        const fs::path file = fs::u8path(p_directory.host + "/" + RandomPath());
        std::error_code error;
        if (fs::is_regular_file(file, error)) {
            if (random() % 2) {
                fs::remove(file, error);
            } else {
                std::ofstream(file, std::ios_base::binary | std::ios_base::app) << "+";
            }
            return;
        }
        fs::create_directories(file.parent_path(), error);
        if (!error && !fs::exists(file, error))
            std::ofstream(file, std::ios_base::binary) << "file " << random() % 4;
    }

    void Step()
    {
        Source& source = sources[random() % sources.size()];
        const bool present = fs::exists(fs::u8path(source.host));
        switch (random() % 6) {
        case 0: // mount
            if (source.mounted || !present)
                return ChangeSomething();
            source.mounted = true;
            source.target = AssetPath(std::string(targets[random() % 4]));
            source.priority = random() % 3;
            if (source.isArchive)
                library->MountArchive(qorfile::filepath(source.host), source.target, source.priority, std::string());
            else
                library->MountDirectory(qorfile::filepath(source.host), source.target, source.priority,
                                        std::get<1>(GetParam()));
            return;
        case 1: // unmount
            if (!source.mounted)
                return ChangeSomething();
            source.mounted = false;
            library->Unmount(qorfile::filepath(source.host));
            return;
        default:
            return ChangeSomething();
        }
    }

    void ChangeSomething()
    {
        Source& source = sources[random() % sources.size()];
        if (!source.isArchive)
            return ChangeFile(source);
        switch (random() % 3) {
        case 0:
            return RebuildArchive(source, false);
        case 1:
            return RebuildArchive(source, true);
        default:
            fs::remove(fs::u8path(source.host));
            return;
        }
    }

    // What a library built now from the mounted sources that are on disk answers.
    Answers Fresh() const
    {
        const boost::shared_ptr<AssetLibrary> fresh = AssetLibrary::Create();
        for (const Source& source : sources) {
            if (!source.mounted || !fs::exists(fs::u8path(source.host)))
                continue;
            if (source.isArchive)
                fresh->MountArchive(qorfile::filepath(source.host), source.target, source.priority, std::string());
            else
                fresh->MountDirectory(qorfile::filepath(source.host), source.target, source.priority);
        }
        Answers answers;
        Walk(*fresh, AssetPath(), answers);
        return answers;
    }

    void Apply(const std::vector<AssetWatcher::Change>& p_changes)
    {
        for (const AssetWatcher::Change& change : p_changes) {
            const std::string path = change.path.str();
            switch (change.kind) {
            case AssetWatcher::Change::Removed:
                known.erase(path);
                break;
            case AssetWatcher::Change::MayHaveChanged: {
                // Lost notices: what lies below is asked again.
                for (auto file = known.begin(); file != known.end();)
                    file = change.path.IsParentOf(AssetPath(file->first)) ? known.erase(file) : std::next(file);
                Answers below;
                Walk(*library, change.path, below);
                known.insert(below.begin(), below.end());
                break;
            }
            default:
                known[path] = Answer{change.source.str(), change.priority, Bytes(*library, change.path)};
            }
        }
    }

    std::mt19937 random;
    ScratchDir dir;
    LogCapture log;
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    std::vector<Source> sources;
    Answers known;
    const char* targets[4] = {"", "a", "b", "a/b"};
};

TEST_P(WatchDifferentialTest, ReportsAppliedToTheLastAnswersEqualAFreshLibrary)
{
    for (unsigned seed = 1; seed <= 4; ++seed) {
        random.seed(seed);
        library = AssetLibrary::Create();
        sources.clear();
        for (int i = 0; i < 3; ++i)
            sources.push_back(
                Source{dir.MakeDir("s" + std::to_string(seed) + "/d" + std::to_string(i)), false, false, {}, 0});
        for (int i = 0; i < 2; ++i) {
            sources.push_back(
                Source{dir / ("s" + std::to_string(seed) + "/p" + std::to_string(i) + ".zip"), true, false, {}, 0});
            RebuildArchive(sources.back(), true);
        }
        AssetWatcher watcher(library, AssetWatcher::RemountArchives, std::get<0>(GetParam()),
                             std::chrono::milliseconds(0));
        watcher.Watch(AssetPath());
        known = Fresh();

        for (int step = 0; step < 40; ++step) {
            Step();
            if (step % 2)
                ListAll(*library, AssetPath());
            const Answers expected = Fresh();
            // Native notices may come a little later on some systems: polled until they agree,
            // for at most a few seconds (a missed change never does).
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            do {
                Apply(watcher.Poll());
            } while (known != expected && std::chrono::steady_clock::now() < deadline &&
                     (std::this_thread::sleep_for(std::chrono::milliseconds(2)), true));
            ASSERT_TRUE(expected == known)
                << "seed " << seed << ", step " << step << "\nexpected:" << expected << "\nreported:" << known;
            for (const auto& file : expected) {
                if (library->Locate(AssetPath(file.first)).source.str() == file.second.source) {
                    ASSERT_EQ(file.second.bytes, Bytes(*library, AssetPath(file.first))) << file.first;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Notification, WatchDifferentialTest,
                         ::testing::Combine(::testing::Values(AssetWatcher::Native, AssetWatcher::Polling),
                                            ::testing::Values(AssetLibrary::DirectoryIndex::Live,
                                                              AssetLibrary::DirectoryIndex::Kept)),
                         [](const ::testing::TestParamInfo<WatchDifferentialTest::ParamType>& p_info) {
                             return std::string(std::get<0>(p_info.param) == AssetWatcher::Native ? "Native"
                                                                                                  : "Polling") +
                                    (std::get<1>(p_info.param) == AssetLibrary::DirectoryIndex::Kept ? "Kept" : "");
                         });

} // namespace
