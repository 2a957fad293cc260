// The tests' few system calls: the environment and the shell, POSIX or Windows.
#include "TestSupport.h"

#include <cstdlib>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace testing_support {

#ifdef _WIN32

int RunShell(const std::string& p_command)
{
    return std::system(p_command.c_str());
}

bool HaveInfoZip()
{
    return false;
}

bool BackslashSeparates()
{
    return true;
}

void SetEnvironment(const std::string& p_name, const char* p_value)
{
    // An empty value removes the variable on Windows; neither counts as a flag that is on.
    ::_putenv_s(p_name.c_str(), p_value ? p_value : "");
}

#else

int RunShell(const std::string& p_command)
{
    const int status = std::system(p_command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveInfoZip()
{
    return RunShell("command -v zip >/dev/null 2>&1 && command -v unzip >/dev/null 2>&1") == 0;
}

bool BackslashSeparates()
{
    return false;
}

void SetEnvironment(const std::string& p_name, const char* p_value)
{
    if (p_value)
        ::setenv(p_name.c_str(), p_value, 1);
    else
        ::unsetenv(p_name.c_str());
}

#endif

} // namespace testing_support
