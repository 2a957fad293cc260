// Archive builders: our writer into a string, scrambling and little-endian patches.
#include "ArchiveBuilders.h"

#include <sstream>
#include <stdexcept>

namespace testing_support {

std::string MakeArchive(const std::vector<ArchiveItem>& p_items, const std::string& p_key, bool p_trailer)
{
    std::ostringstream out;
    Qor::Draxel::Assets::ArchiveWriter writer(out, p_key);
    for (const ArchiveItem& item : p_items) {
        if (item.directory)
            writer.AddDirectory(item.name);
        else
            writer.AddBytes(item.name, item.bytes);
    }
    writer.Finish(p_trailer);
    return out.str();
}

std::string Scramble(std::string p_bytes, const std::string& p_key, std::uint64_t p_offset)
{
    for (std::size_t i = 0; i < p_bytes.size(); ++i)
        p_bytes[i] = static_cast<char>(p_bytes[i] ^ p_key[(p_offset + i) % p_key.size()]);
    return p_bytes;
}

void Put16(std::string& p_bytes, std::size_t p_offset, std::uint16_t p_value)
{
    p_bytes.at(p_offset) = static_cast<char>(p_value & 0xff);
    p_bytes.at(p_offset + 1) = static_cast<char>(p_value >> 8);
}

void Put32(std::string& p_bytes, std::size_t p_offset, std::uint32_t p_value)
{
    for (int i = 0; i < 4; ++i)
        p_bytes.at(p_offset + i) = static_cast<char>((p_value >> (8 * i)) & 0xff);
}

std::uint16_t Get16(const std::string& p_bytes, std::size_t p_offset)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(p_bytes.at(p_offset)) |
                                      (static_cast<unsigned char>(p_bytes.at(p_offset + 1)) << 8));
}

std::uint32_t Get32(const std::string& p_bytes, std::size_t p_offset)
{
    return static_cast<std::uint32_t>(Get16(p_bytes, p_offset)) |
           (static_cast<std::uint32_t>(Get16(p_bytes, p_offset + 2)) << 16);
}

std::size_t CentralHeaderOffset(const std::string& p_archive, std::size_t p_index)
{
    std::size_t offset = Get32(p_archive, p_archive.size() - 22 + 16);
    for (std::size_t i = 0; i < p_index; ++i)
        offset += 46 + Get16(p_archive, offset + 28) + Get16(p_archive, offset + 30) + Get16(p_archive, offset + 32);
    if (Get32(p_archive, offset) != 0x02014b50)
        throw std::runtime_error("not a central header");
    return offset;
}

std::size_t LocalHeaderOffset(const std::string& p_archive, std::size_t p_index)
{
    return Get32(p_archive, CentralHeaderOffset(p_archive, p_index) + 42);
}

} // namespace testing_support
