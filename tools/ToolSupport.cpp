// Error lines, report explanations, keys and the progress bar of draxel-assets.
#include "ToolSupport.h"

#include "Platform.h"

#include "Messages.h"

#include <QorDraxelUtility.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>

namespace draxel_tool {

namespace {

struct ReportState {
    Reports::Mode mode = Reports::Throw;
    std::string subject;
    std::vector<std::string> collected;
    bool capture = false;
    std::vector<Reports::Line> lines;
};

std::shared_ptr<ReportState> CurrentState;

const char* LevelName(qordebug::level p_level)
{
    switch (p_level) {
    case qordebug::level::out:
        return "out";
    case qordebug::level::log:
        return "log";
    case qordebug::level::err:
        return "err";
    }
    return "log";
}

} // namespace

void PrintError(const std::string& p_subject, const std::string& p_message)
{
    std::cerr << "draxel-assets: ";
    if (!p_subject.empty())
        std::cerr << Printable(p_subject) << ": ";
    std::cerr << Printable(p_message) << std::endl;
}

void ProblemLines::Print(const std::string& p_subject, const std::string& p_message)
{
    if (_all || _count < Shown)
        PrintError(p_subject, p_message);
    ++_count;
}

void ProblemLines::Finish(const std::string& p_subject)
{
    if (!_all && _count > Shown)
        PrintError(p_subject, "and " + std::to_string(_count - Shown) + " more (--all lists every one)");
}

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
    g_output.flush();
    if (!g_output)
        WriteFailed();
    // Whatever went to std::cout (help texts) is flushed and checked too.
    errno = 0;
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

std::string Explain(const std::string& p_report)
{
    namespace M = Qor::Draxel::Assets::Messages;
    struct Known {
        const char* message;
        const char* text;
    };
    static const char* const truncated =
        "the archive ends inside a record (truncated, or an offset points past the end)";
    static const Known known[] = {
        {M::EndRecordInvalid, "no end-of-central-directory record at the end (not a ZIP archive, a wrong key, or an "
                              "archive comment, which is not supported)"},
        {M::EndRecordEof, truncated},
        {M::EndRecordCount, truncated},
        {M::CentralHeaderEof, truncated},
        {M::CentralHeaderCount, truncated},
        {M::LocalHeaderEof, truncated},
        {M::LocalHeaderCount, truncated},
        {M::HeaderInvalid, "damaged central directory header"},
        {M::NameEmpty, "a central directory entry has an empty name"},
        {M::Encrypted, "encrypted entries are not supported"},
        {M::MethodUnsupported, "compression method unsupported"},
        {M::DuplicateFile, "duplicate file entry found in archive"},
        {M::VolumeStreamMissing, "cannot open the archive"},
        {M::VolumeStreamFailed, "cannot read the archive"},
        {M::ArchiveFileFailed, "cannot open the archive"},
        {M::EntryMissing, "no such entry"},
        {M::EntryIsDirectory, "is a directory entry, which cannot be opened as a stream"},
        {M::ArchiveNotGood, "cannot read the archive"},
        {M::LocalHeaderInvalid, "damaged local file header"},
        {M::EntryCompressed, "compressed entries cannot be opened"},
        {M::DirectoryModeNotText, "unknown open mode"},
        {M::DirectoryStreamFailed, "cannot open the file (is it a directory?)"},
        {M::MountDirectoryMissing, "the directory does not exist"},
        {M::MountDirectoryTwice, "mounted twice"},
        {M::MountArchiveMissing, "the archive file does not exist"},
        {M::MountArchiveTwice, "mounted twice"},
        {M::UnmountNotMounted, "not mounted"},
        {M::UnmountNoGroup, "not mounted"},
        {M::RemountNotMounted, "not mounted"},
        {M::RemountUnreadable, "cannot be read now (the volume mounted before stays)"},
        {M::ResourceInvalidPaths, "an empty directory path"},
        {M::ResourceNoRoot, "the root directory does not exist"},
        {M::ResourceNoImage, "the image directory does not exist"},
        {M::ResourceNoFont, "the font directory does not exist"},
        {M::ResourceNoFonts, "no font files found"},
        {M::ResourceNoShaderTests, "Shaders/Tests is not in the tree"},
        {M::ResourceNoShaders, "the tree has no Shaders directory (no built-in archive and no Shaders/Tests)"},
        {M::ImageFileMissing, "no such image file"},
    };
    for (const Known& entry : known)
        if (p_report == entry.message)
            return entry.text;
    return "unexpected report: " + p_report;
}

Reports::Reports(Mode p_mode)
{
    auto state = std::make_shared<ReportState>();
    state->mode = p_mode;
    CurrentState = state;
    qordebug::logger& logger = Qor::Draxel::Utility::GetLogger();
    logger.set_line_sink([state](qordebug::level p_level, const std::string& p_channel, const std::string& p_line) {
        if (state->capture)
            state->lines.push_back(Line{LevelName(p_level), p_channel, p_line});
    });
    logger.set_ensure_handler([state](const std::string& p_message) {
        if (state->mode == Throw)
            throw Failure(state->subject, Explain(p_message));
        state->collected.push_back(Explain(p_message));
    });
}

Reports::~Reports()
{
    qordebug::logger& logger = Qor::Draxel::Utility::GetLogger();
    logger.set_ensure_handler(qordebug::ensure_handler());
    logger.set_line_sink(qordebug::line_sink());
    CurrentState.reset();
}

void Reports::SetSubject(const std::string& p_subject)
{
    CurrentState->subject = p_subject;
}

std::vector<std::string> Reports::Take()
{
    std::vector<std::string> taken;
    taken.swap(CurrentState->collected);
    return taken;
}

void Reports::CaptureLines(bool p_capture)
{
    CurrentState->capture = p_capture;
}

std::vector<Reports::Line> Reports::TakeLines()
{
    std::vector<Line> taken;
    taken.swap(CurrentState->lines);
    return taken;
}

namespace {

// The length of the well-formed UTF-8 sequence at p_text[p_at] (1 to 4), or 0 for none.
std::size_t Utf8Sequence(const std::string& p_text, std::size_t p_at)
{
    const auto byte = [&](std::size_t p_index) {
        return p_index < p_text.size() ? static_cast<unsigned char>(p_text[p_index]) : 0u;
    };
    const unsigned lead = byte(p_at);
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xbf; // the range of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;  // no overlong forms
        high = lead == 0xed ? 0x9f : 0xbf; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (byte(p_at + 1) < low || byte(p_at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(p_at + i) < 0x80 || byte(p_at + i) > 0xbf)
            return 0;
    return length;
}

} // namespace

bool IsUtf8(const std::string& p_text)
{
    for (std::size_t at = 0; at < p_text.size();) {
        const std::size_t length = Utf8Sequence(p_text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string Printable(const std::string& p_text)
{
    std::string printable;
    printable.reserve(p_text.size());
    for (std::size_t at = 0; at < p_text.size();) {
        const unsigned char byte = static_cast<unsigned char>(p_text[at]);
        const std::size_t length = Utf8Sequence(p_text, at);
        if (length > 1 || (length == 1 && byte >= 0x20 && byte != 0x7f)) {
            printable.append(p_text, at, length);
            at += length;
            continue;
        }
        if (byte == '\n' || byte == '\r' || byte == '\t') {
            printable += byte == '\n' ? "\\n" : byte == '\r' ? "\\r" : "\\t";
        } else {
            static const char digits[] = "0123456789abcdef";
            printable += "\\x";
            printable += digits[byte >> 4];
            printable += digits[byte & 15];
        }
        ++at;
    }
    return printable;
}

std::vector<std::string> PathComponents(const std::string& p_relative)
{
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= p_relative.size()) {
        std::size_t end = p_relative.find('/', begin);
        if (end == std::string::npos)
            end = p_relative.size();
        if (end > begin)
            parts.push_back(p_relative.substr(begin, end - begin));
        begin = end + 1;
    }
    return parts;
}

std::string ResolveKey(const std::string& p_text, const std::string& p_file)
{
    if (p_file.empty())
        return p_text;
    std::ifstream in(std::filesystem::u8path(p_file), std::ios_base::binary);
    if (!in)
        throw Failure(p_file, "cannot read the key file");
    std::string key((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (key.empty())
        throw Failure(p_file, "the key file is empty", BadUsage);
    return key;
}

Progress::Progress(const std::string& p_label, std::size_t p_total)
    : _label(p_label), _total(p_total), _terminal(platform::StandardErrorIsTerminal())
{
}

Progress::~Progress()
{
    if (_terminal && _shown >= 0)
        std::cerr << "\r\033[K" << std::flush;
}

void Progress::Step()
{
    ++_done;
    if (_terminal)
        Draw();
}

void Progress::Draw()
{
    const int width = 30;
    const int percent = _total == 0 ? 100 : static_cast<int>(_done * 100 / _total);
    if (percent == _shown)
        return;
    _shown = percent;
    const int filled = percent * width / 100;
    std::cerr << '\r' << _label << " [" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(width - filled), '.') << "] " << _done << '/' << _total
              << std::flush;
}

} // namespace draxel_tool
