// One path's Open, done ahead of its turn by a batch read: the checks it failed (kept by
// DeferReports instead of reported) and the stream or the exception it ended with. Deliver
// reports those checks and hands out the result when the path's turn comes, so that a batch
// reports and throws exactly as one Open after the other would.
#pragma once

#include "Check.h"

#include <boost/shared_ptr.hpp>

#include <exception>
#include <istream>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

struct DeferredOpen {
    std::vector<const char*> reports;
    boost::shared_ptr<std::istream> stream;
    std::exception_ptr error;
    // Not done ahead: the path's volume is asked when its turn comes (or no volume has it).
    bool pending = true;

    boost::shared_ptr<std::istream> Deliver()
    {
        for (const char* message : reports)
            Check(false, message);
        if (error)
            std::rethrow_exception(error);
        return std::move(stream);
    }
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
