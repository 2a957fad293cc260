// The process-wide logger: line-oriented output handles on named channels, and the report
// of failed preconditions.
//
// A dbgostream collects the text of one line; the line is complete when the last copy of
// the handle is gone, and is then handed to the line sink once, without its final newline.
// A handle taken while no sink is installed is inactive and formats nothing.
//
// ensure(condition, message) calls the ensure handler only for a false condition. The
// default handler writes the message as an err line on the empty channel and throws
// ensure_failure, so a failed check never returns into the code it guards. A handler that
// returns is the host's choice.
#pragma once

#include "QorHostExport.h"

#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

namespace qordebug {

enum class level { out, log, err };

using line_sink = std::function<void(level, const std::string& channel, const std::string& line)>;
using ensure_handler = std::function<void(const std::string& message)>;

// Thrown by the default ensure handler; what() is the message.
class QOR_HOST_API ensure_failure : public std::logic_error {
public:
    explicit ensure_failure(const std::string& p_message) : std::logic_error(p_message) {}
};

class QOR_HOST_API dbgostream {
public:
    // An inactive handle.
    dbgostream() = default;
    // An active handle whose completed line goes to p_sink.
    dbgostream(level p_level, const std::string& p_channel, line_sink p_sink);

    bool active() const { return static_cast<bool>(_line); }
    // The stream the line's text is written into. Only meaningful while active().
    std::ostream& buffer();

private:
    struct QOR_HOST_LOCAL Line;
    std::shared_ptr<Line> _line;
};

// Writes a value into an active handle; an inactive one formats nothing.
template <class T>
dbgostream operator<<(dbgostream p_stream, const T& p_value)
{
    if (p_stream.active())
        p_stream.buffer() << p_value;
    return p_stream;
}

QOR_HOST_API dbgostream operator<<(dbgostream p_stream, std::ostream& (*p_manipulator)(std::ostream&));

class QOR_HOST_API logger {
public:
    logger();
    logger(const logger&) = delete;
    logger& operator=(const logger&) = delete;

    dbgostream dout(const std::string& p_channel);
    dbgostream dlog(const std::string& p_channel);
    dbgostream derr(const std::string& p_channel);

    void ensure(bool p_condition, const std::string& p_message);

    // Both return the previous sink or handler. An empty sink switches all output off; an
    // empty handler restores the default one.
    line_sink set_line_sink(line_sink p_sink);
    ensure_handler set_ensure_handler(ensure_handler p_handler);

    // The default sink: "[channel] line" on standard error (the line alone for the empty channel).
    static void default_line_sink(level p_level, const std::string& p_channel, const std::string& p_line);

private:
    QOR_HOST_LOCAL dbgostream Handle(level p_level, const std::string& p_channel);

    struct QOR_HOST_LOCAL Shared;
    std::shared_ptr<Shared> _shared;
};

} // namespace qordebug
