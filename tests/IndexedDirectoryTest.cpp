// The indexed directory mount against the plain one over the same directory: random creates,
// writes, deletes, renames and folder moves (in, out and within the tree; symbolic links
// where the host makes them), each followed by lookups that must answer alike -- Exists, the
// volume Open chooses, Open's stream and reports, and listings -- and again after the
// notices were made to overflow their queue. Deterministic by seed. The folders moved out
// land in a second indexed mount, and a watcher of the same library polls between the
// lookups: all three share the library's one notifier, so each must hear every change that
// concerns it whoever read the notice first, and an overflow must reach all of them.
#include "TestSupport.h"

#include <Assets/AssetLibrary.h>
#include <Assets/AssetWatcher.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace Qor::Draxel::Assets;
using testing_support::P;
namespace fs = std::filesystem;

namespace {

const char* const Names[] = {"d0", "d1", "f0", "f1", "f2"};

#ifdef _WIN32
constexpr bool Native = false;
#else
constexpr bool Native = true;
#endif

class Differential {
public:
    Differential(unsigned p_seed, const std::string& p_target)
        : _random(p_seed), _root(_scratch.MakeDir("root")), _outside(_scratch.MakeDir("outside")), _target(p_target)
    {
        _plain->MountDirectory(qorfile::filepath(_root), P(_target), 1);
        _indexed->MountDirectory(qorfile::filepath(_root), P(_target), 1, AssetLibrary::DirectoryIndex::Kept);
        _plain->MountDirectory(qorfile::filepath(_outside), P("elsewhere"), 1);
        _indexed->MountDirectory(qorfile::filepath(_outside), P("elsewhere"), 1, AssetLibrary::DirectoryIndex::Kept);
        // Where notices arrive when they arrive, a full rescan at every Poll instead.
        _watcher.reset(new AssetWatcher(_indexed, Native ? AssetWatcher::Native : AssetWatcher::Polling,
                                        std::chrono::milliseconds(0)));
        _watcher->Watch(AssetPath());
        Walk(*_plain, AssetPath(), _known);
    }

    std::string RandomPath()
    {
        std::string path;
        const int depth = 1 + static_cast<int>(_random() % 3);
        for (int i = 0; i < depth; ++i)
            path += (i ? "/" : "") + std::string(Names[_random() % 5]);
        return path;
    }

    fs::path Host(const std::string& p_relative) const { return Host(_root, p_relative); }
    static fs::path Host(const std::string& p_directory, const std::string& p_relative)
    {
        return fs::u8path(p_directory + "/" + p_relative);
    }

    // One random change of the tree; failures (a rename onto a full folder, say) are changes
    // that did not happen, on both sides alike.
    std::string Change()
    {
        std::error_code error;
        const std::string path = RandomPath();
        switch (_random() % 9) {
        case 0:
        case 1: {
            fs::create_directories(Host(path).parent_path(), error);
            std::ofstream(Host(path), std::ios_base::binary) << "bytes of " << path << " " << _random();
            return "write " + path;
        }
        case 2:
            fs::create_directories(Host(path), error);
            return "mkdir " + path;
        case 3:
            fs::remove_all(Host(path), error);
            return "remove " + path;
        case 4:
        case 5: {
            const std::string to = RandomPath();
            fs::rename(Host(path), Host(to), error);
            return "rename " + path + " " + to;
        }
        case 6:
            fs::remove_all(fs::u8path(_outside + "/moved"), error);
            fs::rename(Host(path), fs::u8path(_outside + "/moved"), error);
            return "move out " + path;
        case 7:
            fs::rename(fs::u8path(_outside + "/moved"), Host(path), error);
            return "move in " + path;
        default:
#ifndef _WIN32
            fs::create_symlink(Names[_random() % 5], Host(path), error);
            return "link " + path;
#else
            return "nothing";
#endif
        }
    }

    std::string Asked(const std::string& p_relative) const
    {
        return _target.empty() ? p_relative : p_relative.empty() ? _target : _target + "/" + p_relative;
    }

    static std::string Opened(const AssetLibrary& p_library, const AssetPath& p_path, Volume::OpenMode p_mode)
    {
        testing_support::EnsureRecorder reports;
        boost::shared_ptr<std::istream> stream = p_library.Open(p_path, p_mode);
        std::ostringstream told;
        told << reports.messages().size() << (stream ? stream->good() ? " good " : " failed " : " none ");
        if (stream && stream->good())
            told << testing_support::ReadAll(*stream);
        return told.str();
    }

