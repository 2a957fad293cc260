// Resource directories: construction order and checks, the built-in archive, the shader test
// directory, the resource-root flag; the font catalogue and its fallback roads.
#include "ArchiveBuilders.h"
#include "BuiltInArchive.h"
#include "TestSupport.h"

#include <Assets/Resource.h>

#include <boost/filesystem.hpp>
#include "Messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

// Makes sure the resource-root flag is off unless a test turns it on.
struct FlagGuard {
    explicit FlagGuard(const char* p_value = nullptr)
    {
        if (p_value)
            testing_support::SetEnvironment("AssetsMountResourceRoot", p_value);
        else
            testing_support::SetEnvironment("AssetsMountResourceRoot", nullptr);
    }
    ~FlagGuard() { testing_support::SetEnvironment("AssetsMountResourceRoot", nullptr); }
};

class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = dir.MakeDir("res");
        dir.MakeDir("res/images");
        dir.Write("res/fonts/DejaVuSans.ttf", "font");
        dir.MakeDir("res/assets");
    }

    void WriteBuiltInArchive(const std::vector<ArchiveItem>& p_items)
    {
        dir.Write("res/assets/" + BuiltInArchives().front().name, MakeArchive(p_items, BuiltInArchives().front().key));
    }

    Resource Make(const std::string& p_temporary = "res/tmp")
    {
        return Resource(qorfile::filepath(root), qorfile::filepath(dir / "res/images"),
                        qorfile::filepath(dir / "res/fonts"), qorfile::filepath(dir / "res/assets"),
                        qorfile::filepath(dir / p_temporary));
    }

    ScratchDir dir;
    std::string root;
    FlagGuard flag;
};

TEST_F(ResourceTest, LogsTheFiveDirectoriesFirstAndCreatesTheTemporaryOne)
{
    WriteBuiltInArchive({{"Shaders/basic.vert", "archive"}});
    LogCapture log;
    EnsureRecorder recorder;
    Resource resource = Make();
    ASSERT_GE(log.lines().size(), 5u);
    const std::vector<std::string> texts = log.texts();
    const std::vector<std::string> first(texts.begin(), texts.begin() + 5);
    EXPECT_EQ(first, (std::vector<std::string>{"root directory  : " + root, "image directory : " + (dir / "res/images"),
                                               "font directory  : " + (dir / "res/fonts"),
                                               "assets directory  : " + (dir / "res/assets"),
                                               "temporary directory : " + (dir / "res/tmp")}));
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(log.lines()[i].level, qordebug::level::log);
        EXPECT_EQ(log.lines()[i].channel, "");
    }
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_TRUE(qorfile::direxists(qorfile::filepath(dir / "res/tmp")));
    EXPECT_EQ(resource.TemporaryDirectory().str(), dir / "res/tmp");
    // Only the last component is created.
    EXPECT_THROW(Make("res/none/tmp"), boost::filesystem::filesystem_error);
}

TEST_F(ResourceTest, BadDirectoriesAreReportedInOrder)
{
    LogCapture log;
    EnsureRecorder recorder;
    Resource resource(qorfile::filepath(""), qorfile::filepath(dir / "nope/images"), qorfile::filepath(dir / "nofonts"),
                      qorfile::filepath(dir / "noassets"), qorfile::filepath(dir / "res/tmp"));
    const std::vector<std::string> expected = {Messages::ResourceInvalidPaths, Messages::ResourceNoRoot,
                                               Messages::ResourceNoImage,      Messages::ResourceNoFont,
                                               Messages::ResourceNoFonts,      Messages::ResourceNoShaders};
    EXPECT_EQ(recorder.messages(), expected);
    EXPECT_EQ(resource.FontFile().str(), "");
}

TEST_F(ResourceTest, NothingMountedFailsTheShaderCheck)
{
    LogCapture log;
    EnsureRecorder recorder;
    Resource resource = Make();
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::ResourceNoShaders});
    EXPECT_FALSE(resource.Library()->Exists(P("")));
}

TEST_F(ResourceTest, BuiltInArchiveIsMountedAndRead)
{
    WriteBuiltInArchive({{"Shaders/basic.vert", "archive vert"}, {"data/info.txt", "archive info"}});
    LogCapture log;
    Resource resource = Make();
    EXPECT_EQ(ReadAsset(resource.Assets(), "data/info.txt"), "archive info");
    EXPECT_EQ(ReadAsset(resource.Shaders(), "basic.vert"), "archive vert");
    EXPECT_TRUE(resource.Shaders()->Exists(P("")));
    // The mount logs the archive's path, never its key.
    bool logged = false;
    for (const std::string& line : log.texts()) {
        EXPECT_EQ(line.find(BuiltInArchives().front().key), std::string::npos);
        logged = logged || line == "   -> path: " + (dir / "res/assets") + "/" + BuiltInArchives().front().name;
    }
    EXPECT_TRUE(logged);
}

