// The demo command of a build without Resource (the library built with ASSETS_WITH_RESOURCES
// off, as the Windows cross build is): the tour shows fonts and images, which need Qt, so the
// command says why it is not there instead of being unknown.
#include "Commands.h"
#include "ToolSupport.h"

namespace draxel_tool {

void AddDemoCommand(CommandSet& p_commands)
{
    p_commands.Add("demo", "A guided tour of the library (not in this build: it needs Resource, built with Qt)", [] {
        throw Failure("demo", "this build has no Resource (ASSETS_WITH_RESOURCES is off): the demo's fonts and "
                              "images need Qt, which this platform's build leaves out");
        return Failed;
    });
}

} // namespace draxel_tool
