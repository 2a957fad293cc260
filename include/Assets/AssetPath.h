// AssetPath: the key of the virtual asset tree.
//
// A value holding one normalised text: backslashes become '/', trailing slashes are dropped
// (a text of slashes alone becomes "/"), and nothing else changes -- no '.'/'..' handling, no
// case folding, no current directory. The empty path is the root. Paths compare and order
// byte by byte (unsigned), and every ordered map keyed by AssetPath uses that order.
#pragma once

#include <Assets/Export.h>

#include <QorFile.h>

#include <string>
#include <string_view>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API AssetPath {
public:
    static const char DirectorySeparator;

    AssetPath();
    AssetPath(const std::string& p_text);
    AssetPath(const qorfile::filepath& p_path);
    AssetPath(const AssetPath& p_other);
    ~AssetPath();

    AssetPath& operator=(const AssetPath& p_other);
    AssetPath& operator=(const qorfile::filepath& p_path);
    AssetPath& operator=(std::string p_text);

    bool operator==(const AssetPath& p_other) const;
    bool operator<(const AssetPath& p_other) const;
    // The text, NUL-terminated; valid until this object is assigned or destroyed.
    operator const char*() const;

    // Join: exactly one '/' at the seam; the right side's leading slashes are dropped.
    AssetPath operator+(const AssetPath& p_other) const;
    // The extension of the last component, without its dot; empty when there is none.
    std::string Extension() const;
    // True when p_path is this path or lies below it (textually); the empty path is the
    // parent of every path.
    bool IsParentOf(const AssetPath& p_path) const;
    // The rest of this path below p_base, or this path unchanged when p_base is no parent.
    AssetPath RelativeTo(const AssetPath& p_base) const;
    std::string str() const;
    // The text without a copy; valid until this object is assigned or destroyed.
    std::string_view Text() const { return _text; }

private:
    ASSETS_LOCAL static std::string Normalize(const std::string& p_text);

    std::string _text;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
