// The host layer: file paths, directory iteration, the logger and environment flags.
#include "TestSupport.h"

#include <QorDraxelUtility.h>
#include <QorFile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

using namespace testing_support;

namespace {

TEST(HostFilePath, KeepsTextAndJoinsWithOneSlash)
{
    EXPECT_EQ(qorfile::filepath("C:\\data\\").str(), "C:\\data\\");
    EXPECT_EQ((qorfile::filepath("a") + qorfile::pathcomp("b")).str(), "a/b");
    EXPECT_EQ((qorfile::filepath("a/") + qorfile::pathcomp("b")).str(), "a/b");
    EXPECT_EQ((qorfile::filepath("") + qorfile::pathcomp("b")).str(), "b");
    EXPECT_EQ(qorfile::filepath("x/y/archive.zip").name().str(), "archive.zip");
    EXPECT_EQ(qorfile::filepath("x/y/").name().str(), "y");
    EXPECT_EQ(qorfile::filepath("plain").name().str(), "plain");
    EXPECT_FALSE(qorfile::filepath("").valid());
    EXPECT_TRUE(qorfile::filepath("x").valid());
    EXPECT_TRUE(qorfile::filepath("a") < qorfile::filepath("b"));
}

// Where the host separates on a backslash (Windows), name() and operator+ do too; elsewhere a
// backslash is an ordinary character of a name.
TEST(HostFilePath, BackslashSeparatesWhereTheHostSaysSo)
{
    const bool separates = BackslashSeparates();
    EXPECT_EQ((qorfile::filepath("C:\\data\\") + qorfile::pathcomp("x")).str(),
              separates ? "C:\\data\\x" : "C:\\data\\/x");
    EXPECT_EQ((qorfile::filepath("C:\\data") + qorfile::pathcomp("x")).str(), "C:\\data/x");
    EXPECT_EQ(qorfile::filepath("C:\\data\\content").name().str(), separates ? "content" : "C:\\data\\content");
    EXPECT_EQ(qorfile::filepath("C:\\data\\content\\").name().str(), separates ? "content" : "C:\\data\\content\\");
}

TEST(HostFilePath, TrailingSeparatorNamesOnlyADirectory)
{
    ScratchDir dir;
    dir.Write("d/f", "1");
    EXPECT_TRUE(qorfile::direxists(qorfile::filepath(dir / "d/")));
    EXPECT_TRUE(qorfile::direxists(qorfile::filepath(dir / "d//")));
    EXPECT_FALSE(qorfile::fileexists(qorfile::filepath(dir / "d/")));
    EXPECT_TRUE(qorfile::fileexists(qorfile::filepath(dir / "d/f")));
    EXPECT_FALSE(qorfile::fileexists(qorfile::filepath(dir / "d/f/")));
    EXPECT_FALSE(qorfile::direxists(qorfile::filepath(dir / "d/f/")));
    std::set<std::string> seen;
    for (qorfile::diriter it(qorfile::filepath(dir / "d/")), end; it != end; ++it)
        seen.insert(it->str());
    EXPECT_EQ(seen, std::set<std::string>{dir / "d/f"});
}

// Paths are UTF-8 on every host, names from the system come back as UTF-8.
TEST(HostFilePath, NonAsciiNamesAreUtf8)
{
    ScratchDir dir;
    const std::string folder = "gr\xc3\xbcn", file = "\xe6\x97\xa5\xe6\x9c\xac-\xc3\xa9t\xc3\xa9.txt";
    dir.Write(folder + "/" + file, "utf-8");
    EXPECT_TRUE(qorfile::direxists(qorfile::filepath(dir / folder)));
    EXPECT_TRUE(qorfile::fileexists(qorfile::filepath(dir / (folder + "/" + file))));
    std::set<std::string> seen;
    for (qorfile::diriter it(qorfile::filepath(dir / folder)), end; it != end; ++it) {
        seen.insert(it->str());
        EXPECT_EQ(it->name().str(), file);
    }
    EXPECT_EQ(seen, std::set<std::string>{dir / (folder + "/" + file)});
}

TEST(HostDirIter, TellsFilesFromDirectoriesAndYieldsEveryEntryOnce)
{
    ScratchDir dir;
    dir.Write("a", "1");
    dir.Write("b", "2");
    dir.MakeDir("c");
    EXPECT_TRUE(qorfile::fileexists(qorfile::filepath(dir / "a")));
    EXPECT_FALSE(qorfile::direxists(qorfile::filepath(dir / "a")));
    EXPECT_TRUE(qorfile::direxists(qorfile::filepath(dir / "c")));
    EXPECT_FALSE(qorfile::fileexists(qorfile::filepath(dir / "c")));
    EXPECT_FALSE(qorfile::fileexists(qorfile::filepath(dir / "missing")));
    EXPECT_FALSE(qorfile::direxists(qorfile::filepath("")));
    std::set<std::string> seen;
    for (qorfile::diriter it(qorfile::filepath(dir.path())), end; it != end; ++it)
        EXPECT_TRUE(seen.insert(it->str()).second);
    EXPECT_EQ(seen, (std::set<std::string>{dir / "a", dir / "b", dir / "c"}));

    qorfile::diriter missing(qorfile::filepath(dir / "nope"));
    EXPECT_FALSE(missing != qorfile::diriter());
    qorfile::diriter empty(qorfile::filepath(dir / "c"));
    EXPECT_FALSE(empty != qorfile::diriter());
}

TEST(HostLogger, HandsCompleteLinesToTheSink)
{
    LogCapture capture;
    auto& logger = Qor::Draxel::Utility::GetLogger();
    {
        qordebug::dbgostream handle = logger.dout("Assets");
        qordebug::dbgostream copy = handle << "part " << std::string("two");
        EXPECT_TRUE(capture.lines().empty());
        copy << 42 << std::endl;
    }
    logger.derr("") << "second" << std::endl;
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0].text, "part two42");
    EXPECT_EQ(capture.lines()[0].channel, "Assets");
    EXPECT_EQ(capture.lines()[0].level, qordebug::level::out);
    EXPECT_EQ(capture.lines()[1].level, qordebug::level::err);
}

TEST(HostEnsure, DefaultThrowsAndHandlersSeeOnlyFailures)
{
    LogCapture capture;
    auto& logger = Qor::Draxel::Utility::GetLogger();
    EXPECT_NO_THROW(logger.ensure(true, "fine"));
    EXPECT_EQ(testing_support::ThrownReport([&] { logger.ensure(false, "broken"); }), "broken");
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].text, "broken");

    EnsureRecorder recorder;
    logger.ensure(true, "fine");
    logger.ensure(false, "reported");
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{"reported"});
}

TEST(HostEnvironment, FlagValuesInAnyCase)
{
    using Qor::Draxel::Utility::Environment;
    const std::string name = Qor::Draxel::Utility::EnvironmentFlags::AssetsMountResourceRoot().name;
    EXPECT_EQ(name, "AssetsMountResourceRoot");
    for (const char* on : {"1", "true", "YES", "On"}) {
        testing_support::SetEnvironment(name, on);
        EXPECT_TRUE(Environment::Enabled(name)) << on;
    }
    for (const char* off : {"0", "", "no", "enabled"}) {
        testing_support::SetEnvironment(name, off);
        EXPECT_FALSE(Environment::Enabled(name)) << off;
    }
    testing_support::SetEnvironment(name, nullptr);
    EXPECT_FALSE(Environment::Enabled(name));
}

} // namespace
