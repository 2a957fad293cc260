// Normalisation, join, order, extension, parent test and relative path of asset paths.
#include <Assets/AssetPath.h>

#include "PathText.h"

#include <algorithm>
#include <cstring>

namespace Qor {
namespace Draxel {
namespace Assets {

const char AssetPath::DirectorySeparator = '/';

AssetPath::AssetPath() = default;
AssetPath::AssetPath(const std::string& p_text) : _text(Normalize(p_text)) {}
AssetPath::AssetPath(const qorfile::filepath& p_path) : _text(Normalize(p_path.str())) {}
AssetPath::AssetPath(const AssetPath& p_other) = default;
AssetPath::~AssetPath() = default;

AssetPath& AssetPath::operator=(const AssetPath& p_other) = default;

AssetPath& AssetPath::operator=(const qorfile::filepath& p_path)
{
    _text = Normalize(p_path.str());
    return *this;
}

// The text is taken by value as the class's interface has always declared it.
AssetPath& AssetPath::operator=(std::string p_text) // NOLINT(performance-unnecessary-value-param)
{
    _text = Normalize(p_text);
    return *this;
}

bool AssetPath::operator==(const AssetPath& p_other) const
{
    return _text == p_other._text;
}

bool AssetPath::operator<(const AssetPath& p_other) const
{
    // std::string's char_traits<char>::compare is memcmp, which compares unsigned bytes.
    return _text.compare(p_other._text) < 0;
}

AssetPath::operator const char*() const
{
    return _text.c_str();
}

AssetPath AssetPath::operator+(const AssetPath& p_other) const
{
    std::string joined = _text;
    const std::string& right = p_other._text;
    if (!right.empty()) {
        if (!joined.empty() && joined.back() != DirectorySeparator)
            joined += DirectorySeparator;
        std::string::size_type first = right.find_first_not_of(DirectorySeparator);
        if (first == std::string::npos)
            joined += right;
        else
            joined.append(right, first, std::string::npos);
    }
    return AssetPath(joined);
}

std::string AssetPath::Extension() const
{
    std::string::size_type slash = _text.rfind(DirectorySeparator);
    std::string::size_type from = slash == std::string::npos ? 0 : slash;
    std::string::size_type dot = _text.rfind('.');
    if (dot == std::string::npos || dot <= from)
        return std::string();
    return _text.substr(dot + 1);
}

bool AssetPath::IsParentOf(const AssetPath& p_path) const
{
    return PathText::IsParentOf(_text, p_path._text);
}

AssetPath AssetPath::RelativeTo(const AssetPath& p_base) const
{
    if (!p_base.IsParentOf(*this))
        return *this;
    AssetPath result;
    result._text = std::string(PathText::RelativeTo(_text, p_base._text));
    return result;
}

std::string AssetPath::str() const
{
    return _text;
}

std::string AssetPath::Normalize(const std::string& p_text)
{
    if (p_text.empty())
        return std::string();
    std::string text = p_text;
    std::replace(text.begin(), text.end(), '\\', DirectorySeparator);
    while (text.size() > 1 && text.back() == DirectorySeparator)
        text.pop_back();
    return text;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
