// The archive volume on the benchmark corpus (at a hundredth of its size) against libzip's view
// of the same archive, and the archive file read directly against the same bytes read through
// a std::istream, on damaged archives, where every reported check and its order must agree.
#include "ArchiveTestSupport.h"
#include "TestSupport.h"

#include "../bench/Corpus.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>
#include <Assets/FileSystemVolume.h>

#include <gtest/gtest.h>
#include <zip.h>

#include <functional>
#include <set>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

std::string ReadEntry(const boost::shared_ptr<std::istream>& p_stream)
{
    return p_stream ? ReadAll(*p_stream) : std::string("<null>");
}

class ArchiveCorpusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new ScratchDir;
        s_layout = corpus::MakeLayout(100);
        corpus::WriteMany(*s_dir / "many.zip", s_layout, std::string(), false);
        corpus::WriteMany(*s_dir / "many.pak", s_layout, corpus::ScrambleKey(), true);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    static ScratchDir* s_dir;
    static corpus::Layout s_layout;
};

ScratchDir* ArchiveCorpusTest::s_dir = nullptr;
corpus::Layout ArchiveCorpusTest::s_layout;

TEST_F(ArchiveCorpusTest, SameNamesAndBytesAsLibzip)
{
    int error = 0;
    zip_t* archive = zip_open((*s_dir / "many.zip").c_str(), ZIP_RDONLY, &error);
    ASSERT_NE(archive, nullptr);
    auto plain = ArchiveVolume::Open(qorfile::filepath(*s_dir / "many.zip"), "");
    auto scrambled = ArchiveVolume::Open(qorfile::filepath(*s_dir / "many.pak"), "");
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    library->MountArchive(qorfile::filepath(*s_dir / "many.zip"), AssetPath("data"), 0, "");

    const zip_int64_t count = zip_get_num_entries(archive, 0);
    ASSERT_EQ(count, static_cast<zip_int64_t>(s_layout.entries));
    std::set<std::string> names, folders;
    for (zip_int64_t index = 0; index < count; ++index) {
        const std::string name = zip_get_name(archive, static_cast<zip_uint64_t>(index), 0);
        names.insert(name);
        for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
            folders.insert(name.substr(0, slash));

        zip_stat_t stat;
        ASSERT_EQ(zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat), 0);
        std::string bytes(stat.size, '\0');
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(zip_fread(file, &bytes[0], bytes.size()), static_cast<zip_int64_t>(bytes.size()));
        zip_fclose(file);

        ASSERT_TRUE(plain->Exists(AssetPath(name))) << name;
        ASSERT_EQ(ReadEntry(plain->Open(AssetPath(name), Volume::Binary)), bytes) << name;
        ASSERT_EQ(ReadEntry(scrambled->Open(AssetPath(name), Volume::Binary)), bytes) << name;
        ASSERT_EQ(ReadEntry(library->Open(AssetPath("data/" + name), Volume::Binary)), bytes) << name;
    }
    zip_discard(archive);

    std::set<std::string> expected;
    for (unsigned index = 0; index < s_layout.entries; ++index)
        expected.insert(corpus::EntryName(s_layout, index));
    EXPECT_EQ(names, expected);
    // Stored shuffled, listed in path order.
    const std::vector<ArchiveVolume::ListedEntry> listed =
        boost::dynamic_pointer_cast<ArchiveVolume>(plain)->Entries();
    ASSERT_EQ(listed.size(), expected.size());
    auto name = expected.begin();
    for (const ArchiveVolume::ListedEntry& entry : listed)
        EXPECT_EQ(entry.path.str(), *name++);
    for (const std::string& folder : folders) {
        EXPECT_TRUE(plain->Exists(AssetPath(folder))) << folder;
        EXPECT_TRUE(scrambled->Exists(AssetPath(folder))) << folder;
    }
    for (unsigned index = 0; index < s_layout.entries; ++index) {
        const std::string missing = corpus::MissingName(s_layout, index);
        ASSERT_FALSE(plain->Exists(AssetPath(missing))) << missing;
        ASSERT_FALSE(scrambled->Exists(AssetPath(missing))) << missing;
        ASSERT_FALSE(library->Exists(AssetPath("data/" + missing))) << missing;
    }
    // Prefixes that are no folders: a part of a component, and a path with a trailing part.
    EXPECT_FALSE(plain->Exists(AssetPath("asset")));
    EXPECT_FALSE(plain->Exists(AssetPath("assets/d000")));
    EXPECT_FALSE(plain->Exists(AssetPath(corpus::EntryName(s_layout, 0) + "/x")));
    EXPECT_FALSE(plain->Exists(AssetPath()));
}

// What a volume made of p_bytes reports while it is read and opened, and what it answers.
struct Trace {
    std::vector<std::string> messages;
    std::vector<std::string> answers;
};