// The built-in name and key are stored masked, and neither may stand in the built library as
// plain text, whatever the build type. An optimiser that folds the unmasking writes the text as
// store immediates of at most 8 bytes or as a constant in read-only data, so every 8-byte run of
// either text is looked for, not only the whole text. Besides the library, the resources' source
// compiled at -O3 is searched (a Release build's optimiser, in a build of any type).
TEST(ResourceBuiltInArchive, NameAndKeyNeverStandInTheLibraryAsPlainText)
{
    const BuiltInArchive builtIn = BuiltInArchives().front();
    ASSERT_EQ(builtIn.name.size(), 11u);
    ASSERT_EQ(builtIn.key.size(), 32u);
    const std::size_t Run = 8;
    for (const char* file : {ASSETS_LIBRARY_FILE, ASSETS_RELEASE_PROBE_FILE}) {
        const std::string binary = ReadFile(file);
        ASSERT_FALSE(binary.empty()) << file;
        // The file searched is the resources' code: it names the class that mounts the archive.
        EXPECT_NE(binary.find("_ZN3Qor6Draxel6Assets8Resource"), std::string::npos) << file;
        for (const std::string& text : {builtIn.name, builtIn.key})
            for (std::size_t at = 0; at + Run <= text.size(); ++at)
                EXPECT_EQ(binary.find(text.substr(at, Run)), std::string::npos)
                    << "\"" << text.substr(at, Run) << "\" stands in " << file;
    }
}

TEST_F(ResourceTest, ShaderTestDirectoryIsMountedBelowShaders)
{
    dir.Write("res/Shaders/Tests/probe.glsl", "probe");
    LogCapture log;
    EnsureRecorder recorder;
    Resource resource = Make();
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_TRUE(resource.Library()->Exists(P("Shaders")));
    EXPECT_TRUE(resource.Library()->Exists(P("Shaders/Tests")));
    EXPECT_EQ(ReadAsset(resource.Shaders(), "Tests/probe.glsl"), "probe");
    const std::vector<std::string> texts = log.texts();
    EXPECT_TRUE(std::find(texts.begin(), texts.end(), "   -> target: Shaders/Tests") != texts.end());
}

TEST_F(ResourceTest, ResourceRootFlagShadowsByPriority)
{
    WriteBuiltInArchive({{"Shaders/basic.vert", "archive"}, {"Shaders/Tests/t.glsl", "archive test"}});
    dir.Write("res/Shaders/basic.vert", "root");
    dir.Write("res/Shaders/Tests/t.glsl", "test dir");
    LogCapture log;
    {
        Resource off = Make();
        EXPECT_EQ(ReadAsset(off.Shaders(), "basic.vert"), "archive");
        EXPECT_EQ(ReadAsset(off.Shaders(), "Tests/t.glsl"), "test dir");
    }
    FlagGuard on("TRUE");
    Resource resource = Make();
    EXPECT_EQ(ReadAsset(resource.Shaders(), "basic.vert"), "root");
    EXPECT_EQ(ReadAsset(resource.Assets(), "fonts/DejaVuSans.ttf"), "font");
}

TEST_F(ResourceTest, CopiesShareTheLibrary)
{
    WriteBuiltInArchive({{"Shaders/basic.vert", "archive"}});
    LogCapture log;
    Resource resource = Make();
    log.clear();
    Resource copy(resource);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(copy.Library(), resource.Library());
    EXPECT_EQ(copy.Shaders(), resource.Shaders());
    EXPECT_EQ(copy.Assets().get(), static_cast<Volume*>(resource.Library().get()));
    EXPECT_EQ(copy.FontPaths(), resource.FontPaths());
}

// ---------------------------------------------------------------------------------------
// Font catalogue.

class FontTest : public ResourceTest {
protected:
    void SetUp() override
    {
        ResourceTest::SetUp();
        WriteBuiltInArchive({{"Shaders/basic.vert", "archive"}});
    }

    // Builds a Resource over a font directory holding exactly p_files.
    Resource WithFonts(const std::vector<std::string>& p_files)
    {
        boost::filesystem::remove_all(dir / "res/fonts");
        dir.MakeDir("res/fonts");
        for (const std::string& file : p_files)
            dir.Write("res/fonts/" + file, "font");
        return Make();
    }
};

