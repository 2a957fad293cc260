// The sources the archive walk and Open read from: StreamSource over any std::istream (an
// archive held in memory), FileSource over an archive file by positioned reads.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <memory>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Archive {

// The sources the walk and Open read from. Both offer the few std::istream operations they
// use -- tellg, seekg, read, gcount, eof, fail, good -- with the std::istream state rules:
//   - tellg on a stream that is not good sets failbit and gives -1;
//   - seekg first clears eofbit; on a failed stream it does nothing (failbit stays); a target
//     before the start sets failbit; a target past the end is allowed (a file stream seeks
//     there, and reads then find nothing);
//   - read on a stream that is not good sets failbit and extracts nothing; a short read sets
//     eofbit and failbit; gcount is the count extracted by the last read.
//
// StreamSource hands each operation to a std::istream (an archive inside another volume, or
// in memory). FileSource is what std::ifstream in binary mode does over an archive file, with
// positioned reads (pread) into a window that a seek does not discard, so that the central
// directory comes in one read and each Open reads its local header and small data at once.

class StreamSource {
public:
    explicit StreamSource(std::istream& p_stream) : _stream(p_stream) {}

    std::streamoff tellg() { return _stream.tellg(); }
    void seekg(std::streamoff p_offset, std::ios_base::seekdir p_direction) { _stream.seekg(p_offset, p_direction); }
    void read(char* p_bytes, std::size_t p_count) { _stream.read(p_bytes, static_cast<std::streamsize>(p_count)); }
    std::streamsize gcount() const { return _stream.gcount(); }
    bool eof() const { return _stream.eof(); }
    bool fail() const { return _stream.fail(); }
    bool good() const { return _stream.good(); }
    // The stream buffers as it pleases.
    void Prefetch(std::streamoff, std::size_t) {}

private:
    std::istream& _stream;
};

class FileSource {
public:
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Opens p_path for reading. p_measure takes the file's length, which only a seek from the
    // end needs. A directory opens as a failed stream, as OpenFileStream makes it.
    FileSource(const char* p_path, bool p_measure)
    {
        _file = ::open(p_path, O_RDONLY | O_CLOEXEC);
        if (_file < 0) {
            _fail = true;
            return;
        }
        if (p_measure) {
            struct stat info;
            if (::fstat(_file, &info) != 0 || S_ISDIR(info.st_mode))
                _fail = true;
            else
                _length = info.st_size;
            _measured = true;
        }
    }

    ~FileSource()
    {
        if (_file >= 0)
            ::close(_file);
    }

    std::streamoff tellg()
    {
        if (!good()) {
            _fail = true;
            return -1;
        }
        return _position;
    }

    void seekg(std::streamoff p_offset, std::ios_base::seekdir p_direction)
    {
        _eof = false;
        if (_fail)
            return;
        std::streamoff target = p_offset;
        if (p_direction == std::ios_base::cur)
            target += _position;
        else if (p_direction == std::ios_base::end)
            target += _length;
        if (target < 0)
            _fail = true;
        else
            _position = target;
    }

    void read(char* p_bytes, std::size_t p_count)
    {
        _gcount = 0;
        if (!good()) {
            _fail = true;
            return;
        }
        std::size_t done = 0;
        if (!InWindow(_position, p_count)) {
            if (p_count >= DirectRead)
                done = ReadAt(_position, p_bytes, p_count);
            else
                Fill(_position, std::max(p_count, _fillSize));
        }
        if (done == 0 && !_fail) {
            const std::streamoff from = _position - _windowStart;
            if (from >= 0 && from < static_cast<std::streamoff>(_windowLength))
                done = std::min(p_count, _windowLength - static_cast<std::size_t>(from));
            if (done > 0)
                std::memcpy(p_bytes, _window + from, done);
        }
        _position += static_cast<std::streamoff>(done);
        _gcount = static_cast<std::streamsize>(done);
        if (done < p_count) {
            _eof = true;
            _fail = true;
        }
    }

    std::streamsize gcount() const { return _gcount; }
    bool eof() const { return _eof; }
    bool fail() const { return _fail; }
    bool good() const { return !_eof && !_fail; }

    // The next reads will cover about p_count bytes from p_from on: read them in one go (the
    // central directory, or a local header with its data). The position does not move.
    void Prefetch(std::streamoff p_from, std::size_t p_count)
    {
        if (_fail || p_from < 0)
            return;
        if (_measured)
            p_count = std::min<std::size_t>(p_count, p_from < _length ? static_cast<std::size_t>(_length - p_from) : 0);
        p_count = std::min(p_count, MaxWindow);
        if (p_count > 0 && !InWindow(p_from, p_count))
            Fill(p_from, p_count);
    }

private:
    static constexpr std::size_t DirectRead = 64 * 1024;
    static constexpr std::size_t MaxWindow = std::size_t(64) << 20;

    bool InWindow(std::streamoff p_position, std::size_t p_count) const
    {
        return p_position >= _windowStart &&
               p_position + static_cast<std::streamoff>(p_count) <= _windowStart + static_cast<std::streamoff>(_windowLength);
    }

    // Reads up to p_count bytes at p_position; fewer at the end of the file. A read error
    // counts as the end, except that a directory fails the stream as if it had not opened.
    std::size_t ReadAt(std::streamoff p_position, char* p_bytes, std::size_t p_count)
    {
        std::size_t done = 0;
        while (done < p_count) {
            const ssize_t count = ::pread(_file, p_bytes + done, p_count - done, p_position + static_cast<off_t>(done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && errno == EISDIR)
                _fail = true;
            if (count <= 0)
                break;
            done += static_cast<std::size_t>(count);
        }
        return done;
    }

    void Fill(std::streamoff p_position, std::size_t p_count)
    {
        if (p_count > _windowCapacity) {
            _heapWindow.reset(new char[p_count]);
            _window = _heapWindow.get();
            _windowCapacity = p_count;
        }
        _windowStart = p_position;
        _windowLength = ReadAt(p_position, _window, p_count);
        // Sequential reads after this one double the window, up to a bound.
        _fillSize = std::min(MaxWindow, std::max(_fillSize * 2, p_count));
    }

    int _file = -1;
    bool _measured = false;
    std::streamoff _length = 0;
    std::streamoff _position = 0;
    std::streamsize _gcount = 0;
    bool _eof = false;
    bool _fail = false;
    // Small windows (a local header with a small entry) need no allocation.
    char _inlineWindow[8 * 1024];
    std::unique_ptr<char[]> _heapWindow;
    char* _window = _inlineWindow;
    std::size_t _windowCapacity = sizeof _inlineWindow;
    std::streamoff _windowStart = 0;
    std::size_t _windowLength = 0;
    std::size_t _fillSize = 16 * 1024;
};

} // namespace Archive
} // namespace Assets
} // namespace Draxel
} // namespace Qor
