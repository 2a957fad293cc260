// Resource's lines reach the logger as the library's others do: GetLogger() asked at every
// line, each line whole on the logger that call gave (RotatingLoggers.h).
#include "ArchiveBuilders.h"
#include "BuiltInArchive.h"
#include "RotatingLoggers.h"
#include "TestSupport.h"

#include <Assets/Resource.h>

#include <gtest/gtest.h>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

TEST(Logging, ResourceLinesAndFontLookupEachAskForTheLogger)
{
    SetEnvironment("AssetsMountResourceRoot", nullptr);
    ScratchDir dir;
    dir.MakeDir("res/images");
    dir.MakeDir("res/tmp");
    dir.Write("res/fonts/Verdana.ttf", "font");
    const BuiltInArchive builtIn = BuiltInArchives().front();
    dir.Write("res/assets/" + builtIn.name, MakeArchive({{"Shaders/x", "x"}}, builtIn.key));
    RotatingLoggers loggers;
    const Resource resource(qorfile::filepath(dir / "res"), qorfile::filepath(dir / "res/images"),
                            qorfile::filepath(dir / "res/fonts"), qorfile::filepath(dir / "res/assets"),
                            qorfile::filepath(dir / "res/tmp"));
    EXPECT_EQ(loggers.TextsEachOnItsOwnCall(),
              (std::vector<std::string>{
                  "root directory  : " + (dir / "res"), "image directory : " + (dir / "res/images"),
                  "font directory  : " + (dir / "res/fonts"), "assets directory  : " + (dir / "res/assets"),
                  "temporary directory : " + (dir / "res/tmp"), "searching: " + (dir / "res/fonts"),
                  "\t\t+font : verdana", "system font : C:\\Windows\\Fonts", "Mounting archive: " + builtIn.name,
                  "   -> path: " + (dir / "res/assets") + "/" + builtIn.name, "   -> target: "}));

    // A face that is missing, and a fallback that is not the default face: four lines.
    loggers.Clear();
    EXPECT_EQ(resource.FontFile("Nowhere").str(), dir / "res/fonts/Verdana.ttf");
    const std::vector<std::string> lines = loggers.TextsEachOnItsOwnCall();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Font nowhere not found, looking for default fonts.");
    EXPECT_EQ(lines[1].substr(0, 9), "WARNING: ");
    EXPECT_EQ(lines[2], "Cannot find default font face, loading: verdana");
    EXPECT_EQ(lines[3], "Loading default font: verdana");
}

} // namespace
