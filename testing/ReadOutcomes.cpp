// Outcomes of reads, compared whole (ReadOutcomes.h).
#include "ReadOutcomes.h"

#include <QorDebug.h>
#include <QorDraxelUtility.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace testing_support {

using Qor::Draxel::Assets::AssetPath;
using Qor::Draxel::Assets::Volume;

namespace {

// Shared with the handler, which may outlive a test.
std::shared_ptr<std::vector<std::string>> g_reports = std::make_shared<std::vector<std::string>>();

std::string Counted(std::uint64_t p_count, const std::string& p_first)
{
    return std::to_string(p_count) + ": " + p_first;
}

} // namespace

std::ostream& operator<<(std::ostream& p_out, const ReadOutcome& p_outcome)
{
    for (const std::string& report : p_outcome.reports)
        p_out << "report " << report << "\n";
    const std::string& result = p_outcome.result;
    for (std::size_t i = 0; i < result.size() && i < 200; ++i) {
        const unsigned char byte = static_cast<unsigned char>(result[i]);
        if (byte >= 0x20 && byte < 0x7f)
            p_out << result[i];
        else
            p_out << "\\x"
                  << "0123456789abcdef"[byte >> 4] << "0123456789abcdef"[byte & 15];
    }
    return p_out;
}

ReportRecording::ReportRecording(bool p_returning)
{
    qordebug::logger& logger = Qor::Draxel::Utility::GetLogger();
    _sink = logger.set_line_sink(qordebug::line_sink());
    std::shared_ptr<std::vector<std::string>> reports = g_reports;
    _handler = logger.set_ensure_handler([p_returning, reports](const std::string& p_message) {
        reports->push_back(p_message);
        if (!p_returning)
            throw qordebug::ensure_failure(p_message);
    });
}

ReportRecording::~ReportRecording()
{
    qordebug::logger& logger = Qor::Draxel::Utility::GetLogger();
    logger.set_ensure_handler(_handler);
    logger.set_line_sink(_sink);
}

ReadOutcome Record(const std::function<std::string()>& p_call)
{
    g_reports->clear();
    ReadOutcome outcome;
    try {
        outcome.result = p_call();
    } catch (const qordebug::ensure_failure& error) {
        outcome.result = std::string("ensure_failure ") + error.what();
    } catch (const std::out_of_range& error) {
        outcome.result = std::string("out_of_range ") + error.what();
    } catch (const std::exception& error) {
        outcome.result = std::string("exception ") + error.what();
    }
    outcome.reports = *g_reports;
    return outcome;
}

std::string DescribeStream(const boost::shared_ptr<std::istream>& p_stream, std::size_t p_capacity)
{
    if (!p_stream || !p_stream->good())
        return "nothing";
    const std::string bytes{std::istreambuf_iterator<char>(*p_stream), std::istreambuf_iterator<char>()};
    return Counted(bytes.size(), bytes.substr(0, p_capacity));
}

// The mode goes into the lambdas as an int: the tests hand over values outside the enumeration
// (which the volumes report), and an enumeration read through a reference must hold one of its own.
ReadOutcome ThroughOpen(const Volume& p_volume, const AssetPath& p_path, Volume::OpenMode p_mode,
                        std::size_t p_capacity)
{
    const int mode = p_mode;
    return Record(
        [&] { return DescribeStream(p_volume.Open(p_path, static_cast<Volume::OpenMode>(mode)), p_capacity); });
}

ReadOutcome ThroughRead(const Volume& p_volume, const AssetPath& p_path, Volume::OpenMode p_mode,
                        std::size_t p_capacity)
{
    const int mode = p_mode;
    return Record([&] {
        std::string buffer(p_capacity + 1, '\0');
        const std::optional<std::uint64_t> count =
            p_volume.Read(p_path, static_cast<Volume::OpenMode>(mode), &buffer[0], p_capacity);
        if (!count)
            return std::string("nothing");
        if (buffer[p_capacity] != '\0')
            return std::string("wrote past the capacity");
        return Counted(*count, buffer.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(*count, p_capacity))));
    });
}

ReadOutcome ThroughSize(const Volume& p_volume, const AssetPath& p_path, Volume::OpenMode p_mode)
{
    const int mode = p_mode;
    return Record([&] {
        const std::optional<std::uint64_t> count = p_volume.Size(p_path, static_cast<Volume::OpenMode>(mode));
        return count ? Counted(*count, std::string()) : std::string("nothing");
    });
}

std::ostream& operator<<(std::ostream& p_out, const Transcript& p_transcript)
{
    p_out << ReadOutcome{p_transcript.reports, "exception: " + p_transcript.exception} << "\n";
    for (const std::string& stream : p_transcript.streams)
        p_out << ReadOutcome{{}, stream} << "\n";
    return p_out;
}

static bool IsException(const std::string& p_result)
{
    for (const char* kind : {"ensure_failure ", "out_of_range ", "exception "})
        if (p_result.compare(0, std::string(kind).size(), kind) == 0)
            return true;
    return false;
}

Transcript OneByOne(const Volume& p_volume, const std::vector<AssetPath>& p_paths, Volume::OpenMode p_mode)
{
    Transcript transcript;
    for (const AssetPath& path : p_paths) {
        const ReadOutcome outcome = Record([&] { return DescribeStream(p_volume.Open(path, p_mode), 1 << 20); });
        transcript.reports.insert(transcript.reports.end(), outcome.reports.begin(), outcome.reports.end());
        if (IsException(outcome.result)) {
            transcript.exception = outcome.result;
            transcript.streams.clear();
            break;
        }
        transcript.streams.push_back(outcome.result);
    }
    return transcript;
}

Transcript InOneBatch(const std::function<std::vector<boost::shared_ptr<std::istream>>()>& p_batch)
{
    std::vector<boost::shared_ptr<std::istream>> streams;
    const ReadOutcome outcome = Record([&] {
        streams = p_batch();
        return std::string();
    });
    Transcript transcript;
    transcript.reports = outcome.reports;
    transcript.exception = outcome.result;
    for (const boost::shared_ptr<std::istream>& stream : streams)
        transcript.streams.push_back(DescribeStream(stream, 1 << 20));
    return transcript;
}

} // namespace testing_support
