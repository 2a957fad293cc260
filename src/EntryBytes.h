// Mapped memory for the bytes of one large opened archive entry.
//
// Open holds exactly the bytes it reads, never more than the archive holds, and writes every
// one of them, so nothing here is zero-filled by the library. A small entry lives in the
// allocation of its own stream (EntryStream.h). From 32 MiB on, where glibc would map fresh
// pages for the block anyway (its largest dynamic mmap threshold), the entry takes its block
// straight from the system instead (Platform::MapZeroedBlock, which on Linux asks for
// transparent huge pages: its first touches then fault and clear 2 MiB at a time instead of
// 4 KiB, which is most of the cost of reading a big entry). Under
// AddressSanitizer nothing is mapped, so that every block's bounds are checked and the
// sanitizer's allocation limit applies to it.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

#include "Platform.h"

#if defined(__SANITIZE_ADDRESS__)
#define ASSETS_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ASSETS_UNDER_ASAN 1
#endif
#endif
#ifndef ASSETS_UNDER_ASAN
#define ASSETS_UNDER_ASAN 0
#endif

namespace Qor {
namespace Draxel {
namespace Assets {

class EntryBytes {
public:
    // Whether p_size bytes are mapped here rather than allocated with their stream.
    static bool Maps(std::size_t p_size) { return MapsLarge && p_size >= MappedSize; }

    EntryBytes() = default;
    // Maps p_size bytes; std::bad_alloc when the system has no room for them.
    explicit EntryBytes(std::size_t p_size) : _size(p_size)
    {
        _data = static_cast<char*>(Platform::MapZeroedBlock(p_size));
        if (!_data)
            throw std::bad_alloc();
    }
    ~EntryBytes()
    {
        if (_data)
            Platform::UnmapZeroedBlock(_data, _size);
    }
    EntryBytes(const EntryBytes&) = delete;
    EntryBytes& operator=(const EntryBytes&) = delete;
    EntryBytes& operator=(EntryBytes&& p_other) noexcept
    {
        std::swap(_data, p_other._data);
        std::swap(_size, p_other._size);
        return *this;
    }

    char* data() { return _data; }

private:
    static constexpr std::size_t MappedSize = std::size_t(32) << 20;
#if ASSETS_UNDER_ASAN
    static constexpr bool MapsLarge = false;
#else
    static constexpr bool MapsLarge = true;
#endif

    char* _data = nullptr;
    std::size_t _size = 0;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
