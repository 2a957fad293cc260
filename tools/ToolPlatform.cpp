// The program's system calls: POSIX, or the Windows C runtime's.
#include "ToolPlatform.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace draxel_tool {

#ifdef _WIN32

bool StandardErrorIsTerminal()
{
    return ::_isatty(::_fileno(stderr)) != 0;
}

void UseBinaryStandardOutput()
{
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

#else

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void UseBinaryStandardOutput()
{
}

#endif

} // namespace draxel_tool
