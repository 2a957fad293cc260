// The mount table's one lookup against the search order walked literally, volume by volume,
// over random libraries of directories and archives: Exists, Open, Locate and the winners of
// Children agree with the walk. And the cut below a mount point on texts against RelativeTo.
#include "ArchiveBuilders.h"
#include "PathText.h"
#include "RandomLibrary.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>
#include <Assets/FileSystemVolume.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

using namespace Qor::Draxel::Assets;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Every path of up to p_depth components over the alphabet, the root included.
std::vector<std::string> AllPaths(int p_depth)
{
    std::vector<std::string> paths{""};
    std::vector<std::string> level{""};
    for (int depth = 0; depth < p_depth; ++depth) {
        std::vector<std::string> next;
        for (const std::string& path : level)
            for (const char* name : {"a", "b", "c.txt"})
                next.push_back(path.empty() ? name : path + "/" + name);
        paths.insert(paths.end(), next.begin(), next.end());
        level = next;
    }
    return paths;
}

// One volume as the walk sees it: made apart from the library, with the same parameters.
struct Literal {
    AssetPath source;
    AssetPath target;
    unsigned int priority;
    bool isArchive;
    std::shared_ptr<AssetVolume> volume;
    // The paths inside the volume that hold a file's bytes.
    std::set<std::string> files;
};

class LookupTest : public ::testing::TestWithParam<unsigned> {
protected:
    // Mounts 1 to 5 random volumes into the library and into the walk.
    void BuildRandomLibrary(std::mt19937& p_random)
    {
        const int count = std::uniform_int_distribution<int>(1, 5)(p_random);
        for (int v = 0; v < count; ++v) {
            const std::string name = "v" + std::to_string(p_random() % 100) + "-" + std::to_string(v);
            const AssetPath target(RandomPath(p_random, 0, 2));
            const unsigned int priority = p_random() % 3;
            Literal literal{AssetPath(qorfile::filepath(dir / name)), target, priority, (p_random() % 2) == 0, {}, {}};
            const int files = std::uniform_int_distribution<int>(0, 6)(p_random);
            if (literal.isArchive) {
                std::vector<ArchiveItem> items;
                for (int f = 0; f < files; ++f) {
                    const std::string path = RandomPath(p_random, 1, 3);
                    if (literal.files.count(path))
                        continue;
                    if (p_random() % 5 == 0) {
                        items.push_back(ArchiveItem{path + "/", "", true});
                        continue;
                    }
                    literal.files.insert(path);
                    items.push_back(ArchiveItem{path, name + ":" + path, false});
                }
                dir.Write(name + ".zip", MakeArchive(items));
                literal.source = AssetPath(qorfile::filepath(dir / (name + ".zip")));
                library->MountArchive(qorfile::filepath(dir / (name + ".zip")), target, priority, std::string());
                literal.volume = std::make_shared<ArchiveVolume>(literal.source, target, priority, std::string());
            } else {
                dir.MakeDir(name);
                for (int f = 0; f < files; ++f) {
                    const std::string path = RandomPath(p_random, 1, 3);
                    std::error_code error;
                    const fs::path host = fs::u8path(dir / (name + "/" + path));
                    // A file where a directory is wanted (or the other way round) is skipped.
                    fs::create_directories(host.parent_path(), error);
                    if (error || fs::exists(host))
                        continue;
                    dir.Write(name + "/" + path, name + ":" + path);
                    literal.files.insert(path);
                }
                library->MountDirectory(qorfile::filepath(dir / name), target, priority);
                literal.volume = std::make_shared<FileSystemVolume>(literal.source, target, priority);
            }
            walk.push_back(literal);
        }
        std::stable_sort(walk.begin(), walk.end(), [](const Literal& p_a, const Literal& p_b) {
            return p_a.priority != p_b.priority ? p_a.priority > p_b.priority : p_a.source < p_b.source;
        });
    }

    bool WalkExists(const AssetPath& p_path) const
    {
        for (const Literal& volume : walk) {
            if (p_path.IsParentOf(volume.target))
                return true;
            if (volume.target.IsParentOf(p_path) && volume.volume->Exists(p_path))
                return true;
        }
        return false;
    }

    // The volume Open asks, or null.
    const Literal* WalkOpen(const AssetPath& p_path) const
    {
        for (const Literal& volume : walk)
            if (volume.target.IsParentOf(p_path) && volume.volume->Exists(p_path))
                return &volume;
        return nullptr;
    }

    // The first volume that makes the path exist, or null.
    const Literal* WalkExistsWinner(const AssetPath& p_path) const
    {
        for (const Literal& volume : walk)
            if (p_path.IsParentOf(volume.target) || (volume.target.IsParentOf(p_path) && volume.volume->Exists(p_path)))
                return &volume;
        return nullptr;
    }

    static bool HoldsFile(const Literal& p_volume, const AssetPath& p_path)
    {
        return p_volume.files.count(p_path.RelativeTo(p_volume.target).str()) != 0;
    }

