// UTF-8 <-> UTF-16 for the wide-character Windows API, which takes paths as UTF-16 (the narrow
// API would read them in the ANSI code page). Header-only on purpose: the host layer, the
// library and draxel-assets are separate binaries, and each converts the same way without
// exporting anything. Windows code only; not installed.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <string>

namespace widetext {

// Text longer than an int counts converts to nothing; no path comes near it.
inline std::wstring Widen(const char* p_text, std::size_t p_length)
{
    if (p_length == 0 || p_length > std::size_t(1) << 30)
        return std::wstring();
    const int count = static_cast<int>(p_length);
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, p_text, count, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, p_text, count, &wide[0], length);
    return wide;
}

inline std::wstring Widen(const std::string& p_text)
{
    return Widen(p_text.data(), p_text.size());
}

inline std::string Narrow(const wchar_t* p_text, std::size_t p_length)
{
    if (p_length == 0 || p_length > std::size_t(1) << 30)
        return std::string();
    const int count = static_cast<int>(p_length);
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, p_text, count, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, p_text, count, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

// A null-terminated text.
inline std::string Narrow(const wchar_t* p_text)
{
    return Narrow(p_text, std::char_traits<wchar_t>::length(p_text));
}

} // namespace widetext
