// Error lines, report explanations, keys and the progress bar of draxel-assets.
#include "ToolSupport.h"
#include "ToolPlatform.h"

#include <QorDraxelUtility.h>

#include <cctype>
#include <fstream>
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

bool StartsWith(const std::string& p_text, const std::string& p_prefix)
{
    return p_text.compare(0, p_prefix.size(), p_prefix) == 0;
}

} // namespace

void PrintError(const std::string& p_subject, const std::string& p_message)
{
    std::cerr << "draxel-assets: ";
    if (!p_subject.empty())
        std::cerr << p_subject << ": ";
    std::cerr << p_message << std::endl;
}

std::string Explain(const std::string& p_report)
{
    // A report is "EXPRESSION" - SIGNATURE, where the expression may carry an explanation
    // joined with && "TEXT".
    std::string expression = p_report;
    if (!expression.empty() && expression.front() == '"') {
        const std::size_t end = expression.find("\" - ", 1);
        expression = expression.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }

    struct Known {
        const char* prefix;
        const char* text;
    };
    static const Known known[] = {
        {"endOfCentralDirectory.Valid()",
         "no end-of-central-directory record at the end (not a ZIP archive, a wrong key, or an archive comment, "
         "which is not supported)"},
        {"!source.eof()", "the archive ends inside a record (truncated, or an offset points past the end)"},
        {"source.gcount() == sizeof(T)", "the archive ends inside a record (truncated, or an offset points past the end)"},
        {"header.Valid()", "damaged central directory header"},
        {"filenameLength > 0", "a central directory entry has an empty name"},
        {"localHeader.Valid()", "damaged local file header"},
        {"archive->good()", "cannot read the archive"},
        {"*archive", "cannot read the archive"},
        {"archive", "cannot open the archive"},
        {"asset != _state->directory.end()", "no such entry"},
        {"_state->priorities.find( p_source ) == _state->priorities.end()", "mounted twice"},
        {"pos != _state->priorities.end()", "not mounted"},
        {"library->Exists(shaderDir)", "the tree has no Shaders directory (no built-in archive and no Shaders/Tests)"},
        {"library->Exists( shaderTestDir )", "Shaders/Tests is not in the tree"},
        {"p_root.valid()", "an empty directory path"},
        {"direxists(p_root)", "the root directory does not exist"},
        {"direxists(p_image)", "the image directory does not exist"},
        {"direxists(p_font)", "the font directory does not exist"},
        {"path.valid() && fileexists(path)", "no such image file"},
        {"p_mode == Text", "unknown open mode"},
        {"stream->good()", "cannot open the file (is it a directory?)"},
    };
    for (const Known& entry : known)
        if (StartsWith(expression, entry.prefix))
            return entry.text;

    const std::size_t explanation = expression.find("&& \"");
    if (explanation != std::string::npos) {
        std::string text = expression.substr(explanation + 4);
        if (!text.empty() && text.back() == '"')
            text.pop_back();
        for (const char* prefix : {"ERROR: ", "AssetLibrary: "})
            if (StartsWith(text, prefix))
                text.erase(0, std::char_traits<char>::length(prefix));
        if (!text.empty())
            text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        while (!text.empty() && (text.back() == '.' || text.back() == '!'))
            text.pop_back();
        return text;
    }
    return "check failed: " + expression;
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

std::string ResolveKey(const std::string& p_text, const std::string& p_file)
{
    if (p_file.empty())
        return p_text;
    std::ifstream in(p_file, std::ios_base::binary);
    if (!in)
        throw Failure(p_file, "cannot read the key file");
    std::string key((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (key.empty())
        throw Failure(p_file, "the key file is empty", BadUsage);
    return key;
}

Progress::Progress(const std::string& p_label, std::size_t p_total)
    : _label(p_label), _total(p_total), _terminal(StandardErrorIsTerminal())
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
