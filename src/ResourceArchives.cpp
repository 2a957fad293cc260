// The built-in archive list. Name and key are kept XOR-scrambled with a repeating 4-byte mask
// so that neither stands in the binary as plain text; each call unscrambles afresh.
#include "ResourceArchives.h"

#include <Assets/Resource.h>

#include <cstddef>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

const unsigned char BuiltInMask[4] = {0x5a, 0xc3, 0x17, 0x8e};

const unsigned char StoredArchiveName[11] = {0x3e, 0xb1, 0x76, 0xf6, 0x3f, 0xaf, 0x39, 0xfe, 0x3b, 0xa0, 0x7c};

const unsigned char StoredArchiveKey[32] = {0x0b, 0xac, 0x65, 0xa3, 0x1e, 0xb1, 0x76, 0xf6, 0x3f, 0xaf, 0x3a,
                                            0xcf, 0x29, 0xb0, 0x72, 0xfa, 0x29, 0xee, 0x55, 0xfb, 0x33, 0xaf,
                                            0x63, 0xe7, 0x34, 0xee, 0x5c, 0xeb, 0x23, 0xee, 0x27, 0xbf};

template <std::size_t Length>
std::string Unmask(const unsigned char (&p_stored)[Length])
{
    std::string text(reinterpret_cast<const char*>(p_stored), Length);
    for (std::size_t i = 0; i < Length; ++i)
        text[i] = static_cast<char>(text[i] ^ BuiltInMask[i % 4]);
    return text;
}

} // namespace

std::vector<BuiltInArchive> BuiltInArchives()
{
    return {BuiltInArchive{Unmask(StoredArchiveName), Unmask(StoredArchiveKey)}};
}

std::string Resource::BuiltInArchiveName()
{
    return BuiltInArchives().front().name;
}

std::string Resource::BuiltInArchiveKey()
{
    return BuiltInArchives().front().key;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