TEST_F(FontTest, CataloguesTheTreeByLowerCaseFaceName)
{
    LogCapture log;
    Resource resource = WithFonts({"Arial.TTF", "My.Font.otf", "sub/deeper/Verdana.ttf", "skip.ttc", "skip.fon",
                                   "noextension", "sub/Tahoma.OTF"});
    std::vector<std::string> faces;
    for (const auto& font : resource.FontPaths())
        faces.push_back(font.first);
    EXPECT_EQ(faces, (std::vector<std::string>{"arial", "my.font", "tahoma", "verdana"}));
    EXPECT_EQ(resource.FontPaths().at("verdana").str(), dir / "res/fonts/sub/deeper/Verdana.ttf");

    const std::vector<std::string> texts = log.texts();
    auto count = [&](const std::string& line) { return std::count(texts.begin(), texts.end(), line); };
    EXPECT_EQ(count("searching: " + (dir / "res/fonts")), 1);
    EXPECT_EQ(count("searching: " + (dir / "res/fonts/sub")), 1);
    EXPECT_EQ(count("searching: " + (dir / "res/fonts/sub/deeper")), 1);
    EXPECT_EQ(count("\t\t+font : arial"), 1);
    EXPECT_EQ(count("\t\t+font : my.font"), 1);
    EXPECT_EQ(count("system font : C:\\Windows\\Fonts"), 1);
    // Depth first: a sub-directory's fonts follow its own searching line directly.
    auto deeper = std::find(texts.begin(), texts.end(), "searching: " + (dir / "res/fonts/sub/deeper"));
    ASSERT_NE(deeper, texts.end());
    EXPECT_EQ(*(deeper + 1), "\t\t+font : verdana");
    // The system font line comes after the whole font tree.
    auto system = std::find(texts.begin(), texts.end(), "system font : C:\\Windows\\Fonts");
    EXPECT_GT(system, deeper);
}

TEST_F(FontTest, FirstFoundFileKeepsADuplicateFace)
{
    LogCapture log;
    Resource resource = WithFonts({"a/Dup.ttf", "b/dup.OTF"});
    std::string first;
    for (qorfile::diriter it(qorfile::filepath(dir / "res/fonts")), end; it != end && first.empty(); ++it)
        first = it->str();
    EXPECT_EQ(resource.FontPaths().at("dup").str().rfind(first, 0), 0u);
    const std::vector<std::string> texts = log.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "\t\t+font : dup"), 2);
}

TEST_F(FontTest, UserFontInAnyCaseAndTheDefaultWithoutComplaint)
{
    LogCapture log;
    Resource resource = WithFonts({"Arial.TTF", "DejaVuSans.ttf"});
    log.clear();
    EXPECT_EQ(resource.FontFile("ARIAL").str(), dir / "res/fonts/Arial.TTF");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Loading user font: arial"});
    EXPECT_EQ(log.lines().back().level, qordebug::level::log);
    log.clear();
    EXPECT_EQ(resource.FontFile().str(), dir / "res/fonts/DejaVuSans.ttf");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Loading default font: dejavusans"});
    log.clear();
    resource.FontFile("DEJAVUSANS");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Loading user font: dejavusans"});
}

TEST_F(FontTest, FallsBackToTheFirstDefaultFaceThatExists)
{
    LogCapture log;
    Resource resource = WithFonts({"verdana.ttf", "tahoma.ttf"});
    log.clear();
    EXPECT_EQ(resource.FontFile("Missing").str(), dir / "res/fonts/verdana.ttf");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "Font missing not found, looking for default fonts.", Messages::DefaultFaceWarning,
                               "Cannot find default font face, loading: verdana", "Loading default font: verdana"}));
    EXPECT_EQ(log.lines()[0].level, qordebug::level::err);
    EXPECT_EQ(log.lines()[1].level, qordebug::level::err);
    EXPECT_EQ(log.lines()[2].level, qordebug::level::err);
    EXPECT_EQ(log.lines()[3].level, qordebug::level::log);
}

TEST_F(FontTest, LastResortIsTheSmallestFace)
{
    LogCapture log;
    Resource resource = WithFonts({"b.ttf", "a.otf"});
    log.clear();
    EXPECT_EQ(resource.FontFile("zzz").str(), dir / "res/fonts/a.otf");
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.texts()[0], "Font zzz not found, looking for default fonts.");
    EXPECT_EQ(log.texts()[1], "WARNING: Loading FALLBACK font: a");
    EXPECT_EQ(log.lines()[1].channel, "cerr");
    EXPECT_EQ(log.lines()[1].level, qordebug::level::log);
}

TEST_F(FontTest, FontSets)
{
    LogCapture log;
    Resource resource = WithFonts({"DejaVuSans.ttf", "VL-PGothic-Regular.ttf", "Arial.ttf"});
    const std::vector<qorfile::filepath> defaults = resource.DefaultFontSet();
    ASSERT_EQ(defaults.size(), 2u);
    EXPECT_EQ(defaults[0].str(), dir / "res/fonts/DejaVuSans.ttf");
    EXPECT_EQ(defaults[1].str(), dir / "res/fonts/VL-PGothic-Regular.ttf");
    EXPECT_EQ(resource.FontSet(""), defaults);
    const std::vector<qorfile::filepath> arial = resource.FontSet("arial");
    ASSERT_EQ(arial.size(), 3u);
    EXPECT_EQ(arial[0].str(), dir / "res/fonts/Arial.ttf");
    const std::vector<qorfile::filepath> missing = resource.FontSet("nothing");
    ASSERT_EQ(missing.size(), 3u);
    EXPECT_EQ(missing[0], defaults[0]);
}

} // namespace
