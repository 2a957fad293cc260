// A counting ensure handler.
#include "EnsureCounter.h"

#include <QorDraxelUtility.h>

namespace testing_support {

namespace {

std::size_t g_ensures = 0;

} // namespace

void UseEnsureHandler(bool p_returning, const std::function<void(const std::string&)>& p_observer)
{
    qordebug::logger& logger = Qor::Draxel::Utility::GetLogger();
    logger.set_line_sink(qordebug::line_sink());
    logger.set_ensure_handler([p_returning, p_observer](const std::string& p_message) {
        ++g_ensures;
        if (p_observer)
            p_observer(p_message);
        if (!p_returning)
            throw qordebug::ensure_failure(p_message);
    });
}

std::size_t EnsureCount()
{
    return g_ensures;
}

} // namespace testing_support
