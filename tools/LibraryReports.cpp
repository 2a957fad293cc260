// The library's ensure reports and log lines while draxel-assets runs: reports explained in
// short sentences, thrown or collected; log lines dropped or captured.
#include "ToolSupport.h"

#include "Messages.h"

#include <QorDraxelUtility.h>

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

} // namespace draxel_tool
