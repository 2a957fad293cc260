// Running draxel-assets in a scratch directory as a user runs it, for the tool's tests.
#pragma once

#include "ArchiveBuilders.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
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

// One command line and what it must give: its exit status, and its standard output and error,
// each either left out (not looked at) or a pattern in which '*' stands for any text (the
// exact text otherwise); errLines, unless negative, counts the lines of standard error.
struct Expected {
    std::string arguments;
    int status;
    std::optional<std::string> out = std::nullopt;
    std::optional<std::string> err = std::nullopt;
    int errLines = -1;
};

// Whether p_text is p_pattern with each '*' standing for any text.
inline bool Matches(const std::string& p_text, const std::string& p_pattern)
{
    const std::size_t star = p_pattern.find('*');
    if (star == std::string::npos)
        return p_text == p_pattern;
    const std::size_t last = p_pattern.rfind('*');
    const std::string head = p_pattern.substr(0, star), tail = p_pattern.substr(last + 1);
    if (p_text.size() < head.size() + tail.size() || p_text.compare(0, head.size(), head) != 0 ||
        p_text.compare(p_text.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    std::size_t at = head.size();
    const std::size_t end = p_text.size() - tail.size();
    for (std::size_t from = star + 1; from <= last;) {
        const std::size_t next = p_pattern.find('*', from);
        const std::string piece = p_pattern.substr(from, next - from);
        at = p_text.find(piece, at);
        if (at == std::string::npos || at + piece.size() > end)
            return false;
        at += piece.size();
        from = next + 1;
    }
    return true;
}

class Tool : public ::testing::Test {
protected:
    // Runs draxel-assets with p_arguments (shell words) in the scratch directory; p_prefix
    // (shell words too) goes before the program, e.g. a ulimit or a user switch.
    // With p_peakKiB, the run's peak resident size goes there: the shell's and the program's
    // alone, where getrusage would give the largest of every child the suite has waited for.
    Result Run(const std::string& p_arguments, const std::string& p_prefix = std::string(), long* p_peakKiB = nullptr)
    {
        const std::string out = _dir / ".out", err = _dir / ".err";
        // Standard input is empty unless p_arguments redirect it (the later redirection wins).
        const std::string command = "cd " + _dir.path() + " && " + p_prefix + " " DRAXEL_ASSETS_TOOL " </dev/null " +
                                    p_arguments + " >" + out + " 2>" + err;
        const int status = p_peakKiB ? RunMeasured(command, *p_peakKiB) : testing_support::RunShell(command);
        return Result{status, testing_support::ReadFile(out), testing_support::ReadFile(err)};
    }

    // Runs each of p_cases (after p_prefix, and measured into p_peakKiB, as Run does) and checks
    // what it gives.
    void Expect(const std::vector<Expected>& p_cases, const std::string& p_prefix = std::string(),
                long* p_peakKiB = nullptr)
    {
        for (const Expected& item : p_cases) {
            SCOPED_TRACE(item.arguments);
            const Result result = Run(item.arguments, p_prefix, p_peakKiB);
            EXPECT_EQ(result.status, item.status) << result.err;
            for (const auto& [text, pattern] : {std::pair(&result.out, &item.out), std::pair(&result.err, &item.err)}) {
                if (!pattern->has_value()) {
                    continue;
                } else if (pattern->value().find('*') == std::string::npos) {
                    EXPECT_EQ(*text, pattern->value());
                } else {
                    EXPECT_TRUE(Matches(*text, pattern->value()))
                        << "'" << *text << "' is not '" << pattern->value() << "'";
                }
            }
            if (item.errLines >= 0) {
                EXPECT_EQ(Lines(result.err), static_cast<std::size_t>(item.errLines)) << result.err;
            }
        }
    }

    // Runs p_command with sh in the scratch directory, its output thrown away; returns its status.
    int Shell(const std::string& p_command)
    {
        return testing_support::RunShell("cd " + _dir.path() + " && (" + p_command + ") >/dev/null 2>&1");
    }

    // Whether a temporary file of a pack (".tmp" in its name) is left in the scratch directory.
    bool TemporaryLeft() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(_dir.path()))
            if (entry.path().filename().string().find(".tmp") != std::string::npos)
                return true;
        return false;
    }

    // Runs p_command with sh; its exit status, and the peak resident size of its run in p_peakKiB.
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
