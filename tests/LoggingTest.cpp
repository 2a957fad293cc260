// How the library reaches the logger: GetLogger() is asked at every log line and at every failed
// check, and each line is one statement on a fresh handle. A host whose GetLogger() gives
// another logger at each call must receive every line whole, on the logger it was asked from,
// and no line or report on a logger that an earlier call gave. (Resource's lines:
// ResourceLoggingTest.cpp.)
#include "ArchiveBuilders.h"
#include "RotatingLoggers.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>

#include <gtest/gtest.h>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

TEST(Logging, MountLinesAndChecksEachAskForTheLogger)
{
    ScratchDir dir;
    const std::string archive = dir.Write("data.zip", MakeArchive({{"x", "1"}}));
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    RotatingLoggers loggers;
    library->MountArchive(qorfile::filepath(archive), P("a"), 1, "");
    library->MountDirectory(qorfile::filepath(dir / "missing"), P("b"), 2);
    library->MountDirectory(qorfile::filepath(archive), P("c"), 3);
    const std::string signature = " - void __cdecl Qor::Draxel::Assets::AssetLibrary::MountDirectory(const class "
                                  "qorfile::filepath &,const class Qor::Draxel::Assets::AssetPath &,unsigned int)";
    EXPECT_EQ(loggers.TextsEachOnItsOwnCall(),
              (std::vector<std::string>{
                  "Mounting archive: data.zip", "   -> path: " + archive, "   -> target: a",
                  "ensure: \"qorfile::direxists( p_source ) && \"ERROR: AssetLibrary: Asset directory does not "
                  "exist!\"\"" +
                      signature,
                  "Mounting directory: missing", "   -> path: " + (dir / "missing"), "   -> target: b",
                  "ensure: \"qorfile::direxists( p_source ) && \"ERROR: AssetLibrary: Asset directory does not "
                  "exist!\"\"" +
                      signature,
                  "ensure: \"_state->priorities.find( p_source ) == _state->priorities.end()\"" + signature,
                  "Mounting directory: data.zip", "   -> path: " + archive, "   -> target: c"}));
}

TEST(Logging, ArchiveChecksEachAskForTheLogger)
{
    ScratchDir dir;
    std::string archive = MakeArchive({{"only", "1"}});
    Put16(archive, archive.size() - 22 + 8, 2); // a second header that is not there
    const std::string path = dir.Write("count.zip", archive);
    RotatingLoggers loggers;
    ArchiveVolume::Open(qorfile::filepath(path), "");
    const std::vector<std::string> reports = loggers.TextsEachOnItsOwnCall();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_NE(reports[0].find("source.gcount() == sizeof(T)"), std::string::npos);
    EXPECT_NE(reports[1].find("header.Valid()"), std::string::npos);
    EXPECT_NE(reports[2].find("filenameLength > 0"), std::string::npos);
}

} // namespace