    static std::string Listed(const AssetLibrary& p_library, const AssetPath& p_path)
    {
        std::string told;
        for (const AssetLibrary::Child& child : p_library.Children(p_path))
            told += child.name + (child.isDirectory ? "/ " : " ");
        return told;
    }

    // The files of the tree, each with its source, as a listing gives them.
    static void Walk(const AssetLibrary& p_library, const AssetPath& p_directory,
                     std::map<std::string, std::string>& p_files)
    {
        for (const AssetLibrary::Child& child : p_library.Children(p_directory)) {
            if (child.isDirectory)
                Walk(p_library, child.path, p_files);
            else
                p_files[child.path.str()] = child.source.str();
        }
    }

    // The watcher's reports applied to the files known before must give the files there are
    // now. Returns whether it reported lost notices.
    bool Poll()
    {
        bool lost = false;
        for (const AssetWatcher::Change& change : _watcher->Poll()) {
            if (change.kind == AssetWatcher::Change::MayHaveChanged) {
                lost = true;
                for (auto file = _known.begin(); file != _known.end();)
                    file = change.path.IsParentOf(AssetPath(file->first)) ? _known.erase(file) : std::next(file);
                Walk(*_indexed, change.path, _known);
            } else if (change.kind == AssetWatcher::Change::Removed) {
                _known.erase(change.path.str());
            } else {
                _known[change.path.str()] = change.source.str();
            }
        }
        std::map<std::string, std::string> files, known;
        Walk(*_plain, AssetPath(), files);
        for (auto file = files.begin(); file != files.end();)
            file = ThroughALink(file->first) ? files.erase(file) : std::next(file);
        for (const auto& file : _known)
            if (!ThroughALink(file.first))
                known.insert(file);
        EXPECT_EQ(files, known) << "the watcher's reports";
        return lost;
    }

    // Whether a symbolic link stands on the way to the file at p_path: its target changes
    // without a notice about the link, and the watcher does not follow it there.
    bool ThroughALink(const std::string& p_path) const
    {
        const bool outside = p_path.compare(0, 10, "elsewhere/") == 0;
        const std::string host = outside ? _outside : _root;
        const std::string rest = outside           ? p_path.substr(10)
                                 : _target.empty() ? p_path
                                                   : p_path.substr(_target.size() + 1);
        for (std::size_t slash = 0; slash != std::string::npos;) {
            slash = rest.find('/', slash + 1);
            std::error_code error;
            if (fs::is_symlink(fs::symlink_status(Host(host, rest.substr(0, slash)), error)))
                return true;
        }
        return false;
    }

    void Compare(const std::string& p_relative)
    {
        CompareAt(Asked(p_relative));
    }

    void CompareAt(const std::string& p_asked)
    {
        SCOPED_TRACE("asked " + p_asked);
        const AssetPath path = P(p_asked);
        ASSERT_EQ(_plain->Exists(path), _indexed->Exists(path));
        const AssetLibrary::Location plain = _plain->Locate(path), indexed = _indexed->Locate(path);
        ASSERT_EQ(plain.kind, indexed.kind);
        ASSERT_EQ(plain.hostPath, indexed.hostPath);
        if (plain.kind == AssetLibrary::Location::File || _random() % 4 == 0) {
            const Volume::OpenMode mode = _random() % 2 ? Volume::Binary : Volume::Text;
            ASSERT_EQ(Opened(*_plain, path, mode), Opened(*_indexed, path, mode));
        }
        if (plain.kind == AssetLibrary::Location::Directory || _random() % 4 == 0) {
            ASSERT_EQ(Listed(*_plain, path), Listed(*_indexed, path));
        }
    }

    void CompareSome()
    {
        static const char* const Odd[] = {"", "d0/./f0", "d0//f0", "./d0", "../root/d0", "d0/../d0", "d0/"};
        Compare(Odd[_random() % 7]);
        for (int i = 0; i < 12; ++i)
            Compare(RandomPath());
        for (int i = 0; i < 3; ++i)
            CompareAt("elsewhere/moved/" + RandomPath());
    }

    // Touches two files by turns until the queue of notices overflows (inotify merges only
    // notices in a row that are alike). Where there is no inotify the disk answers anyway.
    // False when it did not flood the queue.
    bool Overflow()
    {
        long limit = 0;
        std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
        if (!Native || limit <= 0 || limit > 100000)
            return false;
        const std::string first = _scratch.Write("root/touched0", "0"), second = _scratch.Write("root/touched1", "1");
        const fs::file_time_type now = fs::last_write_time(fs::u8path(first));
        for (long i = 0; i <= limit + 100; ++i)
            fs::last_write_time(fs::u8path(i % 2 ? first : second), now + std::chrono::seconds(i));
        return true;
    }

