// draxel-assets and the times and permission bits of files: pack stays reproducible unless
// --keep-times, which stores them (from a tree, or from another tool's archive with --from),
// and extract restores them, never a set-user-ID, set-group-ID or sticky bit.
#include "TestSupport.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include <sys/stat.h>

using testing_support::ReadFile;
using testing_support::RunShell;

namespace {

// Every command runs in UTC, so that the local date and time of the headers are known.
const std::string Utc = "TZ=UTC";

// 2021-03-04 05:06:08 UTC and 2019-05-06 07:08:10 UTC: even seconds, which the local date and
// time of the headers hold exactly.
constexpr std::time_t First = 1614834368;
constexpr std::time_t Second = 1557126490;

class ToolTimes : public Tool {
protected:
    int Shell(const std::string& p_command) { return RunShell("cd " + _dir.path() + " && " + p_command); }

    // Sets the modification time and mode of the file p_relative.
    void Stamp(const std::string& p_relative, std::time_t p_time, mode_t p_mode)
    {
        ASSERT_EQ(Shell("touch -d @" + std::to_string(p_time) + " " + p_relative + " && chmod " + Octal(p_mode) + " " +
                        p_relative),
                  0);
    }

    struct stat Status(const std::string& p_relative)
    {
        struct stat status {};
        EXPECT_EQ(::stat((_dir / p_relative).c_str(), &status), 0) << p_relative;
        return status;
    }

    static std::string Octal(mode_t p_mode)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(p_mode));
        return text;
    }

    // Expects the extracted file p_relative to have p_time and the permission bits p_mode.
    void ExpectStamp(const std::string& p_relative, std::time_t p_time, mode_t p_mode)
    {
        const struct stat status = Status(p_relative);
        EXPECT_EQ(status.st_mtime, p_time) << p_relative;
        EXPECT_EQ(Octal(status.st_mode & 07777), Octal(p_mode)) << p_relative;
    }
};

TEST_F(ToolTimes, KeepTimesStoresWhatExtractRestoresAndZipinfoShows)
{
    MakeTree("tree");
    _dir.Write("tree/run.sh", "#!/bin/sh\n");
    Stamp("tree/run.sh", First, 0755);
    Stamp("tree/a.txt", Second, 0644);
    Stamp("tree/sub/deeper", First, 0750);

    Result pack = Run("pack -d --keep-times out.zip tree", Utc);
    ASSERT_EQ(pack.status, 0) << pack.err;
    Result check = Run("check out.zip");
    EXPECT_EQ(check.status, 0) << check.out << check.err; // the extended timestamp is no finding

    Result extract = Run("extract out.zip x", Utc);
    ASSERT_EQ(extract.status, 0) << extract.err;
    ExpectStamp("x/run.sh", First, 0755);
    ExpectStamp("x/a.txt", Second, 0644);
    ExpectStamp("x/sub/deeper", First, 0750); // after c.bin was written into it

    if (HaveCommand("zipinfo")) {
        ASSERT_EQ(Shell(Utc + " zipinfo -T out.zip > info.txt"), 0);
        const std::string info = ReadFile(_dir / "info.txt");
        EXPECT_NE(info.find("-rwxr-xr-x  2.0 unx       10 bx stor 20210304.050608 run.sh"), std::string::npos) << info;
        EXPECT_NE(info.find("-rw-r--r--  2.0 unx        6 bx stor 20190506.070810 a.txt"), std::string::npos) << info;
        EXPECT_NE(info.find("drwxr-x---  2.0 unx        0 bx stor 20210304.050608 sub/deeper/"), std::string::npos)
            << info;
    }
}

TEST_F(ToolTimes, DefaultPackIsTheSameWhateverTheTimesAndExtractLeavesThemNew)
{
    MakeTree("tree");
    ASSERT_EQ(Run("pack -d one.zip tree").status, 0);
    Stamp("tree/a.txt", First, 0755);
    Stamp("tree/sub", Second, 0700);
    ASSERT_EQ(Run("pack -d two.zip tree").status, 0);
    EXPECT_EQ(ReadFile(_dir / "one.zip"), ReadFile(_dir / "two.zip"));

    // 1980-01-01 00:00 is no time: the files are as new as any the extraction writes.
    const std::time_t before = std::time(nullptr) - 60;
    ASSERT_EQ(Run("extract one.zip x").status, 0);
    EXPECT_GE(Status("x/a.txt").st_mtime, before);
    EXPECT_EQ(Octal(Status("x/a.txt").st_mode & 07777), "0644");
}

