// The demo in a build without Resource and ImageCache (ASSETS_WITH_RESOURCES off, as in the
// cross build for Windows): the command stays, and says why it cannot run.
#include "Demo.h"

#include <iostream>

namespace draxel_tool {

int RunDemo(const std::string&, std::ostream&)
{
    std::cerr << "draxel-assets: demo: this build has no Resource (built without ASSETS_WITH_RESOURCES)\n";
    return 1;
}

} // namespace draxel_tool
