// The rules the archive core applies to names: which archives are read scrambled, which
// stored names name a folder, whether a name's bytes are UTF-8 (the only encoding the UTF-8
// flag may claim), and a name without its '.' components (bsdtar stores "./Data/a.txt" for
// "Data/a.txt"). The volume, the writer, the diagnostics and draxel-assets all ask here.
#pragma once

#include <Assets/AssetPath.h>

#include <cstddef>
#include <cstdint>
#include <string>
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

// The length of the well-formed UTF-8 sequence at p_text[p_at] (1 for an ASCII byte, up to 4),
// or 0 where none starts there: shortest forms only, no surrogates, nothing past U+10FFFF.
inline std::size_t Utf8SequenceLength(std::string_view p_text, std::size_t p_at)
{
    const unsigned char lead = static_cast<unsigned char>(p_text[p_at]);
    std::size_t follow = 0;
    std::uint32_t point = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xe0) == 0xc0)
        follow = 1, point = lead & 0x1f;
    else if ((lead & 0xf0) == 0xe0)
        follow = 2, point = lead & 0x0f;
    else if ((lead & 0xf8) == 0xf0)
        follow = 3, point = lead & 0x07;
    else
        return 0;
    if (follow >= p_text.size() - p_at)
        return 0;
    for (std::size_t k = 1; k <= follow; ++k) {
        const unsigned char next = static_cast<unsigned char>(p_text[p_at + k]);
        if ((next & 0xc0) != 0x80)
            return 0;
        point = (point << 6) | (next & 0x3f);
    }
    const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (point < least[follow] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
        return 0;
    return follow + 1;
}

// Whether p_text is well-formed UTF-8 throughout.
inline bool IsUtf8(std::string_view p_text)
{
    for (std::size_t at = 0; at < p_text.size();) {
        const std::size_t length = Utf8SequenceLength(p_text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

// Whether p_text has a byte past ASCII.
inline bool HasNonAscii(std::string_view p_text)
{
    for (const char character : p_text)
        if (static_cast<unsigned char>(character) >= 0x80)
            return true;
    return false;
}

inline bool IsSeparator(char p_character)
{
    return p_character == '/' || p_character == '\\';
}

// p_name without its "." components, each taken with the separator behind it: "./Data/a.txt"
// becomes "Data/a.txt", "a/./b" becomes "a/b", "./" and "." become empty. Nothing else changes.
inline std::string WithoutDotComponents(std::string_view p_name)
{
    std::string kept;
    std::size_t begin = 0;
    while (begin < p_name.size()) {
        std::size_t end = begin;
        while (end < p_name.size() && !IsSeparator(p_name[end]))
            ++end;
        const std::size_t next = end < p_name.size() ? end + 1 : end;
        if (p_name.substr(begin, end - begin) != ".")
            kept.append(p_name.substr(begin, next - begin));
        begin = next;
    }
    return kept;
}

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
