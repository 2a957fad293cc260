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
    try {
        logger.ensure(false, "broken");
        FAIL() << "ensure returned";
    } catch (const qordebug::ensure_failure& failure) {
        EXPECT_STREQ(failure.what(), "broken");
    }
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
