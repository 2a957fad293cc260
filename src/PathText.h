// The parent test and the cut below a base on the texts of normalised asset paths, without
// building paths: AssetPath's IsParentOf and RelativeTo, and every volume that cuts its mount
// point off a path, use these two.
#pragma once

#include <Assets/AssetPath.h>

#include <string_view>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace PathText {

// p_base is p_path or lies above it (textually); the empty base lies above every path.
inline bool IsParentOf(std::string_view p_base, std::string_view p_path)
{
    if (p_base.empty())
        return true;
    if (p_base.size() > p_path.size() || p_path.compare(0, p_base.size(), p_base) != 0)
        return false;
    return p_base.size() == p_path.size() || p_path[p_base.size()] == AssetPath::DirectorySeparator;
}

// The rest of p_path below p_base, less the one slash at the seam; p_path whole when p_base
// is no parent of it. The rest of a normalised text is normalised already.
inline std::string_view RelativeTo(std::string_view p_path, std::string_view p_base)
{
    if (!IsParentOf(p_base, p_path))
        return p_path;
    std::string_view rest = p_path.substr(p_base.size());
    if (!rest.empty() && rest.front() == AssetPath::DirectorySeparator)
        rest.remove_prefix(1);
    return rest;
}

} // namespace PathText
} // namespace Assets
} // namespace Draxel
} // namespace Qor
