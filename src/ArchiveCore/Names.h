// The two rules the archive core applies to names: which archives are read scrambled, and
// which stored names name a folder. The volume, the writer, the diagnostics and
// draxel-assets all ask here.
#pragma once

#include <Assets/AssetPath.h>

#include <string_view>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Zip {

// An archive is read scrambled unless its extension (without the dot) is exactly "zip": the
// comparison is case-sensitive, so "ZIP" is scrambled too.
inline bool IsScrambledArchive(const AssetPath& p_archive)
{
    return p_archive.Extension() != "zip";
}

// A stored name that ends in a slash or a backslash names a folder (a directory entry).
inline bool NamesFolder(std::string_view p_name)
{
    return !p_name.empty() && (p_name.back() == '/' || p_name.back() == '\\');
}

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
