// The components of a relative path, as the platform files walk them.
#include "ToolSupport.h"

namespace draxel_tool {

std::vector<std::string> PathComponents(const std::string& p_relative)
{
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= p_relative.size()) {
        std::size_t end = p_relative.find('/', begin);
        if (end == std::string::npos)
            end = p_relative.size();
        if (end > begin)
            parts.push_back(p_relative.substr(begin, end - begin));
        begin = end + 1;
    }
    return parts;
}

} // namespace draxel_tool
