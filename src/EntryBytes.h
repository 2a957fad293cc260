// The bytes of one opened archive entry.
//
// A local header may claim up to 4 GiB that the archive does not hold; the stream must still
// yield the claimed size, with zeros where the archive has no bytes. The storage therefore
// comes zero-filled from calloc, which for large blocks maps fresh pages without writing
// them: only the pages the reader fills (or unscrambles) are ever committed. A claim that the
// address space cannot hold gives std::bad_alloc, with nothing allocated.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace Qor {
namespace Draxel {
namespace Assets {

class EntryBytes {
public:
    explicit EntryBytes(std::size_t p_size) : _data(static_cast<char*>(std::calloc(p_size ? p_size : 1, 1))), _size(p_size)
    {
        if (!_data)
            throw std::bad_alloc();
    }
    ~EntryBytes() { std::free(_data); }
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
    char* _data;
    std::size_t _size;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