// Another tool's archive keeps its times and modes through pack --from --keep-times, and loses
// them without it.
TEST_F(ToolTimes, PackFromKeepsTheSourceArchivesTimesAndModes)
{
    struct Source {
        const char* tool;
        const char* make; // the shell command that makes src.zip in the scratch directory
    };
    const Source sources[] = {
        // Info-ZIP: the local date and time, the extended timestamp and the Unix mode.
        {"zip", "mkdir -p in/bin && printf 'x' > in/bin/tool && printf 'yy' > in/data.txt && "
                "chmod 0750 in/bin/tool && chmod 0640 in/data.txt && touch -d @1614834368 in/bin/tool && "
                "touch -d @1557126490 in/data.txt && cd in && zip -q ../src.zip bin/tool data.txt"},
        // Python's zipfile: the local date and time alone, and the Unix mode.
        {"python3", "python3 -c \"import zipfile\n"
                    "with zipfile.ZipFile('src.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
                    "    for name, when, mode in (('bin/tool', (2021, 3, 4, 5, 6, 8), 0o100750),\n"
                    "                             ('data.txt', (2019, 5, 6, 7, 8, 10), 0o100640)):\n"
                    "        info = zipfile.ZipInfo(name, when)\n"
                    "        info.create_system = 3\n"
                    "        info.external_attr = mode << 16\n"
                    "        z.writestr(info, 'x' if name == 'bin/tool' else 'yy')\n\""},
    };
    for (const Source& source : sources) {
        SCOPED_TRACE(source.tool);
        if (!HaveCommand(source.tool))
            continue;
        ASSERT_EQ(Shell("rm -rf in src.zip kept.zip plain.zip x y && " + Utc + " " + source.make), 0);

        ASSERT_EQ(Run("pack --from src.zip --keep-times kept.zip", Utc).status, 0);
        Result extract = Run("extract kept.zip x", Utc);
        ASSERT_EQ(extract.status, 0) << extract.err;
        ExpectStamp("x/bin/tool", First, 0750);
        ExpectStamp("x/data.txt", Second, 0640);
        EXPECT_EQ(ReadFile(_dir / "x/data.txt"), "yy");

        ASSERT_EQ(Run("pack --from src.zip plain.zip", Utc).status, 0);
        ASSERT_EQ(Run("extract plain.zip y", Utc).status, 0);
        EXPECT_NE(Status("y/bin/tool").st_mtime, First);
        EXPECT_EQ(Octal(Status("y/bin/tool").st_mode & 07777), "0644");
    }
}

TEST_F(ToolTimes, ExtractNeverSetsSetUserIdSetGroupIdOrStickyBits)
{
    if (!HaveCommand("python3"))
        GTEST_SKIP() << "python3 is not installed";
    ASSERT_EQ(Shell("python3 -c \"import zipfile\n"
                    "with zipfile.ZipFile('odd.zip', 'w') as z:\n"
                    "    for name, mode in (('suid', 0o104755), ('sgid', 0o102775), ('sticky', 0o101777),\n"
                    "                       ('dir/', 0o43777)):\n"
                    "        info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))\n"
                    "        info.create_system = 3\n"
                    "        info.external_attr = mode << 16\n"
                    "        z.writestr(info, '' if name.endswith('/') else 'data')\n\""),
              0);
    Result extract = Run("extract odd.zip x", Utc);
    ASSERT_EQ(extract.status, 0) << extract.err;
    const struct {
        const char* path;
        mode_t mode;
    } expected[] = {{"x/suid", 0755}, {"x/sgid", 0775}, {"x/sticky", 0777}, {"x/dir", 0777}};
    for (const auto& file : expected)
        ExpectStamp(file.path, 1577934246, file.mode); // 2020-01-02 03:04:06 UTC
}

} // namespace