Trace TraceVolume(const std::function<boost::shared_ptr<Volume>()>& p_make, const std::vector<std::string>& p_names)
{
    EnsureRecorder recorder;
    Trace trace;
    boost::shared_ptr<Volume> volume;
    try {
        volume = p_make();
    } catch (const std::exception& error) {
        trace.answers.push_back(std::string("throws ") + error.what());
    }
    for (const std::string& name : p_names) {
        if (!volume || !volume->Exists(AssetPath(name))) {
            trace.answers.push_back(name + ": absent");
            continue;
        }
        try {
            trace.answers.push_back(name + ": " + ReadEntry(volume->Open(AssetPath(name), Volume::Binary)));
        } catch (const std::exception& error) {
            trace.answers.push_back(name + ": throws " + error.what());
        }
    }
    trace.messages = recorder.messages();
    return trace;
}

// The archive file is read by the volume itself; through a directory volume the same bytes
// come as a std::ifstream, which the walk reads as it is.
void ExpectSameAsThroughAStream(ScratchDir& p_dir, const std::string& p_name, const std::string& p_bytes,
                                const std::string& p_key, const std::vector<std::string>& p_names,
                                const std::string& p_what)
{
    p_dir.Write(p_name, p_bytes);
    const Trace direct = TraceVolume(
        [&] { return ArchiveVolume::Open(qorfile::filepath(p_dir / p_name), p_key); }, p_names);
    auto outer = FileSystemVolume::Open(qorfile::filepath(p_dir.path()));
    const Trace streamed = TraceVolume([&] { return ArchiveVolume::Open(*outer, AssetPath(p_name), p_key); }, p_names);
    EXPECT_EQ(direct.messages, streamed.messages) << p_what;
    EXPECT_EQ(direct.answers, streamed.answers) << p_what;
}

std::vector<ArchiveItem> Items()
{
    return {{"a/", "", true}, {"a/one.txt", "first entry"}, {"a\\b\\two.txt", "second"}, {"c.bin", "third bytes"}};
}

const std::vector<std::string> ItemNames = {"a", "a/one.txt", "a/b", "a/b/two.txt", "c.bin", "d"};

TEST(ArchiveSourceTest, CutArchivesReadAlikeFromFileAndStream)
{
    ScratchDir dir;
    const std::string archive = MakeArchive(Items());
    // A cut of length 0 is an empty asset (which throws) through the stream: skip it. Every cut
    // into the directory and the end record; elsewhere (the end record is then read from the
    // entries' bytes) every seventh.
    const std::size_t directory = CentralHeaderOffset(archive, 0);
    for (std::size_t length = 1; length < archive.size(); length += length >= directory ? 1 : 7)
        ExpectSameAsThroughAStream(dir, "cut.zip", archive.substr(0, length), "", ItemNames,
                                   "cut at " + std::to_string(length));
}

TEST(ArchiveSourceTest, DamagedDirectoriesReadAlikeFromFileAndStream)
{
    ScratchDir dir;
    const std::string plain = MakeArchive(Items());
    const std::string scrambled = MakeArchive(Items(), "xy");
    const std::size_t directory = CentralHeaderOffset(plain, 0);
    std::uint64_t seed = 12345;
    for (int round = 0; round < 400; ++round) {
        // Every fifth round a scrambled archive, read with its key.
        const bool keyed = round % 5 == 0;
        const std::string& archive = keyed ? scrambled : plain;
        std::string damaged = archive;
        const int changes = 1 + round % 3;
        for (int change = 0; change < changes; ++change) {
            seed = corpus::Mix(seed);
            const std::size_t at = directory + seed % (archive.size() - directory);
            damaged[at] = static_cast<char>(seed >> 40);
        }
        // A count of records beyond the few that are there only repeats the reports at the end.
        damaged[archive.size() - 22 + 8] = archive[archive.size() - 22 + 8];
        damaged[archive.size() - 22 + 9] = archive[archive.size() - 22 + 9];
        ExpectSameAsThroughAStream(dir, keyed ? "damaged.pak" : "damaged.zip", damaged, keyed ? "xy" : "", ItemNames,
                                   "round " + std::to_string(round));
    }
}

TEST(ArchiveSourceTest, OffsetsPastTheEndReadAlikeFromFileAndStream)
{
    ScratchDir dir;
    std::string archive = MakeArchive(Items());
    // The central directory said to start past the end, and an entry's data past the end.
    std::string far = archive;
    Put32(far, far.size() - 22 + 16, 0x7ffffff0u);
    ExpectSameAsThroughAStream(dir, "far.zip", far, "", ItemNames, "directory past the end");
    std::string entry = archive;
    Put32(entry, CentralHeaderOffset(entry, 1) + 42, static_cast<std::uint32_t>(entry.size() + 100));
    ExpectSameAsThroughAStream(dir, "entry.zip", entry, "", ItemNames, "entry past the end");
}

} // namespace
