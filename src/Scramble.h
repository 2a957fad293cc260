// The scramble transform for readers of archives beside the archive volume, which keeps it
// (ArchiveVolume.cpp): one definition, so that every reader unscrambles alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {

// Unscrambles p_count bytes in place that are part of a run read from the archive offset
// p_runStart, beginning p_skip bytes into that run: exactly what unscrambling the whole run
// at once does to those bytes. A record or a name is a run of its own (p_skip 0); an entry's
// data is one run from its first byte, however it is read. p_key must not be empty.
void UnscrambleRun(char* p_bytes, std::size_t p_count, std::int64_t p_runStart, std::uint64_t p_skip,
                   const std::string& p_key);

} // namespace Assets
} // namespace Draxel
} // namespace Qor