    // What Open gives, in words: the bytes, or why there are none.
    static std::string Opened(const boost::shared_ptr<std::istream>& p_stream)
    {
        if (!p_stream)
            return "<null>";
        std::string bytes = ReadAll(*p_stream);
        return p_stream->bad() || (bytes.empty() && p_stream->fail()) ? "<failed>" : bytes;
    }

    ScratchDir dir;
    LogCapture log;
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    std::vector<Literal> walk;
};

TEST_P(LookupTest, AgreesWithTheSearchOrderWalkedVolumeByVolume)
{
    std::mt19937 random(GetParam());
    BuildRandomLibrary(random);
    // Opening a directory is reported; both sides report alike and go on.
    EnsureRecorder recorder;
    for (const std::string& text : AllPaths(4)) {
        const AssetPath path(text);
        SCOPED_TRACE("path '" + text + "'");
        const bool exists = WalkExists(path);
        ASSERT_EQ(exists, library->Exists(path));

        const Literal* serving = WalkOpen(path);
        const std::string expected = serving ? Opened(serving->volume->Open(path, Volume::Binary)) : "<null>";
        ASSERT_EQ(expected, Opened(library->Open(path, Volume::Binary)));

        const AssetLibrary::Location location = library->Locate(path);
        const bool isFile = serving && HoldsFile(*serving, path);
        const Literal* winner = isFile ? serving : WalkExistsWinner(path);
        ASSERT_EQ(!exists  ? AssetLibrary::Location::Absent
                  : isFile ? AssetLibrary::Location::File
                           : AssetLibrary::Location::Directory,
                  location.kind);
        if (!winner)
            continue;
        EXPECT_EQ(winner->source, location.source);
        EXPECT_EQ(winner->priority, location.priority);
        EXPECT_EQ(winner->isArchive, location.isArchive);
        if (isFile && location.isArchive) {
            EXPECT_EQ(path.RelativeTo(winner->target), location.entry.path);
        } else if (isFile) {
            EXPECT_EQ(ReadFile(location.hostPath), expected);
        }

        // A listing names the same winner for each child.
        if (location.kind != AssetLibrary::Location::Directory)
            continue;
        for (const AssetLibrary::Child& child : library->Children(path)) {
            const AssetLibrary::Location found = library->Locate(child.path);
            EXPECT_EQ(found.kind == AssetLibrary::Location::Directory, child.isDirectory) << child.path.str();
            EXPECT_EQ(found.source, child.source) << child.path.str();
            EXPECT_EQ(found.priority, child.priority) << child.path.str();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RandomLibraries, LookupTest, ::testing::Range(1u, 41u));

// The volumes cut their mount point off on texts; AssetPath's RelativeTo is the rule.
TEST(PathTextTest, CutsAsRelativeToOnRandomTexts)
{
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'b', '/', '.'};
    auto text = [&](int p_length) {
        std::string made;
        for (int i = 0; i < p_length; ++i)
            made += alphabet[random() % 4];
        return AssetPath(made);
    };
    for (int round = 0; round < 20000; ++round) {
        const AssetPath path = text(static_cast<int>(random() % 7));
        const AssetPath base = round % 3 == 0 ? path : text(static_cast<int>(random() % 4));
        const std::string pathText = path.str(), baseText = base.str();
        ASSERT_EQ(base.IsParentOf(path), PathText::IsParentOf(baseText, pathText)) << baseText << " | " << pathText;
        ASSERT_EQ(path.RelativeTo(base).str(), std::string(PathText::RelativeTo(pathText, baseText)))
            << baseText << " | " << pathText;
    }
}

// An archive mounted at a target answers for a path what its own directory holds at that
// path RelativeTo the target.
TEST(PathTextTest, AnArchiveResolvesAsRelativeTo)
{
    ScratchDir dir;
    LogCapture log;
    const std::string file =
        dir.Write("pack.zip", MakeArchive({{"a/b", "ab"}, {"/x", "x"}, {"b/", "", true}, {"a", "a"}}));
    for (const char* target : {"", "a", "/", "a/b", "b"}) {
        const ArchiveVolume volume{AssetPath(qorfile::filepath(file)), AssetPath(std::string(target)), 0,
                                   std::string()};
        std::set<AssetPath> held;
        for (const ArchiveVolume::ListedEntry& entry : volume.Entries())
            held.insert(entry.path);
        for (const AssetPath& folder : volume.Folders())
            held.insert(folder);
        for (const std::string& path : AllPaths(3)) {
            for (const std::string& asked :
                 {path, std::string(target) + "/" + path, std::string(target) + "//" + path}) {
                const AssetPath p(asked);
                if (!AssetPath(std::string(target)).IsParentOf(p))
                    continue;
                EXPECT_EQ(held.count(p.RelativeTo(AssetPath(std::string(target)))) != 0, volume.Exists(p))
                    << "target '" << target << "', path '" << asked << "'";
            }
        }
    }
}

} // namespace
