// The shared logger instance and its replaceable source, the exception base and environment flags.
#include "QorDraxelUtility.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>

namespace Qor {
namespace Draxel {
namespace Utility {

namespace {

std::atomic<LoggerSource> g_loggerSource{nullptr};

} // namespace

qordebug::logger& GetLogger()
{
    if (const LoggerSource source = g_loggerSource.load(std::memory_order_acquire))
        return source();
    static qordebug::logger instance;
    return instance;
}

LoggerSource SetLoggerSource(LoggerSource p_source)
{
    return g_loggerSource.exchange(p_source, std::memory_order_acq_rel);
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
