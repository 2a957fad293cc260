// Test helpers: scratch directories, captured log lines, recorded ensure reports, and reading
// assets whole.
#pragma once

#include <Assets/Volume.h>
#include <QorDraxelUtility.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory under the system temporary directory, removed with its content.
class ScratchDir {
public:
    ScratchDir();
    // Below p_parent instead of the temporary directory (tmpfs, say, for many files).
    explicit ScratchDir(const std::string& p_parent);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return _path; }
    // The path of p_relative below the scratch directory, joined with '/' on every host; Write
    // and MakeDir return the same text.
    std::string operator/(const std::string& p_relative) const { return _path + "/" + p_relative; }
    // Writes p_bytes to p_relative, creating parent directories.
    std::string Write(const std::string& p_relative, const std::string& p_bytes) const;
    std::string MakeDir(const std::string& p_relative) const;

private:
    std::string _path;
};

struct LogLine {
    qordebug::level level;
    std::string channel;
    std::string text;
};

// Captures every log line while alive; restores the previous sink afterwards.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const std::vector<LogLine>& lines() const { return *_lines; }
    std::vector<std::string> texts() const;
    void clear() { _lines->clear(); }

private:
    std::shared_ptr<std::vector<LogLine>> _lines;
    qordebug::line_sink _previous;
};

// Records ensure messages and returns (the host's choice of a handler that returns).
class EnsureRecorder {
public:
    EnsureRecorder();
    ~EnsureRecorder();
    const std::vector<std::string>& messages() const { return *_messages; }
    void clear() { _messages->clear(); }
    bool Saw(const std::string& p_fragment) const;

private:
    std::shared_ptr<std::vector<std::string>> _messages;
    qordebug::ensure_handler _previous;
};

inline Qor::Draxel::Assets::AssetPath P(const std::string& p_text)
{
    return Qor::Draxel::Assets::AssetPath(p_text);
}

std::string ReadAll(std::istream& p_stream);
// All of what p_volume opens at p_path; "<null>" when it opens nothing.
std::string ReadAsset(const boost::shared_ptr<Qor::Draxel::Assets::Volume>& p_volume, const std::string& p_path,
                      Qor::Draxel::Assets::Volume::OpenMode p_mode = Qor::Draxel::Assets::Volume::Binary);
std::string ReadFile(const std::string& p_path);
// The text of the qordebug::ensure_failure that p_call throws, or "<returned>" when it throws
// none (the default handler's road).
std::string ThrownReport(const std::function<void()>& p_call);

// What differs between the hosts the tests run on (TestPlatform.cpp).

// Runs a POSIX shell command; returns its exit status.
int RunShell(const std::string& p_command);
// Whether RunShell has a POSIX shell with Info-ZIP's zip and unzip; tests of other tools'
// archives skip without.
bool HaveInfoZip();
// Whether the host separates path components on a backslash as well as on a slash.
bool BackslashSeparates();
// Sets the environment variable p_name to p_value; a null p_value removes it.
void SetEnvironment(const std::string& p_name, const char* p_value);

} // namespace testing_support
