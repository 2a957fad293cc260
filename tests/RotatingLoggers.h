// A logger source for the logging tests: hands out several loggers in turn, one per call of
// GetLogger(), and records which of them received each line and each failed check.
#pragma once

#include <QorDraxelUtility.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

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
            _loggers[i].set_ensure_handler([this, i](const std::string& p_message) {
                _received.push_back(Received{i, "ensure: " + p_message});
            });
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

    static inline RotatingLoggers* s_current = nullptr;
    qordebug::logger _loggers[LoggerCount];
    std::size_t _calls = 0;
    std::vector<Received> _received;
    Qor::Draxel::Utility::LoggerSource _previous = nullptr;
};

} // namespace testing_support
