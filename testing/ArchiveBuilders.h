// Building archives for tests, fuzz targets and benchmarks: our writer into a string, byte patches.
#pragma once

#include <Assets/ArchiveWriter.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ArchiveItem {
    std::string name;
    std::string bytes;
    bool directory = false;
};

// The archive bytes our writer makes of p_items, scrambled with p_key when it is not empty.
std::string MakeArchive(const std::vector<ArchiveItem>& p_items, const std::string& p_key = std::string(),
                        bool p_trailer = false);
// p_bytes XORed with p_key by offset, starting at p_offset.
std::string Scramble(std::string p_bytes, const std::string& p_key, std::uint64_t p_offset = 0);

void Put16(std::string& p_bytes, std::size_t p_offset, std::uint16_t p_value);
void Put32(std::string& p_bytes, std::size_t p_offset, std::uint32_t p_value);
std::uint32_t Get32(const std::string& p_bytes, std::size_t p_offset);
std::uint16_t Get16(const std::string& p_bytes, std::size_t p_offset);
// Offset of the central directory header of entry p_index (0-based) of a plain archive.
std::size_t CentralHeaderOffset(const std::string& p_archive, std::size_t p_index);
// Offset of the local header of entry p_index, as its central header gives it.
std::size_t LocalHeaderOffset(const std::string& p_archive, std::size_t p_index);

} // namespace testing_support
