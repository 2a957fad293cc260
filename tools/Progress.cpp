// The progress bar of draxel-assets on standard error.
#include "ToolSupport.h"

#include "Platform.h"

#include <iostream>

namespace draxel_tool {

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
