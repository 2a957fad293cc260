// Standard output and output files of draxel-assets, written through a buffer that keeps the
// system's reason of the first failed write.
#include "ToolSupport.h"

#include "Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>

namespace draxel_tool {

// Output through one buffer that keeps the system's reason of the first failed write: a
// stream's state alone does not say why. The sink writes its bytes (a count of 0 asks it to
// flush) and returns the reason of a failure, empty on success.
class CheckedBuffer : public std::streambuf {
public:
    using Sink = std::function<std::string(const char*, std::size_t)>;
    explicit CheckedBuffer(Sink p_sink) : _sink(std::move(p_sink)) { setp(_bytes, _bytes + sizeof _bytes); }
    const std::string& Error() const { return _error; }

protected:
    int_type overflow(int_type p_character) override
    {
        if (!Drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(p_character, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(p_character);
            pbump(1);
        }
        return traits_type::not_eof(p_character);
    }
    int sync() override { return Drain() ? 0 : -1; }

private:
    bool Drain()
    {
        const std::size_t count = static_cast<std::size_t>(pptr() - pbase());
        setp(_bytes, _bytes + sizeof _bytes);
        if (!_error.empty())
            return false;
        _error = _sink(_bytes, count);
        return _error.empty();
    }

    Sink _sink;
    std::string _error;
    char _bytes[1 << 16];
};

namespace {

// The reason of a failed write to standard output; a reader that closed the pipe ends the
// program quietly instead, as it ends other programs.
std::string StandardOutputFailed()
{
    const int error = errno != 0 ? errno : EIO;
    if (platform::StandardOutputPipeClosed(error))
        platform::EndForClosedPipe();
    return std::strerror(error);
}

CheckedBuffer g_outputBuffer([](const char* p_bytes, std::size_t p_count) -> std::string {
    errno = 0;
    if ((p_count > 0 && std::fwrite(p_bytes, 1, p_count, stdout) != p_count) || std::fflush(stdout) != 0)
        return StandardOutputFailed();
    return std::string();
});
std::ostream g_output(&g_outputBuffer);

[[noreturn]] void WriteFailed()
{
    throw Failure(std::string(),
                  "write error: " + (g_outputBuffer.Error().empty() ? std::strerror(EIO) : g_outputBuffer.Error()));
}

} // namespace

std::ostream& StandardOutput()
{
    return g_output;
}

void WriteOut(const char* p_bytes, std::size_t p_count)
{
    g_output.write(p_bytes, static_cast<std::streamsize>(p_count));
    if (!g_output)
        WriteFailed();
}

void WriteOut(const std::string& p_text)
{
    WriteOut(p_text.data(), p_text.size());
}

void FinishOutput()
{
    // A write of std::cout that failed already (std::endl flushes) left its reason in errno.
    const int earlier = errno;
    g_output.flush();
    if (!g_output)
        WriteFailed();
    // Whatever went to std::cout (help texts) is flushed and checked too.
    errno = std::cout ? 0 : earlier;
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0)
        throw Failure(std::string(), "write error: " + StandardOutputFailed());
}

OutputFileStream::OutputFileStream(std::unique_ptr<platform::OutputFile> p_file)
    : std::ostream(nullptr), _file(std::move(p_file)),
      _buffer(std::make_unique<CheckedBuffer>([file = _file.get()](const char* p_bytes, std::size_t p_count) {
          return p_count > 0 ? file->Write(p_bytes, p_count) : std::string();
      }))
{
    rdbuf(_buffer.get());
}

OutputFileStream::~OutputFileStream() = default;

std::string OutputFileStream::Finish()
{
    flush();
    std::string error = _buffer->Error();
    if (_file) {
        const std::string closed = _file->Close();
        _file.reset();
        if (error.empty())
            error = closed;
    }
    return error;
}

} // namespace draxel_tool
