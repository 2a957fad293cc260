// The normalisation of asset paths on text in place, in one place: AssetPath normalises every
// text it is made of with it, and the archive directory each stored name inside its own text,
// without a copy.
#pragma once

#include <Assets/AssetPath.h>

#include <algorithm>
#include <cstddef>

namespace Qor {
namespace Draxel {
namespace Assets {

// Backslashes become slashes and trailing slashes go (a text of slashes alone keeps one).
// Returns the normalised text's length; the bytes behind it are left as they are.
inline std::size_t NormalizePathText(char* p_text, std::size_t p_length)
{
    std::replace(p_text, p_text + p_length, '\\', static_cast<char>(AssetPath::DirectorySeparator));
    while (p_length > 1 && p_text[p_length - 1] == AssetPath::DirectorySeparator)
        --p_length;
    return p_length;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
