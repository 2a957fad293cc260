// Text mode of an archive entry: every CR LF becomes LF, left to right, matches not
// overlapping; a lone CR stays. The volume's Text mode and draxel-assets' cat -t both fold
// through EntryReader.h, which keeps a CR at a chunk's end for the next chunk. The directory
// volume's text mode imitates the host's C runtime instead, and keeps its own rules
// (FileStream.cpp).
#pragma once

#include <cstddef>
#include <cstring>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Zip {

// Folds a whole text in place; returns the count of bytes left.
inline std::size_t FoldLineEnds(char* p_bytes, std::size_t p_count)
{
    const char* read = p_bytes;
    const char* const end = p_bytes + p_count;
    char* write = p_bytes;
    while (read < end) {
        const char* cr = static_cast<const char*>(std::memchr(read, '\r', static_cast<std::size_t>(end - read)));
        const char* copyEnd = cr ? cr + 1 : end;
        if (write != read)
            std::memmove(write, read, static_cast<std::size_t>(copyEnd - read));
        write += copyEnd - read;
        read = copyEnd;
        // The CR just copied was the first of a CR LF: the LF takes its place.
        if (cr && read < end && *read == '\n') {
            write[-1] = '\n';
            ++read;
        }
    }
    return static_cast<std::size_t>(write - p_bytes);
}

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
