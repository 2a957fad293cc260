// How the library reaches the logger: GetLogger() is asked at every log line and at every failed
// check, and each line is one statement on a fresh handle. A host whose GetLogger() gives
// another logger at each call must receive every line whole, on the logger it was asked from,
// and no line or report on a logger that an earlier call gave.
#include "ArchiveBuilders.h"
#include "BuiltInArchive.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/AssetLibrary.h>
#include <Assets/Resource.h>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

const std::size_t LoggerCount = 5;

// One line or one report, and the logger (by its turn) that received it.
struct Received {
    std::size_t logger;
    std::string text;
};

// Hands out LoggerCount loggers in turn, one call of GetLogger() after the other, while alive;
// every logger records what reaches it, and its ensure handler returns.
class RotatingLoggers {
public:
    RotatingLoggers()
    {
        for (std::size_t i = 0; i < LoggerCount; ++i) {
            _loggers[i].set_line_sink([this, i](qordebug::level, const std::string&, const std::string& p_line) {
                _received.push_back(Received{i, p_line});
            });
            _loggers[i].set_ensure_handler(
                [this, i](const std::string& p_message) { _received.push_back(Received{i, "ensure: " + p_message}); });
        }
        s_current = this;
        _previous = Qor::Draxel::Utility::SetLoggerSource(&Next);
    }
    ~RotatingLoggers()
    {
        Qor::Draxel::Utility::SetLoggerSource(_previous);
        s_current = nullptr;
    }
    RotatingLoggers(const RotatingLoggers&) = delete;
    RotatingLoggers& operator=(const RotatingLoggers&) = delete;

    // What was received, in order; each item must have come from the next call of GetLogger().
    std::vector<std::string> TextsEachOnItsOwnCall() const
    {
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < _received.size(); ++i) {
            EXPECT_EQ(_received[i].logger, i % LoggerCount)
                << "\"" << _received[i].text << "\" came on logger " << _received[i].logger
                << ", not on the one that call " << i << " of GetLogger() gave";
            texts.push_back(_received[i].text);
        }
        EXPECT_EQ(_calls, _received.size()) << "GetLogger() calls against lines and reports";
        return texts;
    }
    void Clear()
    {
        _received.clear();
        _calls = 0;
    }

private:
    static qordebug::logger& Next()
    {
        RotatingLoggers& self = *s_current;
        return self._loggers[self._calls++ % LoggerCount];
    }

    static RotatingLoggers* s_current;
    qordebug::logger _loggers[LoggerCount];
    std::size_t _calls = 0;
    std::vector<Received> _received;
    Qor::Draxel::Utility::LoggerSource _previous = nullptr;
};

RotatingLoggers* RotatingLoggers::s_current = nullptr;

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
                  "exist!\"\"" + signature,
                  "Mounting directory: missing", "   -> path: " + (dir / "missing"), "   -> target: b",
                  "ensure: \"qorfile::direxists( p_source ) && \"ERROR: AssetLibrary: Asset directory does not "
                  "exist!\"\"" + signature,
                  "ensure: \"_state->priorities.find( p_source ) == _state->priorities.end()\"" + signature,
                  "Mounting directory: data.zip", "   -> path: " + archive, "   -> target: c"}));
}

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
              (std::vector<std::string>{"root directory  : " + (dir / "res"),
                                        "image directory : " + (dir / "res/images"),
                                        "font directory  : " + (dir / "res/fonts"),
                                        "assets directory  : " + (dir / "res/assets"),
                                        "temporary directory : " + (dir / "res/tmp"),
                                        "searching: " + (dir / "res/fonts"), "\t\t+font : verdana",
                                        "system font : C:\\Windows\\Fonts", "Mounting archive: " + builtIn.name,
                                        "   -> path: " + (dir / "res/assets") + "/" + builtIn.name,
                                        "   -> target: "}));

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
