// What one read of an asset did, as text, so that two ways of reading compare whole: the
// precondition reports it made, in order, and its result or the exception it threw. For the
// tests that hold Read, Size and the batch read against Open.
#pragma once

#include <Assets/Volume.h>
#include <QorDebug.h>

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

struct ReadOutcome {
    std::vector<std::string> reports;
    std::string result;

    bool operator==(const ReadOutcome& p_other) const { return reports == p_other.reports && result == p_other.result; }
};

// For failure messages: the reports, then the result with its bytes escaped, cut at 200.
std::ostream& operator<<(std::ostream& p_out, const ReadOutcome& p_outcome);

// While alive, an ensure handler records each report for the outcomes, and returns
// (p_returning) or throws qordebug::ensure_failure; log output is off. The previous handler
// and log sink come back afterwards.
class ReportRecording {
public:
    explicit ReportRecording(bool p_returning);
    ~ReportRecording();
    ReportRecording(const ReportRecording&) = delete;
    ReportRecording& operator=(const ReportRecording&) = delete;

private:
    qordebug::ensure_handler _handler;
    qordebug::line_sink _sink;
};

// Runs p_call with the record emptied first; an exception becomes the result.
ReadOutcome Record(const std::function<std::string()>& p_call);

// The result of a stream: "nothing" for none or a failed one, otherwise the count of its
// bytes and the first p_capacity of them.
std::string DescribeStream(const boost::shared_ptr<std::istream>& p_stream, std::size_t p_capacity);

// Open read whole, Read with p_capacity bytes of memory, and Size, each as an outcome that
// compares equal when they agree.
ReadOutcome ThroughOpen(const Qor::Draxel::Assets::Volume& p_volume, const Qor::Draxel::Assets::AssetPath& p_path,
                        Qor::Draxel::Assets::Volume::OpenMode p_mode, std::size_t p_capacity);
ReadOutcome ThroughRead(const Qor::Draxel::Assets::Volume& p_volume, const Qor::Draxel::Assets::AssetPath& p_path,
                        Qor::Draxel::Assets::Volume::OpenMode p_mode, std::size_t p_capacity);
ReadOutcome ThroughSize(const Qor::Draxel::Assets::Volume& p_volume, const Qor::Draxel::Assets::AssetPath& p_path,
                        Qor::Draxel::Assets::Volume::OpenMode p_mode);

// What a caller of a run of reads sees: every report in order, then either the exception
// that ended the run (the streams before it are dropped) or the streams, each described.
struct Transcript {
    std::vector<std::string> reports;
    std::string exception;
    std::vector<std::string> streams;

    bool operator==(const Transcript& p_other) const
    {
        return reports == p_other.reports && exception == p_other.exception && streams == p_other.streams;
    }
};

std::ostream& operator<<(std::ostream& p_out, const Transcript& p_transcript);

// Open for each of p_paths in turn, as a caller's loop would, up to the first exception.
Transcript OneByOne(const Qor::Draxel::Assets::Volume& p_volume,
                    const std::vector<Qor::Draxel::Assets::AssetPath>& p_paths,
                    Qor::Draxel::Assets::Volume::OpenMode p_mode);
// One batch read of the same paths.
Transcript InOneBatch(const std::function<std::vector<boost::shared_ptr<std::istream>>()>& p_batch);

} // namespace testing_support
