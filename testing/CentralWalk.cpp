// The independent central-directory walk.
#include "CentralWalk.h"

#include <cstdint>

namespace testing_support {

namespace {

std::uint32_t Get(const std::string& p_bytes, std::size_t p_offset, int p_width)
{
    std::uint32_t value = 0;
    for (int i = p_width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(p_bytes[p_offset + i]);
    return value;
}

std::string Plain(const std::string& p_archive, const std::string& p_key)
{
    if (p_key.empty())
        return p_archive;
    std::string plain = p_archive;
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<char>(plain[i] ^ p_key[(i & 0xffffffffu) % p_key.size()]);
    return plain;
}

} // namespace

std::vector<std::string> CentralNames(const std::string& p_archive, const std::string& p_key, std::size_t p_trailer)
{
    std::vector<std::string> names;
    if (p_archive.size() < 22 + p_trailer)
        return names;
    const std::string plain = Plain(p_archive, p_key);
    const std::size_t end = plain.size() - p_trailer - 22;
    if (Get(plain, end, 4) != 0x06054b50)
        return names;
    const std::size_t count = Get(plain, end + 8, 2);
    std::size_t at = Get(plain, end + 16, 4);
    for (std::size_t i = 0; i < count; ++i) {
        if (at > plain.size() || plain.size() - at < 46)
            break;
        const std::size_t nameLength = Get(plain, at + 28, 2);
        const std::size_t skipped = Get(plain, at + 30, 2) + Get(plain, at + 32, 2);
        at += 46;
        if (plain.size() - at < nameLength)
            break;
        if (nameLength > 0)
            names.push_back(plain.substr(at, nameLength));
        at += nameLength + skipped;
    }
    return names;
}

std::size_t CentralCount(const std::string& p_archive, const std::string& p_key, std::size_t p_trailer)
{
    if (p_archive.size() < 22 + p_trailer)
        return 65535; // the record is read from wherever the seek lands: assume the worst
    const std::string plain = Plain(p_archive, p_key);
    const std::size_t end = plain.size() - p_trailer - 22;
    return Get(plain, end + 8, 2); // the walk goes on with an invalid record too
}

} // namespace testing_support
