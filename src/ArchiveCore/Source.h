// The sources archives are read from: StreamSource over any std::istream (an archive held in
// memory, which HoldArchive copies and OpenHeldArchive streams) and FileSource over an archive
// file by positioned reads (Platform::PositionedRead, as the diagnostics' WindowedFile reads
// too), which the volume's walk and Open read through.
#pragma once

#include "Messages.h"
#include "Platform.h"

#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/stream.hpp>
#include <boost/shared_ptr.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>

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
// positioned reads (Platform::PositionedRead) into a window that a seek does not discard, so
// that the central directory comes in one read and each Open reads its local header and small
// data at once.
//
// Available(limit) tells how many of the next bytes the archive holds (at most limit, 0 when
// the source is not good): what bounds every allocation sized by a field of the archive.

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

    // Measured by seeking the stream's buffer to its end and back; a stream that cannot seek
    // tells nothing, and so holds nothing.
    std::size_t Available(std::size_t p_limit)
    {
        if (!_stream.good())
            return 0;
        std::streambuf& buffer = *_stream.rdbuf();
        const std::streamoff here = buffer.pubseekoff(0, std::ios_base::cur, std::ios_base::in);
        const std::streamoff end = buffer.pubseekoff(0, std::ios_base::end, std::ios_base::in);
        buffer.pubseekpos(here, std::ios_base::in);
        if (here < 0 || end <= here)
            return 0;
        return static_cast<std::size_t>(std::min<std::uint64_t>(p_limit, static_cast<std::uint64_t>(end - here)));
    }

private:
    std::istream& _stream;
};

// Copies the whole of p_stream, an archive inside another volume, into p_bytes, to be held in
// memory. The length is where a seek to the end lands. A stream that cannot seek tells -1,
// which as a size no string can take (std::length_error), as resizing to it would give.
inline void HoldArchive(std::istream& p_stream, std::string& p_bytes)
{
    p_stream.seekg(0, std::ios_base::end);
    const std::streamoff length = p_stream.tellg();
    if (length < 0)
        throw std::length_error("archive stream cannot seek");
    p_bytes.resize(static_cast<std::size_t>(length));
    if (p_bytes.empty())
        throw std::out_of_range(Messages::NoBytes);
    p_stream.seekg(0, std::ios_base::beg);
    p_stream.read(&p_bytes[0], static_cast<std::streamsize>(p_bytes.size()));
}

// A stream over the bytes of an archive held in memory, which must outlive it.
inline boost::shared_ptr<std::istream> OpenHeldArchive(const std::string& p_data)
{
    using ArrayStream = boost::iostreams::stream<boost::iostreams::basic_array_source<char>>;
    return boost::shared_ptr<std::istream>(new ArrayStream(p_data.data(), p_data.data() + p_data.size()));
}

class FileSource {
public:
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Opens p_path for reading. p_measure takes the file's length now, which a seek from the
    // end needs; otherwise it is taken only if Available cannot tell without it. A directory
    // opens as a failed stream, as OpenFileStream makes it.
    FileSource(const char* p_path, bool p_measure)
    {
        _file = Platform::OpenForReading(p_path);
        if (_file == Platform::NoFile) {
            _fail = true;
            return;
        }
        if (p_measure)
            Measure();
    }

    ~FileSource() { Platform::CloseFile(_file); }

