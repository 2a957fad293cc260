// Reading what a stream hands out, bounded, and the text-mode line-end rule to compare with.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace testing_support {

// CR LF to LF, left to right.
std::string FoldLineEnds(const std::string& p_bytes);

// Reads at most p_limit bytes; p_complete tells whether the stream ended within them.
std::string ReadUpTo(std::istream& p_stream, std::size_t p_limit, bool& p_complete);

} // namespace testing_support