    std::mt19937 _random;
    testing_support::ScratchDir _scratch;
    const std::string _root, _outside, _target;
    boost::shared_ptr<AssetLibrary> _plain = AssetLibrary::Create(), _indexed = AssetLibrary::Create();
    std::unique_ptr<AssetWatcher> _watcher;
    std::map<std::string, std::string> _known; // the files as the watcher's reports tell them
};

class IndexedDirectoryTest : public ::testing::TestWithParam<const char*> {};

TEST_P(IndexedDirectoryTest, AnswersAsTheDiskUnderRandomChanges)
{
    // One seed where the disk answers anyway (and every change is slow, under Wine).
    for (unsigned seed = 1; seed <= (Native ? 3u : 1u); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Differential run(seed, GetParam());
        for (int step = 0; step < 300; ++step) {
            const std::string change = run.Change();
            SCOPED_TRACE("step " + std::to_string(step) + ": " + change);
            if (step % 3 == 0)
                continue; // changes in a row between lookups too
            // The watcher reads the notices first, or the indexes' lookups do before it.
            if (step % 3 == 1) {
                ASSERT_NO_FATAL_FAILURE(run.Poll());
            }
            ASSERT_NO_FATAL_FAILURE(run.CompareSome());
            if (step % 5 == 0) {
                ASSERT_NO_FATAL_FAILURE(run.Poll());
            }
            if (step == 151) {
                // The changes after the flood are lost with the notices that did not fit: the
                // first lookup reads the overflow, and the other index and the watcher must
                // hear of it too.
                const bool flooded = run.Overflow();
                for (int lost = 0; lost < 10; ++lost)
                    run.Change();
                run._scratch.Write("outside/lost.txt", "lost");
                ASSERT_NO_FATAL_FAILURE(run.Compare("touched1"));
                ASSERT_NO_FATAL_FAILURE(run.CompareAt("elsewhere/lost.txt"));
                ASSERT_NO_FATAL_FAILURE(run.CompareAt("elsewhere"));
                const bool lost = run.Poll();
                EXPECT_EQ(flooded, lost) << "the watcher's report of lost notices";
                for (int round = 0; round < 4; ++round)
                    ASSERT_NO_FATAL_FAILURE(run.CompareSome());
            }
        }
    }
}

#ifdef __linux__
// The inotify descriptors this process holds.
int InotifyDescriptors()
{
    int count = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd", error)) {
        std::error_code unreadable;
        count += fs::read_symlink(entry.path(), unreadable).string() == "anon_inode:inotify";
    }
    return count;
}

