// Bounded reads and the line-end fold.
#include "StreamReading.h"

namespace testing_support {

std::string FoldLineEnds(const std::string& p_bytes)
{
    std::string folded;
    folded.reserve(p_bytes.size());
    for (std::size_t i = 0; i < p_bytes.size(); ++i) {
        if (p_bytes[i] == '\r' && i + 1 < p_bytes.size() && p_bytes[i + 1] == '\n')
            continue;
        folded += p_bytes[i];
    }
    return folded;
}

std::string ReadUpTo(std::istream& p_stream, std::size_t p_limit, bool& p_complete)
{
    std::string bytes(p_limit, '\0');
    p_stream.read(&bytes[0], static_cast<std::streamsize>(p_limit));
    bytes.resize(static_cast<std::size_t>(p_stream.gcount()));
    p_complete = bytes.size() < p_limit || p_stream.peek() == std::char_traits<char>::eof();
    return bytes;
}

} // namespace testing_support
