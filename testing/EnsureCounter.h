// Counting the library's precondition reports, for the fuzz targets and the corpus test.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace testing_support {

// Installs a handler that counts reports, shows each to p_observer when there is one, and
// returns (p_returning) or throws qordebug::ensure_failure; switches log output off.
void UseEnsureHandler(bool p_returning, const std::function<void(const std::string&)>& p_observer = {});
std::size_t EnsureCount();

} // namespace testing_support
