// The family's shared logger, exception base and environment flags.
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

// The one logger of the process.
QOR_HOST_API qordebug::logger& GetLogger();

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
