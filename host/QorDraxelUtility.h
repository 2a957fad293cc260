// The family's shared logger (with a replaceable source), exception base and environment flags.
//
// Environment flags are read from the process environment under the flag's own name; a flag
// is on when its value is 1, true, yes or on, in any letter case.
#pragma once

#include "QorDebug.h"
#include "QorHostExport.h"

#include <exception>
#include <string>

namespace Qor {
namespace Draxel {
namespace Utility {

// The one logger of the process, or what the installed logger source gives at this call.
QOR_HOST_API qordebug::logger& GetLogger();

// Where GetLogger() takes the logger from. A host (or a test) that routes the library's output
// by the call installs a source, which is asked at every GetLogger() call; a null source
// restores the one logger. Returns the previous source.
using LoggerSource = qordebug::logger& (*)();
QOR_HOST_API LoggerSource SetLoggerSource(LoggerSource p_source);

class QOR_HOST_API Exception : public std::exception {
public:
    explicit Exception(const std::string& p_message) : _message(p_message) {}
    Exception(const Exception&) = default;
    ~Exception() override;
    const char* what() const noexcept override { return _message.c_str(); }

private:
    std::string _message;
};

class QOR_HOST_API Environment {
public:
    struct Variable {
        const char* name;
    };
    static bool Enabled(const std::string& p_name);
};

class QOR_HOST_API EnvironmentFlags {
public:
    static Environment::Variable AssetsMountResourceRoot();
};

} // namespace Utility
} // namespace Draxel
} // namespace Qor
