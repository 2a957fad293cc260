// The batch read against Open one path after the other, on random libraries: archives plain
// and scrambled, with damaged local headers, entries claiming no bytes and entries marked
// deflated, a directory of overrides, paths asked twice, folders, mount points and paths no
// volume has. Both ways must hand out the same bytes, report the same checks in the same order
// and throw the same exception at the same path, with an ensure handler that returns and with
// one that throws.
#include "ArchiveBuilders.h"
#include "RandomLibrary.h"
#include "ReadOutcomes.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

const std::string Alphabet("\r\nab\0", 5);

// An archive of up to p_count random entries (names from a small set, so that archives and
// the overrides share some), some of them damaged.
std::string RandomArchive(std::mt19937& p_random, std::size_t p_count, std::set<std::string>& p_names,
                          const std::string& p_key)
{
    std::vector<ArchiveItem> items;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < p_count; ++i) {
        const std::string name = RandomName(p_random, 20);
        if (!seen.insert(name).second)
            continue;
        p_names.insert(name);
        const std::size_t size = p_random() % 8 == 0   ? 0
                                 : p_random() % 3 == 0 ? 20000 + p_random() % 30000
                                                       : 1 + p_random() % 300;
        items.push_back({name, RandomBytes(p_random, size, Alphabet)});
    }
    items.push_back({"d1/", "", true});
    std::string archive = MakeArchive(items);
    for (std::size_t index = 0; index < items.size(); ++index) {
        const std::size_t central = CentralHeaderOffset(archive, index);
        const std::uint32_t local = Get32(archive, central + 42);
        switch (p_random() % 10) {
        case 0:
            archive[local] = 'Q';
            break; // an invalid local header
        case 1:
            Put16(archive, central + 10, 8);
            break; // listed as deflated
        case 2:
            Put32(archive, local + 22, 0x7FFFFFFF);
            break; // a claim past the archive's end
        case 3:
            Put32(archive, central + 42, static_cast<std::uint32_t>(archive.size() - 10));
            break; // a cut header
        default:
            break;
        }
    }
    return p_key.empty() ? archive : Scramble(archive, p_key);
}

class BatchReadTest : public ::testing::TestWithParam<unsigned> {
protected:
    ScratchDir dir;
};

TEST_P(BatchReadTest, HandsOutWhatOpenOneByOneWould)
{
    std::mt19937 random(GetParam());
    std::set<std::string> names;
    const std::string key = RandomKey(random);
    const ReportRecording quiet(true); // the walks' own reports are the corpus test's business
    const std::string plain = RandomArchive(random, 30, names, ""), given = RandomArchive(random, 30, names, key);
    const std::string below = RandomArchive(random, 10, names, "");
    std::vector<std::pair<std::string, std::string>> overrides;
    for (int i = 0; i < 5; ++i) {
        const std::string name = RandomName(random, 20);
        overrides.emplace_back(name, RandomBytes(random, 1 + random() % 100, Alphabet));
    }
    boost::shared_ptr<AssetLibrary> library = MountLayers(dir, plain, given, key, {"below.zip", below}, overrides);
    boost::shared_ptr<Volume> alone =
        ArchiveVolume::Open(qorfile::filepath(dir.Write("alone.pak", RandomArchive(random, 30, names, key))), key);

    std::vector<std::string> pool(names.begin(), names.end());
    for (const char* other : {"", "d1", "d0/missing", "sub", "sub/d0/f1", "sub/d1/f2", "nowhere/x"})
        pool.push_back(other);
    for (int round = 0; round < 6; ++round) {
        std::vector<AssetPath> paths;
        for (std::size_t count = 1 + random() % 60; count > 0; --count)
            paths.emplace_back(pool[random() % pool.size()]);
        for (bool returning : {true, false}) {
            const ReportRecording recording(returning);
            for (Volume::OpenMode mode : {Volume::Binary, Volume::Text}) {
                SCOPED_TRACE("round " + std::to_string(round) + (returning ? " returning" : " throwing") +
                             (mode == Volume::Text ? " Text" : " Binary"));
                EXPECT_EQ(InOneBatch([&] { return library->OpenBatch(paths, mode); }), OneByOne(*library, paths, mode));
                const auto& archive = static_cast<const ArchiveVolume&>(*alone);
                EXPECT_EQ(InOneBatch([&] { return archive.OpenBatch(paths, mode); }), OneByOne(archive, paths, mode));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, BatchReadTest, ::testing::Range(1u, 13u));

} // namespace
