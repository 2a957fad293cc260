// The logger behind GetLogger(): sink and handler swapped under a lock, lines emitted whole.
#include "QorDebug.h"

#include <iostream>
#include <mutex>
#include <sstream>

namespace qordebug {

struct logger::Shared {
    std::mutex mutex;
    line_sink sink = &logger::default_line_sink;
    ensure_handler handler;
};

struct dbgostream::Line {
    level lineLevel;
    std::string channel;
    line_sink sink;
    std::ostringstream text;

    ~Line()
    {
        std::string line = text.str();
        if (line.empty())
            return;
        if (line.back() == '\n')
            line.pop_back();
        try {
            sink(lineLevel, channel, line);
        } catch (...) {
            // A sink must not take the process down from a destructor.
        }
    }
};

dbgostream::dbgostream(level p_level, const std::string& p_channel, line_sink p_sink)
{
    if (!p_sink)
        return;
    _line = std::make_shared<Line>();
    _line->lineLevel = p_level;
    _line->channel = p_channel;
    _line->sink = std::move(p_sink);
}

std::ostream& dbgostream::buffer()
{
    return _line->text;
}

dbgostream operator<<(dbgostream p_stream, std::ostream& (*p_manipulator)(std::ostream&))
{
    if (p_stream.active())
        p_manipulator(p_stream.buffer());
    return p_stream;
}

logger::logger() : _shared(std::make_shared<Shared>()) {}

dbgostream logger::Handle(level p_level, const std::string& p_channel)
{
    line_sink sink;
    {
        std::lock_guard<std::mutex> lock(_shared->mutex);
        sink = _shared->sink;
    }
    return dbgostream(p_level, p_channel, std::move(sink));
}

dbgostream logger::dout(const std::string& p_channel)
{
    return Handle(level::out, p_channel);
}
dbgostream logger::dlog(const std::string& p_channel)
{
    return Handle(level::log, p_channel);
}
dbgostream logger::derr(const std::string& p_channel)
{
    return Handle(level::err, p_channel);
}

void logger::ensure(bool p_condition, const std::string& p_message)
{
    if (p_condition)
        return;
    ensure_handler handler;
    {
        std::lock_guard<std::mutex> lock(_shared->mutex);
        handler = _shared->handler;
    }
    if (handler) {
        handler(p_message);
        return;
    }
    derr("") << p_message << std::endl;
    throw ensure_failure(p_message);
}

line_sink logger::set_line_sink(line_sink p_sink)
{
    std::lock_guard<std::mutex> lock(_shared->mutex);
    std::swap(_shared->sink, p_sink);
    return p_sink;
}

ensure_handler logger::set_ensure_handler(ensure_handler p_handler)
{
    std::lock_guard<std::mutex> lock(_shared->mutex);
    std::swap(_shared->handler, p_handler);
    return p_handler;
}

void logger::default_line_sink(level, const std::string& p_channel, const std::string& p_line)
{
    static std::mutex output;
    std::lock_guard<std::mutex> lock(output);
    if (p_channel.empty())
        std::cerr << p_line << '\n';
    else
        std::cerr << '[' << p_channel << "] " << p_line << '\n';
}

} // namespace qordebug
