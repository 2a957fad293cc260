// The scramble transform for readers of archives beside the archive volume, which keeps it
// (ArchiveVolume.cpp): one definition, so that every reader unscrambles alike. And the bulk
// XOR the volume does it with: a run of the buffer that starts at key index 0 is XORed with
// the whole key, eight bytes at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

namespace Scrambling {

inline void XorBytes(unsigned char* p_bytes, const unsigned char* p_key, std::size_t p_count)
{
    std::size_t i = 0;
    for (; i + 8 <= p_count; i += 8) {
        std::uint64_t word, key;
        std::memcpy(&word, p_bytes + i, 8);
        std::memcpy(&key, p_key + i, 8);
        word ^= key;
        std::memcpy(p_bytes + i, &word, 8);
    }
    for (; i < p_count; ++i)
        p_bytes[i] ^= p_key[i];
}

// p_pattern is the key repeated a whole number of times; p_index is a key index below the
// key's length, so it is the same offset's index into the pattern.
inline void UnscrambleRuns(unsigned char* p_bytes, std::size_t p_count, std::size_t p_index,
                           const unsigned char* p_pattern, std::size_t p_patternLength)
{
    while (p_count > 0) {
        const std::size_t run = std::min(p_count, p_patternLength - p_index);
        XorBytes(p_bytes, p_pattern + p_index, run);
        p_bytes += run;
        p_count -= run;
        p_index = 0;
    }
}

// The key repeated to at least p_least bytes, a whole number of times.
inline std::string RepeatKey(const std::string& p_key, std::size_t p_least)
{
    std::string pattern = p_key;
    while (!pattern.empty() && pattern.size() < p_least)
        pattern += pattern;
    return pattern;
}

} // namespace Scrambling

} // namespace Assets
} // namespace Draxel
} // namespace Qor
