// Size and the read into the caller's memory against Open, on random libraries: archives plain
// and scrambled (keys of random lengths, given or carried), an archive inside another volume,
// a directory of overrides and a view below a sub-path; entries whose bytes are mostly line
// ends (so that Text mode folds across the pieces a large entry is read in), of sizes around
// the capacities asked for. Every report, result and byte must be Open's.
#include "ArchiveBuilders.h"
#include "MemoryVolume.h"
#include "RandomLibrary.h"
#include "ReadOutcomes.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>
#include <Assets/FileSystemVolume.h>

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

std::string RandomBytes(std::mt19937& p_random, std::size_t p_size)
{
    return testing_support::RandomBytes(p_random, p_size, std::string("\r\n\ra\x1a\0", 6));
}

std::size_t RandomSize(std::mt19937& p_random)
{
    switch (p_random() % 4) {
    case 0:
        return 1 + p_random() % 8;
    case 1:
        return 60 + p_random() % 80;
    case 2:
        return 65536 - 2 + p_random() % 5; // around a piece of the text fold
    default:
        return 1 + p_random() % 200000;
    }
}

class ReadIntoTest : public ::testing::TestWithParam<unsigned> {
protected:
    ScratchDir dir;
};

TEST_P(ReadIntoTest, ReadAndSizeAgreeWithOpenOnRandomLibraries)
{
    std::mt19937 random(GetParam());
    std::set<std::string> names;
    auto entries = [&](std::size_t p_count) {
        std::vector<ArchiveItem> items;
        for (std::size_t i = 0; i < p_count; ++i) {
            const std::string name = RandomName(random, 12);
            if (!names.insert(name).second && random() % 2)
                continue;
            items.push_back({name, RandomBytes(random, RandomSize(random))});
        }
        items.push_back({"d0/", "", true});
        std::set<std::string> seen;
        std::vector<ArchiveItem> unique;
        for (const ArchiveItem& item : items)
            if (seen.insert(item.name).second)
                unique.push_back(item);
        return unique;
    };

    const std::string key = RandomKey(random);
    const std::string plain = MakeArchive(entries(8)), given = Scramble(MakeArchive(entries(8)), key);
    const std::string carried = MakeArchive(entries(8), std::string(32, 'k'), true);
    std::vector<std::pair<std::string, std::string>> overrides;
    for (int i = 0; i < 6; ++i) {
        const std::string name = RandomName(random, 12);
        names.insert(name);
        overrides.emplace_back(name, RandomBytes(random, RandomSize(random)));
    }
    boost::shared_ptr<AssetLibrary> library = MountLayers(dir, plain, given, key, {"carried.pak", carried}, overrides);
    const MemoryVolume holder("inner.pak", MakeArchive(entries(6), key));
    boost::shared_ptr<Volume> inner = ArchiveVolume::Open(holder, AssetPath("inner.pak"), key);
    boost::shared_ptr<Volume> view = library->RelativeTo(AssetPath("sub"));
    boost::shared_ptr<Volume> directory = FileSystemVolume::Open(qorfile::filepath(dir / "overrides"));

    std::vector<std::string> paths(names.begin(), names.end());
    for (const char* other : {"", "d0", "d1/missing", "sub", "sub/d0", "overrides"})
        paths.push_back(other);
    const std::pair<const char*, const Volume*> volumes[] = {
        {"library", library.get()}, {"inner", inner.get()}, {"view", view.get()}, {"directory", directory.get()}};
    for (bool returning : {true, false}) {
        const ReportRecording recording(returning);
        for (const auto& volume : volumes) {
            for (const std::string& path : paths) {
                // A mode that is neither Text nor Binary is reported by a directory volume.
                for (int mode : {0, 1, 2}) {
                    SCOPED_TRACE(std::string(volume.first) + " " + path + " mode " + std::to_string(mode));
                    const auto openMode = static_cast<Volume::OpenMode>(mode);
                    const ReadOutcome whole = ThroughOpen(*volume.second, AssetPath(path), openMode, 0);
                    ASSERT_EQ(ThroughSize(*volume.second, AssetPath(path), openMode), whole) << whole.result;
                    const std::size_t size = std::strtoull(whole.result.c_str(), nullptr, 10);
                    for (std::size_t capacity : {std::size_t(0), std::size_t(1), size > 0 ? size - 1 : 0, size,
                                                 size + 1, static_cast<std::size_t>(random() % 70000)}) {
                        ASSERT_EQ(ThroughRead(*volume.second, AssetPath(path), openMode, capacity),
                                  ThroughOpen(*volume.second, AssetPath(path), openMode, capacity))
                            << capacity;
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ReadIntoTest, ::testing::Range(1u, 9u));

} // namespace
