// File streams over host files, and the imitation of a C runtime's text mode for hosts whose
// runtime does not translate text.
#include "FileStream.h"

#include "Platform.h"

#include <algorithm>
#include <streambuf>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// A stream that owns its file buffer.
template <class Buffer>
class OwningStream : public std::istream {
public:
    OwningStream() : std::istream(nullptr) { init(&_buffer); }
    Buffer& buffer() { return _buffer; }

private:
    Buffer _buffer;
};

// Reads a file as a text-mode C runtime of Windows does: each CR LF becomes LF, a lone CR
// stays, and a Ctrl-Z ends the text (a seek may go past it). A CR that ends one chunk is held
// back until the next byte shows whether an LF follows. Positions are offsets in the file, as
// the runtime's are: a seek goes to a byte of the file, and tellg tells the offset of the next
// byte to come.
class TextFileBuffer : public std::streambuf {
public:
    // False when the file does not open or is a directory.
    bool Open(const char* p_path)
    {
        return Platform::OpenFileBuffer(_file, p_path, std::ios_base::in | std::ios_base::binary) &&
               !_file.OpensDirectory(p_path);
    }

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        if (_atCtrlZ)
            return traits_type::eof();
        // A held-back CR is the first byte of the new buffer.
        _bufferStart = _pendingCR ? _rawNext - 1 : _rawNext;
        _folds.clear();
        std::streamsize count = 0;
        while (count == 0 && !_atCtrlZ) {
            char raw[BufferSize];
            const std::streamsize read = _file.sgetn(raw, BufferSize);
            if (read <= 0) {
                if (_pendingCR) {
                    _pendingCR = false;
                    _buffer[count++] = '\r';
                }
                break;
            }
            _rawNext += read;
            for (std::streamsize i = 0; i < read && !_atCtrlZ; ++i) {
                const char byte = raw[i];
                if (_pendingCR) {
                    _pendingCR = false;
                    if (byte == '\n') {
                        _folds.push_back(count);
                        _buffer[count++] = '\n';
                        continue;
                    }
                    _buffer[count++] = '\r';
                }
                if (byte == CtrlZ)
                    _atCtrlZ = true;
                else if (byte == '\r')
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
        off_type target = p_offset;
        if (p_direction == std::ios_base::cur)
            target += Tell();
        else if (p_direction == std::ios_base::end) {
            const pos_type end = _file.pubseekoff(0, std::ios_base::end, std::ios_base::in);
            if (end == pos_type(off_type(-1)))
                return end;
            target += off_type(end);
        }
        if (p_direction == std::ios_base::cur && p_offset == 0)
            return pos_type(target);
        return seekpos(pos_type(target), std::ios_base::in);
    }

    pos_type seekpos(pos_type p_position, std::ios_base::openmode) override
    {
        const off_type target = off_type(p_position);
        setg(_buffer, _buffer, _buffer);
        _folds.clear();
        _pendingCR = false;
        _atCtrlZ = false;
        if (target < 0 || _file.pubseekpos(p_position, std::ios_base::in) != p_position) {
            _rawNext = _bufferStart = 0;
            _file.pubseekpos(0, std::ios_base::in);
            return pos_type(off_type(-1));
        }
        _rawNext = _bufferStart = target;
        return p_position;
    }

private:
    static constexpr std::streamsize BufferSize = 16384;
    static constexpr char CtrlZ = '\x1a';

    // The file offset of the next byte to come: every LF before it in the buffer that was a
    // CR LF stands for two bytes of the file.
    off_type Tell() const
    {
        const std::streamsize index = gptr() - eback();
        const auto folded = std::lower_bound(_folds.begin(), _folds.end(), index) - _folds.begin();
        return _bufferStart + index + folded;
    }

    Platform::FileBuffer _file;
    // One more than a chunk: a held-back CR followed by a byte that is not an LF gives both.
    char _buffer[BufferSize + 1];
    std::vector<std::streamsize> _folds; // where in the buffer an LF was a CR LF
    off_type _bufferStart = 0;           // file offset of the buffer's first byte
    off_type _rawNext = 0;               // file offset of the next byte to take from the file
    bool _pendingCR = false;
    bool _atCtrlZ = false; // the text ended; only a seek reads on
};

} // namespace

std::unique_ptr<std::istream> FailedFileStream()
{
    std::unique_ptr<std::istream> stream(new OwningStream<Platform::FileBuffer>());
    stream->setstate(std::ios_base::failbit);
    return stream;
}

std::unique_ptr<std::istream> OpenFileStream(const char* p_path, std::ios_base::openmode p_mode)
{
    std::unique_ptr<std::istream> stream;
    bool opened;
    if ((p_mode & std::ios_base::binary) || Platform::HostTranslatesText()) {
        auto file = new OwningStream<Platform::FileBuffer>();
        stream.reset(file);
        opened =
            Platform::OpenFileBuffer(file->buffer(), p_path, std::ios_base::in | (p_mode & std::ios_base::binary)) &&
            !file->buffer().OpensDirectory(p_path);
    } else {
        auto text = new OwningStream<TextFileBuffer>();
        stream.reset(text);
        opened = text->buffer().Open(p_path);
    }
    // A directory is no file: the stream fails as for a file that does not open.
    if (!opened)
        stream->setstate(std::ios_base::failbit);
    return stream;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
