// The names Windows stores under another name or reads as something else, which extraction on
// Windows refuses (PlatformWindows.cpp): a rule about names alone, apart from the system calls.
#pragma once

#include <cctype>
#include <cstring>
#include <string>

namespace draxel_tool {
namespace platform {

// Why Windows would not store p_part under its own name; empty when it would. A device name
// (with any extension) opens the device, a ':' names a data stream of another file, and a
// trailing dot or space is dropped, so that two names would meet in one file.
inline std::string AliasedName(const std::string& p_part)
{
    const std::string quoted = "\"" + p_part + "\"";
    for (const char character : p_part)
        if (static_cast<unsigned char>(character) < 32 || std::strchr("<>:\"|?*\\", character) != nullptr)
            return "refused, Windows does not allow " +
                   (static_cast<unsigned char>(character) < 32 ? "control characters"
                                                               : "'" + std::string(1, character) + "'") +
                   " in a file name (" + quoted + ")";
    if (p_part.back() == '.' || p_part.back() == ' ')
        return "refused, Windows drops the trailing dot or space of " + quoted;
    std::string stem = p_part.substr(0, p_part.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& character : stem)
        character = static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    static const char* const devices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3",   "COM4",
                                          "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2",   "LPT3",
                                          "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};
    for (const char* device : devices)
        if (stem == device)
            return "refused, Windows opens the device " + stem + " for " + quoted;
    return std::string();
}

} // namespace platform
} // namespace draxel_tool
