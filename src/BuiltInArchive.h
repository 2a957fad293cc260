// The built-in archive list: the file name of the application's own archive inside the assets
// directory, and its scramble key. The resources mount it (Resource.cpp); the tool that packs
// that archive includes this header too. Neither string belongs to the installed interface: the
// header is not installed and everything in it has internal linkage, so no binary exports it.
//
// Both strings are stored XOR-scrambled with a repeating 4-byte mask so that neither stands in
// a binary as plain text, and are unmasked afresh for each list. The mask is read through
// volatile access: an optimiser that could see its value would unmask at compile time and store
// the plain text in the binary after all (at -O3 it does).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace {

struct BuiltInArchive {
    std::string name;
    std::string key;
};

const volatile unsigned char BuiltInMask[4] = {0x5a, 0xc3, 0x17, 0x8e};

const unsigned char StoredArchiveName[11] = {0x3e, 0xb1, 0x76, 0xf6, 0x3f, 0xaf, 0x39, 0xfe, 0x3b, 0xa0, 0x7c};

const unsigned char StoredArchiveKey[32] = {0x0b, 0xac, 0x65, 0xa3, 0x1e, 0xb1, 0x76, 0xf6, 0x3f, 0xaf, 0x3a,
                                            0xcf, 0x29, 0xb0, 0x72, 0xfa, 0x29, 0xee, 0x55, 0xfb, 0x33, 0xaf,
                                            0x63, 0xe7, 0x34, 0xee, 0x5c, 0xeb, 0x23, 0xee, 0x27, 0xbf};

// Exactly Length stored bytes, whatever their values (a stored byte may be 0).
template <std::size_t Length>
std::string Unmask(const unsigned char (&p_stored)[Length])
{
    std::string text(reinterpret_cast<const char*>(p_stored), Length);
    for (std::size_t i = 0; i < Length; ++i)
        text[i] = static_cast<char>(text[i] ^ BuiltInMask[i % 4]);
    return text;
}

// A fresh list on each call: the unmasked strings live only in it and in what its caller keeps.
inline std::vector<BuiltInArchive> BuiltInArchives()
{
    return {BuiltInArchive{Unmask(StoredArchiveName), Unmask(StoredArchiveKey)}};
}

} // namespace
} // namespace Assets
} // namespace Draxel
} // namespace Qor
