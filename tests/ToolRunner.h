// Running draxel-assets in a scratch directory as a user runs it, for the tool's tests.
#pragma once

#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// The address-space limit the suite runs damaged archives under (3 GiB), as a prefix of Run.
// Under AddressSanitizer, whose shadow memory needs far more address space, its allocation
// limit stands in for it (ASAN_OPTIONS of the suite).
#if defined(ASSETS_TOOL_UNDER_ASAN)
inline const char* const MemoryLimit =
    "ASAN_OPTIONS=$ASAN_OPTIONS:allocator_may_return_null=1:max_allocation_size_mb=3072";
#else
inline const char* const MemoryLimit = "ulimit -v 3145728 &&";
#endif

struct Result {
    int status;
    std::string out;
    std::string err;
};

class Tool : public ::testing::Test {
protected:
    // Runs draxel-assets with p_arguments (shell words) in the scratch directory; p_prefix
    // (shell words too) goes before the program, e.g. a ulimit or a user switch.
    // With p_peakKiB, the run's peak resident size goes there: the shell's and the program's
    // alone, where getrusage would give the largest of every child the suite has waited for.
    Result Run(const std::string& p_arguments, const std::string& p_prefix = std::string(), long* p_peakKiB = nullptr)
    {
        const std::string out = _dir / ".out", err = _dir / ".err";
        const std::string command = "cd " + _dir.path() + " && " + p_prefix + " " DRAXEL_ASSETS_TOOL " " + p_arguments +
                                    " >" + out + " 2>" + err + " </dev/null";
        const int status = p_peakKiB ? RunMeasured(command, *p_peakKiB) : testing_support::RunShell(command);
        return Result{status, testing_support::ReadFile(out), testing_support::ReadFile(err)};
    }

    static int RunMeasured(const std::string& p_command, long& p_peakKiB)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl("/bin/sh", "sh", "-c", p_command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        struct rusage usage {};
        if (child < 0 || ::wait4(child, &status, 0, &usage) != child)
            return -1;
        p_peakKiB = usage.ru_maxrss;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The prefix that runs the tool as an unprivileged user: nobody when the test runs as
    // root (as in CI), the test's own user otherwise. The scratch directory is opened to it.
    std::string AsUnprivileged()
    {
        if (::geteuid() != 0)
            return std::string();
        ::chmod(_dir.path().c_str(), 0777);
        return "setpriv --reuid=65534 --regid=65534 --clear-groups";
    }

    static bool HaveCommand(const char* p_name)
    {
        return testing_support::RunShell(std::string("command -v ") + p_name + " >/dev/null 2>&1") == 0;
    }

    // A small tree: a.txt, sub/b.txt (with CR LF), sub/deeper/c.bin.
    void MakeTree(const std::string& p_root)
    {
        _dir.Write(p_root + "/a.txt", "alpha\n");
        _dir.Write(p_root + "/sub/b.txt", "one\r\ntwo\r\n");
        _dir.Write(p_root + "/sub/deeper/c.bin", std::string("\0\1\2\3", 4));
    }

    std::string WriteArchive(const std::string& p_name, const std::vector<testing_support::ArchiveItem>& p_items)
    {
        return _dir.Write(p_name, testing_support::MakeArchive(p_items));
    }

    static std::size_t Lines(const std::string& p_text) { return std::count(p_text.begin(), p_text.end(), '\n'); }

    testing_support::ScratchDir _dir;
};
