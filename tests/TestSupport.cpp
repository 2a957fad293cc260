// Test helpers: scratch directories, log capture, ensure recording, whole reads.
#include "TestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() : ScratchDir(fs::temp_directory_path().u8string()) {}

ScratchDir::ScratchDir(const std::string& p_parent)
{
    // A name nobody has taken: create_directory says whether this call made it.
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::u8path(p_parent) / ("assets-test-" + std::to_string(random() % 1000000000));
        if (fs::create_directory(candidate)) {
            _path = candidate.u8string();
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch directory in " + p_parent);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all(fs::u8path(_path), ignored);
}

std::string ScratchDir::Write(const std::string& p_relative, const std::string& p_bytes) const
{
    // Paths are UTF-8 text in the tests, as in the library.
    const fs::path full = fs::u8path(_path) / fs::u8path(p_relative);
    fs::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary);
    out.write(p_bytes.data(), static_cast<std::streamsize>(p_bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + full.u8string());
    return *this / p_relative;
}

std::string ScratchDir::MakeDir(const std::string& p_relative) const
{
    const fs::path full = fs::u8path(_path) / fs::u8path(p_relative);
    fs::create_directories(full);
    return *this / p_relative;
}

LogCapture::LogCapture() : _lines(std::make_shared<std::vector<LogLine>>())
{
    auto lines = _lines;
    _previous = Qor::Draxel::Utility::GetLogger().set_line_sink(
        [lines](qordebug::level p_level, const std::string& p_channel, const std::string& p_line) {
            lines->push_back(LogLine{p_level, p_channel, p_line});
        });
}

LogCapture::~LogCapture()
{
    Qor::Draxel::Utility::GetLogger().set_line_sink(_previous);
}

std::vector<std::string> LogCapture::texts() const
{
    std::vector<std::string> out;
    for (const LogLine& line : *_lines)
        out.push_back(line.text);
    return out;
}

EnsureRecorder::EnsureRecorder() : _messages(std::make_shared<std::vector<std::string>>())
{
    auto messages = _messages;
    _previous = Qor::Draxel::Utility::GetLogger().set_ensure_handler(
        [messages](const std::string& p_message) { messages->push_back(p_message); });
}

EnsureRecorder::~EnsureRecorder()
{
    Qor::Draxel::Utility::GetLogger().set_ensure_handler(_previous);
}

bool EnsureRecorder::Saw(const std::string& p_fragment) const
{
    for (const std::string& message : *_messages)
        if (message.find(p_fragment) != std::string::npos)
            return true;
    return false;
}

std::string ReadAll(std::istream& p_stream)
{
    std::ostringstream out;
    out << p_stream.rdbuf();
    return out.str();
}

std::string ReadAsset(const boost::shared_ptr<Qor::Draxel::Assets::Volume>& p_volume, const std::string& p_path,
                      Qor::Draxel::Assets::Volume::OpenMode p_mode)
{
    const boost::shared_ptr<std::istream> stream = p_volume->Open(P(p_path), p_mode);
    return stream ? ReadAll(*stream) : std::string("<null>");
}

std::string ThrownReport(const std::function<void()>& p_call)
{
    try {
        p_call();
    } catch (const qordebug::ensure_failure& failure) {
        return failure.what();
    }
    return "<returned>";
}

std::string ReadFile(const std::string& p_path)
{
    std::ifstream in(fs::u8path(p_path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace testing_support
