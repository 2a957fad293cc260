// The library's one way of reporting a failed precondition: only a false condition builds
// the message and reaches the logger's ensure. The result tells a check that guards a use
// whether it may go on (a host's ensure handler may return).
#pragma once

#include <QorDraxelUtility.h>

#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

// While a batch read works ahead of the order it reports in (DeferredOpen.h), a failed check
// is kept in the list this points to instead of reported, and the work goes on as after an
// ensure handler that returns.
inline thread_local std::vector<const char*>* t_deferredReports = nullptr;

inline bool Check(bool p_condition, const char* p_message)
{
    if (!p_condition) {
        if (t_deferredReports)
            t_deferredReports->push_back(p_message);
        else
            Utility::GetLogger().ensure(false, p_message);
    }
    return p_condition;
}

// Keeps this thread's failed checks in p_reports while alive.
class DeferReports {
public:
    explicit DeferReports(std::vector<const char*>& p_reports) : _previous(t_deferredReports)
    {
        t_deferredReports = &p_reports;
    }
    ~DeferReports() { t_deferredReports = _previous; }
    DeferReports(const DeferReports&) = delete;
    DeferReports& operator=(const DeferReports&) = delete;

private:
    std::vector<const char*>* _previous;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
