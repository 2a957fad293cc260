// The library's one way of reporting a failed precondition: only a false condition builds
// the message and reaches the logger's ensure. The result tells a check that guards a use
// whether it may go on (a host's ensure handler may return).
#pragma once

#include <QorDraxelUtility.h>

namespace Qor {
namespace Draxel {
namespace Assets {

inline bool Check(bool p_condition, const char* p_message)
{
    if (!p_condition)
        Utility::GetLogger().ensure(false, p_message);
    return p_condition;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
