// The bytes of one opened archive entry.
//
// A local header may claim up to 4 GiB that the archive does not hold; the stream must still
// yield the claimed size, with zeros where the archive has no bytes. The storage therefore
// comes zero-filled from calloc, which for large blocks maps fresh pages without writing
// them: only the pages the reader fills (or unscrambles) are ever committed. A claim that the
// address space cannot hold gives std::bad_alloc, with nothing allocated.
//
// From 32 MiB on, where glibc would map fresh pages for every block anyway (its largest
// dynamic mmap threshold), an entry takes its block straight from the system instead
// (Platform::MapZeroedBlock, which on Linux asks for transparent huge pages: the first touches
// then fault and clear 2 MiB at a time instead of 4 KiB, most of the cost of reading a big
// entry). Pages still come only where the reader writes.
// Smaller blocks stay with calloc, which reuses freed memory that is already in place. Under
// AddressSanitizer every block comes from calloc, so that its bounds are checked and the
// sanitizer's allocation limit applies to it.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

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
    explicit EntryBytes(std::size_t p_size) : _data(nullptr), _size(p_size), _capacity(p_size), _mapped(MapsLarge && p_size >= MappedSize)
    {
        if (_mapped) {
            _data = static_cast<char*>(Platform::MapZeroedBlock(p_size));
            if (!_data)
                throw std::bad_alloc();
        } else {
            _data = static_cast<char*>(std::calloc(p_size ? p_size : 1, 1));
            if (!_data)
                throw std::bad_alloc();
        }
    }
    ~EntryBytes()
    {
        if (_mapped)
            Platform::UnmapZeroedBlock(_data, _capacity);
        else
            std::free(_data);
    }
    EntryBytes(const EntryBytes&) = delete;
    EntryBytes& operator=(const EntryBytes&) = delete;

    char* data() { return _data; }
    const char* data() const { return _data; }
    std::size_t size() const { return _size; }
    // Drops the last bytes from the view; the storage stays as it is.
    void Shrink(std::size_t p_size)
    {
        if (p_size < _size)
            _size = p_size;
    }

private:
    static constexpr std::size_t MappedSize = std::size_t(32) << 20;
#if ASSETS_UNDER_ASAN
    static constexpr bool MapsLarge = false;
#else
    static constexpr bool MapsLarge = true;
#endif

    char* _data;
    std::size_t _size;     // what the view shows
    std::size_t _capacity; // what was allocated
    bool _mapped;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