// A library's kept mounts and native watchers share one descriptor, opened by the first of
// them and closed with the last; another library has its own; a polling watcher none.
TEST(IndexedDirectoryNotifier, OneInotifyDescriptorPerLibrary)
{
    testing_support::ScratchDir scratch;
    const qorfile::filepath first(scratch.MakeDir("first")), second(scratch.MakeDir("second"));
    scratch.Write("first/a/f.txt", "f");
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create(), other = AssetLibrary::Create();
    std::unique_ptr<AssetWatcher> native, polling;
    const int before = InotifyDescriptors();
    const struct {
        const char* step;
        std::function<void()> run;
        int descriptors; // beyond those before
    } steps[] = {
        {"a plain mount", [&] { library->MountDirectory(second, P("live"), 0); }, 0},
        {"a polling watcher",
         [&] { (polling = std::make_unique<AssetWatcher>(library, AssetWatcher::Polling))->Watch(P("")); }, 0},
        {"a kept mount", [&] { library->MountDirectory(first, P("one"), 0, AssetLibrary::DirectoryIndex::Kept); }, 1},
        {"another kept mount",
         [&] {
             library->Unmount(second);
             library->MountDirectory(second, P("two"), 0, AssetLibrary::DirectoryIndex::Kept);
         },
         1},
        {"a native watcher", [&] { (native = std::make_unique<AssetWatcher>(library))->Watch(P("")); }, 1},
        {"lookups and polls",
         [&] {
             library->Exists(P("one/a/f.txt"));
             native->Poll();
             library->Exists(P("two/x"));
         },
         1},
        {"a kept mount of another library",
         [&] { other->MountDirectory(first, AssetPath(), 0, AssetLibrary::DirectoryIndex::Kept); }, 2},
        {"the kept mounts unmounted",
         [&] {
             library->Unmount(first);
             library->Unmount(second);
         },
         2},
        {"the native watcher gone", [&] { native.reset(); }, 1},
        {"the other library gone", [&] { other.reset(); }, 0},
    };
    for (const auto& step : steps) {
        step.run();
        EXPECT_EQ(before + step.descriptors, InotifyDescriptors()) << "after " << step.step;
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(MountPoints, IndexedDirectoryTest, ::testing::Values("", "game/data"),
                         [](const ::testing::TestParamInfo<const char*>& p_info) {
                             return std::string(*p_info.param ? "BelowRoot" : "AtRoot");
                         });

} // namespace

namespace {

// Exists and what Locate finds (kind and host path), the plain mount's against the kept
// index's, for each path.
void ExpectAlike(const AssetLibrary& p_plain, const AssetLibrary& p_indexed, const std::vector<std::string>& p_paths)
{
    for (const std::string& text : p_paths) {
        SCOPED_TRACE("asked " + text);
        const AssetPath path = P(text);
        EXPECT_EQ(p_plain.Exists(path), p_indexed.Exists(path));
        const AssetLibrary::Location plain = p_plain.Locate(path), indexed = p_indexed.Locate(path);
        EXPECT_EQ(plain.kind, indexed.kind);
        EXPECT_EQ(plain.hostPath, indexed.hostPath);
    }
}

struct Mounts {
    explicit Mounts(const std::string& p_target)
    {
        root = scratch.MakeDir("root");
        scratch.Write("root/real/f", "bytes");
        plain->MountDirectory(qorfile::filepath(root), P(p_target), 1);
        indexed->MountDirectory(qorfile::filepath(root), P(p_target), 1, AssetLibrary::DirectoryIndex::Kept);
    }

    testing_support::ScratchDir scratch;
    std::string root;
    boost::shared_ptr<AssetLibrary> plain = AssetLibrary::Create(), indexed = AssetLibrary::Create();
};

} // namespace

// The host path of a file the index finds is the one the plain mount resolves, for paths with
// leading, doubled and trailing slashes, at the root and below a mount point.
TEST(IndexedDirectoryCases, HostPathsAreThePlainMountsOwn)
{
    for (const std::string target : {"", "game", "game/data"}) {
        SCOPED_TRACE("mounted at '" + target + "'");
        Mounts mounts(target);
        const std::string at = target.empty() ? "" : target + "/";
        ExpectAlike(*mounts.plain, *mounts.indexed,
                    {at + "real/f", at + "real", at + "real/f/", at + "/real/f", at + "//real/f", at + "real//f",
                     at + "real/./f", at + "real/g", target});
    }
}

// A path below an entry the index leaves to the disk (a symbolic link to a folder) is the
// disk's to answer, whatever else comes and goes; once the last such entry goes, a path the
// index lacks is absent.
TEST(IndexedDirectoryCases, PathsBelowALinkAskTheDiskWhileTheLinkStands)
{
    if (!Native)
        GTEST_SKIP() << "no symbolic links to make here";
    Mounts mounts("");
    const std::vector<std::string> asked = {"link/f", "link/g", "link", "real/f", "real/g", "other/f"};
    ExpectAlike(*mounts.plain, *mounts.indexed, asked);
    fs::create_directory_symlink("real", fs::u8path(mounts.root + "/link"));
    EXPECT_TRUE(mounts.indexed->Exists(P("link/f")));
    ExpectAlike(*mounts.plain, *mounts.indexed, asked);
    // Another entry coming and going leaves the link to the disk.
    mounts.scratch.Write("root/other/f", "more");
    fs::remove_all(fs::u8path(mounts.root + "/other"));
    EXPECT_TRUE(mounts.indexed->Exists(P("link/f")));
    ExpectAlike(*mounts.plain, *mounts.indexed, asked);
    // The link replaced by a folder of its own, then gone.
    fs::remove(fs::u8path(mounts.root + "/link"));
    mounts.scratch.Write("root/link/g", "own");
    EXPECT_FALSE(mounts.indexed->Exists(P("link/f")));
    EXPECT_TRUE(mounts.indexed->Exists(P("link/g")));
    ExpectAlike(*mounts.plain, *mounts.indexed, asked);
    fs::remove_all(fs::u8path(mounts.root + "/link"));
    EXPECT_FALSE(mounts.indexed->Exists(P("link/g")));
    ExpectAlike(*mounts.plain, *mounts.indexed, asked);
}
