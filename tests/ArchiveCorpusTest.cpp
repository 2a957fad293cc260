// The archive volume on the benchmark corpus (at a hundredth of its size) against libzip's view
// of the same archive: the same names, the same bytes, plain and scrambled, alone and mounted.
#include "TestSupport.h"

#include "BenchCorpus.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>

#include <gtest/gtest.h>
#include <zip.h>

#include <set>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

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
        ASSERT_EQ(ReadAsset(plain, name), bytes) << name;
        ASSERT_EQ(ReadAsset(scrambled, name), bytes) << name;
        ASSERT_EQ(ReadAsset(library, "data/" + name), bytes) << name;
    }
    zip_discard(archive);

    std::set<std::string> expected;
    for (unsigned index = 0; index < s_layout.entries; ++index)
        expected.insert(corpus::EntryName(s_layout, index));
    EXPECT_EQ(names, expected);
    // Stored shuffled, listed in path order.
    const std::vector<ArchiveVolume::ListedEntry> listed = boost::dynamic_pointer_cast<ArchiveVolume>(plain)->Entries();
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

} // namespace