    // The identity of the file opened; false when it did not open or cannot be told.
    bool Identify(Platform::FileIdentity& p_identity) const
    {
        return _file != Platform::NoFile && Platform::IdentifyFile(_file, p_identity);
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
            // What does not fit the inline window goes straight to its destination: an entry's
            // data is read once, and the walk's reads lie in its prefetched window.
            if (p_count > sizeof _inlineWindow)
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

    // Copies the p_count bytes at p_position when the window holds them all; reads nothing,
    // and moves neither the position nor the state.
    bool Peek(std::streamoff p_position, char* p_bytes, std::size_t p_count) const
    {
        if (!InWindow(p_position, p_count))
            return false;
        std::memcpy(p_bytes, _window + (p_position - _windowStart), p_count);
        return true;
    }

    // The next reads will cover about p_count bytes from p_from on: read them in one go (the
    // central directory, or a local header with its data). The position does not move. A file
    // not measured has no known length, so its window stays the inline one.
    void Prefetch(std::streamoff p_from, std::size_t p_count)
    {
        PrefetchUpTo(p_from, p_count, _measured ? MaxWindow : sizeof _inlineWindow);
    }

    // As Prefetch, for a run of entries (the batch read): the file is measured first, so that
    // the window never reaches past its end.
    void PrefetchRun(std::streamoff p_from, std::size_t p_count)
    {
        if (!_fail && !_measured && !Measure())
            return;
        PrefetchUpTo(p_from, p_count, MaxWindow);
    }

    // Back to the state of the source just opened, keeping the file and what its window holds,
    // so that the batch read starts each entry as Open starts with a fresh source.
    void Restart()
    {
        _position = 0;
        _gcount = 0;
        _eof = false;
        _fail = _file == Platform::NoFile;
    }

private:
    void PrefetchUpTo(std::streamoff p_from, std::size_t p_count, std::size_t p_bound)
    {
        if (_fail || p_from < 0)
            return;
        p_count = std::min(p_count, p_bound);
        if (_measured)
            p_count = std::min<std::size_t>(p_count, p_from < _length ? static_cast<std::size_t>(_length - p_from) : 0);
        if (p_count > 0 && !InWindow(p_from, p_count))
            Fill(p_from, p_count);
    }

public:
    // The window tells when the file ends inside it, or holds all p_limit bytes; otherwise
    // the file is measured.
    std::size_t Available(std::size_t p_limit)
    {
        if (!good())
            return 0;
        if (InWindow(_position, p_limit))
            return p_limit;
        std::streamoff end = _windowStart + static_cast<std::streamoff>(_windowLength);
        if (!(_windowEnds && _position >= _windowStart)) {
            if (!_measured && !Measure())
                return 0;
            end = _length;
        }
        if (_position >= end)
            return 0;
        return static_cast<std::size_t>(std::min<std::uint64_t>(p_limit, static_cast<std::uint64_t>(end - _position)));
    }

private:
    static constexpr std::size_t MaxWindow = std::size_t(64) << 20;

    bool Measure()
    {
        std::int64_t length = 0;
        if (!Platform::FileLength(_file, length)) {
            _fail = true;
            return false;
        }
        _length = static_cast<std::streamoff>(length);
        _measured = true;
        return true;
    }

    bool InWindow(std::streamoff p_position, std::size_t p_count) const
    {
        if (p_position < _windowStart || p_position - _windowStart > static_cast<std::streamoff>(_windowLength))
            return false;
        return p_count <= _windowLength - static_cast<std::size_t>(p_position - _windowStart);
    }

    // Reads up to p_count bytes at p_position; fewer at the end of the file. A read error
    // counts as the end, except that a directory fails the stream as if it had not opened.
    std::size_t ReadAt(std::streamoff p_position, char* p_bytes, std::size_t p_count)
    {
        std::size_t done = 0;
        while (done < p_count) {
            const std::ptrdiff_t count = Platform::PositionedRead(_file, p_bytes + done, p_count - done,
                                                                  p_position + static_cast<std::streamoff>(done));
            if (count == Platform::ReadNamesDirectory)
                _fail = true;
            if (count <= 0)
                break;
            done += static_cast<std::size_t>(count);
        }
        return done;
    }

    // A measured file's window never reaches past its end.
    void Fill(std::streamoff p_position, std::size_t p_wanted)
    {
        std::size_t count = p_wanted;
        if (_measured)
            count =
                std::min<std::size_t>(count, p_position < _length ? static_cast<std::size_t>(_length - p_position) : 0);
        if (count > _windowCapacity) {
            _heapWindow.reset(new char[count]);
            _window = _heapWindow.get();
            _windowCapacity = count;
        }
        _windowStart = p_position;
        _windowLength = ReadAt(p_position, _window, count);
        _windowEnds = _windowLength < p_wanted;
        // Sequential reads of a measured file after this one double the window, up to a bound.
        if (_measured)
            _fillSize = std::min(MaxWindow, std::max(_fillSize * 2, count));
    }

    Platform::FileHandle _file = Platform::NoFile;
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
    bool _windowEnds = false; // the file ended inside the window when it was read
    std::size_t _fillSize = sizeof _inlineWindow;
};

} // namespace Archive
} // namespace Assets
} // namespace Draxel
} // namespace Qor
