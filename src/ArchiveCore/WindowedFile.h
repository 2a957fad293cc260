// WindowedFile: the diagnostics' reads of an archive file by offset, bounded by the file,
// through the same positioned reads as the volume's FileSource.
#pragma once

#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Archive {

// An archive file read by offset, a whole count or nothing, for readers that must not follow
// the archive's fields (the diagnostics): small reads (records and names) go through one
// window of 64 KiB, larger ones straight to their destination. Nothing is ever sized beyond
// what the file holds. A file that cannot be opened keeps the system's reason.
class WindowedFile {
public:
    WindowedFile(const WindowedFile&) = delete;
    WindowedFile& operator=(const WindowedFile&) = delete;

    explicit WindowedFile(const std::string& p_path)
    {
        errno = 0;
        _file = Platform::OpenForReading(p_path.c_str());
        if (_file == Platform::NoFile) {
            _error = std::strerror(errno != 0 ? errno : ENOENT);
            return;
        }
        std::int64_t length = 0;
        if (!Platform::FileLength(_file, length) || length < 0) {
            _error = "cannot find its length";
            return;
        }
        _length = static_cast<std::uint64_t>(length);
    }

    ~WindowedFile() { Platform::CloseFile(_file); }

    bool Opened() const { return _error.empty(); }
    const std::string& Error() const { return _error; }
    std::uint64_t Length() const { return _length; }

    // The p_count bytes at p_offset, when the file holds them all.
    bool Read(std::uint64_t p_offset, std::size_t p_count, char* p_out)
    {
        if (!Opened() || p_offset > _length || p_count > _length - p_offset)
            return false;
        if (p_count > WindowSize)
            return ReadDirect(p_offset, p_count, p_out);
        if (p_offset < _windowStart || p_offset + p_count > _windowStart + _window.size()) {
            const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(WindowSize, _length - p_offset));
            _window.resize(size);
            if (!ReadDirect(p_offset, size, _window.data())) {
                _window.clear();
                return false;
            }
            _windowStart = p_offset;
        }
        std::memcpy(p_out, _window.data() + (p_offset - _windowStart), p_count);
        return true;
    }

private:
    static constexpr std::size_t WindowSize = std::size_t(64) << 10;

    // The whole count or nothing: a file cut shorter since it was measured reads as missing.
    bool ReadDirect(std::uint64_t p_offset, std::size_t p_count, char* p_out)
    {
        for (std::size_t done = 0; done < p_count;) {
            const std::ptrdiff_t count = Platform::PositionedRead(_file, p_out + done, p_count - done,
                                                                  static_cast<std::int64_t>(p_offset + done));
            if (count <= 0)
                return false;
            done += static_cast<std::size_t>(count);
        }
        return true;
    }

    Platform::FileHandle _file = Platform::NoFile;
    std::string _error;
    std::uint64_t _length = 0;
    std::vector<char> _window;
    std::uint64_t _windowStart = 0;
};

} // namespace Archive
} // namespace Assets
} // namespace Draxel
} // namespace Qor
