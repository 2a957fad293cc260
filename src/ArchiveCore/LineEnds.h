// Text mode of an archive entry: every CR LF becomes LF, left to right, matches not
// overlapping; a lone CR stays. One fold for the volume's Text mode (a whole entry at once)
// and draxel-assets' cat -t (an entry in chunks). The directory volume's text mode imitates
// the host's C runtime instead, and keeps its own rules (FileStream.cpp).
#pragma once

#include <cstddef>
#include <cstring>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Zip {

class LineEndFolder {
public:
    // Folds the text's next p_count bytes from p_in into p_out and returns the count written.
    // A CR at the end of the bytes waits for the next call (or Finish) to tell what follows
    // it. p_out has room for p_count + 1 bytes; it may be p_in itself only while no CR waits
    // (always for the text's first bytes).
    std::size_t Fold(const char* p_in, std::size_t p_count, char* p_out)
    {
        const char* read = p_in;
        const char* const end = p_in + p_count;
        char* write = p_out;
        if (_crWaits && read < end) {
            _crWaits = false;
            if (*read != '\n')
                *write++ = '\r';
        }
        while (read < end) {
            const char* cr = static_cast<const char*>(std::memchr(read, '\r', static_cast<std::size_t>(end - read)));
            const char* copyEnd = cr ? cr : end;
            if (write != read)
                std::memmove(write, read, static_cast<std::size_t>(copyEnd - read));
            write += copyEnd - read;
            read = copyEnd;
            if (!cr)
                break;
            if (cr + 1 == end) {
                _crWaits = true;
                break;
            }
            *write++ = cr[1] == '\n' ? '\n' : '\r';
            read = cr[1] == '\n' ? cr + 2 : cr + 1;
        }
        return static_cast<std::size_t>(write - p_out);
    }

    // The end of the text: a CR that waited stays, written to p_out. Returns 0 or 1.
    std::size_t Finish(char* p_out)
    {
        if (!_crWaits)
            return 0;
        _crWaits = false;
        *p_out = '\r';
        return 1;
    }

private:
    bool _crWaits = false;
};

// Folds a whole text in place; returns the count of bytes left.
inline std::size_t FoldLineEnds(char* p_bytes, std::size_t p_count)
{
    LineEndFolder folder;
    const std::size_t count = folder.Fold(p_bytes, p_count, p_bytes);
    return count + folder.Finish(p_bytes + count);
}

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
