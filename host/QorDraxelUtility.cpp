// The shared logger instance, the exception base and environment flags.
#include "QorDraxelUtility.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace Qor {
namespace Draxel {
namespace Utility {

qordebug::logger& GetLogger()
{
    static qordebug::logger instance;
    return instance;
}

Exception::~Exception() = default;

bool Environment::Enabled(const std::string& p_name)
{
    const char* raw = std::getenv(p_name.c_str());
    if (!raw)
        return false;
    std::string value(raw);
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return value == "1" || value == "true" || value == "yes" || value == "on";
}

Environment::Variable EnvironmentFlags::AssetsMountResourceRoot()
{
    return Environment::Variable{"AssetsMountResourceRoot"};
}

} // namespace Utility
} // namespace Draxel
} // namespace Qor
