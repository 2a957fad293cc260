// What every subcommand of draxel-assets shares: the one-line error and printable text
// (ErrorLines.cpp), checked output (CheckedOutput.cpp), the library's reports turned into
// short messages (LibraryReports.cpp), path components (PathComponents.cpp) and the progress
// bar (Progress.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace draxel_tool {

// Exit statuses.
constexpr int Success = 0;
constexpr int Failed = 1; // a failed check, a missing asset or file, a damaged archive
constexpr int BadUsage = 2;

// An error that ends a subcommand: printed as "draxel-assets: SUBJECT: MESSAGE".
struct Failure : std::runtime_error {
    Failure(const std::string& p_subject, const std::string& p_message, int p_status = Failed)
        : std::runtime_error(p_message), subject(p_subject), status(p_status)
    {
    }
    std::string subject;
    int status;
};

// Writes one error line on standard error.
void PrintError(const std::string& p_subject, const std::string& p_message);

// The error lines of a command that goes on past problems (check, extract): the first 20
// printed as they come, unless every one is asked for, and at the end one line that counts the
// rest: "SUBJECT: and N more (--all lists every one)".
class ProblemLines {
public:
    explicit ProblemLines(bool p_all) : _all(p_all) {}
    void Print(const std::string& p_subject, const std::string& p_message);
    // The count line, when lines were left out.
    void Finish(const std::string& p_subject);
    std::size_t Count() const { return _count; }

    static constexpr std::size_t Shown = 20;

private:
    bool _all;
    std::size_t _count = 0;
};

// Standard output, checked: a failed write ends the command as the Failure "write error:
// REASON" with the system's reason. FinishOutput flushes and checks what is still buffered.
// StandardOutput is the stream all of it goes through (for writers that take a stream).
std::ostream& StandardOutput();
void WriteOut(const char* p_bytes, std::size_t p_count);
void WriteOut(const std::string& p_text);
void FinishOutput();

namespace platform {
class OutputFile;
}
class CheckedBuffer;

// A stream over an output file of the platform, buffered, that keeps the system's reason of
// the first failed write (a stream's state alone does not say why).
class OutputFileStream : public std::ostream {
public:
    explicit OutputFileStream(std::unique_ptr<platform::OutputFile> p_file);
    ~OutputFileStream() override;
    // Writes what is buffered and closes the file: the reason of the first failure, or empty.
    std::string Finish();

private:
    std::unique_ptr<platform::OutputFile> _file;
    std::unique_ptr<CheckedBuffer> _buffer;
};

// A precondition report of the library (one of its message constants) as a short sentence.
std::string Explain(const std::string& p_report);

// How the library's ensure reports are handled while a Reports object lives. Throw: the
// first report ends the subcommand as a Failure about the current subject. Collect: reports
// are kept (the library goes on past them) for the caller to print. Log lines of the
// library are dropped, or kept when capturing (the demo shows them).
class Reports {
public:
    enum Mode { Throw, Collect };
    explicit Reports(Mode p_mode);
    ~Reports();
    Reports(const Reports&) = delete;
    Reports& operator=(const Reports&) = delete;

    void SetSubject(const std::string& p_subject);
    // Collected reports, explained, in order; Take empties the list.
    std::vector<std::string> Take();

    struct Line {
        std::string level;
        std::string channel;
        std::string text;
    };
    void CaptureLines(bool p_capture);
    std::vector<Line> TakeLines();
};

// p_text for one line of plain output: a tab, CR and LF written as \t, \r and \n, every other
// control byte, DEL and each byte that is not part of well-formed UTF-8 as \xHH; the rest as
// it is. Names come from archives and directories, and may hold any byte.
std::string Printable(const std::string& p_text);

// The non-empty components of a '/'-separated relative path.
std::vector<std::string> PathComponents(const std::string& p_relative);

// A progress bar on standard error, drawn only when standard error is a terminal and
// erased when done.
class Progress {
public:
    Progress(const std::string& p_label, std::size_t p_total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Step();

private:
    void Draw();
    std::string _label;
    std::size_t _total;
    std::size_t _done = 0;
    int _shown = -1;
    bool _terminal;
};

} // namespace draxel_tool
