// An independent, bounds-checked walk over an archive's central directory: what a reader of
// the archive must list, for checking the library against it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace testing_support {

// The names the central directory of p_archive lists, unscrambled with p_key when it is not
// empty, with the end record p_trailer bytes before the end. Stops at the first record that
// does not fit.
std::vector<std::string> CentralNames(const std::string& p_archive, const std::string& p_key, std::size_t p_trailer);

// The count of central headers the end record claims, valid or not (where CentralNames
// looks for it); 65 535 when the archive is too short to hold the record.
std::size_t CentralCount(const std::string& p_archive, const std::string& p_key, std::size_t p_trailer);

} // namespace testing_support
