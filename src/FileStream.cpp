// Binary file streams, and the text-mode stream that folds CR LF into LF.
#include "FileStream.h"

#include <sys/stat.h>

#include <fstream>
#include <streambuf>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

bool IsDirectory(const char* p_path)
{
    struct stat info;
    return ::stat(p_path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Reads a file through a std::filebuf and drops the CR of every CR LF pair. A CR that ends
// one chunk is held back until the next byte shows whether an LF follows. Positions count
// the bytes after folding; a seek re-reads from the start.
class TextFileBuffer : public std::streambuf {
public:
    bool Open(const char* p_path)
    {
        return _file.open(p_path, std::ios_base::in | std::ios_base::binary) != nullptr;
    }

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        _consumed += egptr() - eback();
        std::streamsize count = 0;
        while (count == 0) {
            char raw[BufferSize];
            std::streamsize read = _file.sgetn(raw, BufferSize);
            if (read <= 0) {
                if (_pendingCR) {
                    _pendingCR = false;
                    _buffer[count++] = '\r';
                }
                break;
            }
            for (std::streamsize i = 0; i < read; ++i) {
                char byte = raw[i];
                if (_pendingCR) {
                    _pendingCR = false;
                    if (byte != '\n')
                        _buffer[count++] = '\r';
                }
                if (byte == '\r')
                    _pendingCR = true;
                else
                    _buffer[count++] = byte;
            }
        }
        setg(_buffer, _buffer, _buffer + count);
        if (count == 0)
            return traits_type::eof();
        return traits_type::to_int_type(*gptr());
    }

    pos_type seekoff(off_type p_offset, std::ios_base::seekdir p_direction, std::ios_base::openmode) override
    {
        off_type here = _consumed + (gptr() - eback());
        if (p_direction == std::ios_base::cur && p_offset == 0)
            return pos_type(here);
        off_type target = p_offset;
        if (p_direction == std::ios_base::cur)
            target += here;
        else if (p_direction == std::ios_base::end)
            target += Length();
        return seekpos(pos_type(target), std::ios_base::in);
    }

    pos_type seekpos(pos_type p_position, std::ios_base::openmode) override
    {
        off_type target = off_type(p_position);
        if (target < 0 || !Rewind())
            return pos_type(off_type(-1));
        while (target > 0) {
            if (underflow() == traits_type::eof())
                return pos_type(off_type(-1));
            off_type available = egptr() - gptr();
            off_type step = available < target ? available : target;
            gbump(static_cast<int>(step));
            target -= step;
        }
        return p_position;
    }

private:
    static constexpr std::streamsize BufferSize = 16384;

    bool Rewind()
    {
        _consumed = 0;
        _pendingCR = false;
        setg(_buffer, _buffer, _buffer);
        return _file.pubseekpos(0, std::ios_base::in) == pos_type(0);
    }

    off_type Length()
    {
        off_type length = 0;
        if (!Rewind())
            return 0;
        while (underflow() != traits_type::eof()) {
            length += egptr() - gptr();
            setg(eback(), egptr(), egptr());
        }
        return length;
    }

    std::filebuf _file;
    char _buffer[BufferSize];
    off_type _consumed = 0;
    bool _pendingCR = false;
};

class TextFileStream : public std::istream {
public:
    explicit TextFileStream(const char* p_path) : std::istream(nullptr)
    {
        init(&_buffer);
        if (!_buffer.Open(p_path))
            setstate(std::ios_base::failbit);
    }

private:
    TextFileBuffer _buffer;
};

} // namespace

std::unique_ptr<std::istream> OpenFileStream(const char* p_path, std::ios_base::openmode p_mode)
{
    std::unique_ptr<std::istream> stream;
    if (p_mode & std::ios_base::binary)
        stream.reset(new std::ifstream(p_path, std::ios_base::in | std::ios_base::binary));
    else
        stream.reset(new TextFileStream(p_path));
    if (stream->good() && IsDirectory(p_path))
        stream->setstate(std::ios_base::failbit);
    return stream;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
