// draxel-assets on what went wrong before: unreadable folders while packing, links while
// extracting, archives of other tools (ZIP64, data descriptors), archives that claim more than
// they hold, wrong keys and names, lost writes, interrupted packs, non-ASCII names, mount
// targets with a slash, and big entries in bounded memory.
#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <zip.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::RunShell;

namespace {

class ToolHonesty : public Tool {
protected:
    bool HavePython() { return HaveCommand("python3"); }

    // Runs a Python snippet in the scratch directory.
    int Python(const std::string& p_code)
    {
        const std::string script = _dir.Write(".script.py", p_code);
        return RunShell("cd " + _dir.path() + " && python3 " + script);
    }
};

} // namespace

TEST_F(ToolHonesty, PackOfAnUnreadableFolderFailsNamingItAndWritesNothing)
{
    MakeTree("tree");
    _dir.Write("tree/locked/secret.txt", "s");
    _dir.Write("tree/zlast.txt", "after the locked folder");
    const std::string user = AsUnprivileged();
    for (const char* path : {"tree", "tree/sub", "tree/sub/deeper", "tree/locked"})
        ::chmod((_dir / path).c_str(), 0777);
    ASSERT_EQ(::chmod((_dir / "tree/locked").c_str(), 0), 0);

    Result pack = Run("pack out.zip tree", user);
    EXPECT_EQ(pack.status, 1);
    EXPECT_EQ(Lines(pack.err), 1u) << pack.err;
    EXPECT_NE(pack.err.find("tree/locked: Permission denied"), std::string::npos) << pack.err;
    EXPECT_FALSE(fs::exists(_dir / "out.zip"));

    Result skipping = Run("pack --skip-unreadable out.zip tree", user);
    EXPECT_EQ(skipping.status, 1);
    EXPECT_NE(skipping.err.find("tree/locked: skipped: Permission denied"), std::string::npos) << skipping.err;
    ::chmod((_dir / "tree/locked").c_str(), 0755);
    // Everything else is there, the files after the locked folder included.
    EXPECT_EQ(Run("ls out.zip").out, "a.txt\nsub/b.txt\nsub/deeper/c.bin\nzlast.txt\n");
    for (const auto& entry : fs::directory_iterator(_dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(ToolHonesty, PackFollowsLinksButNotLoopsAndNeverPacksItsOutput)
{
    MakeTree("tree");
    _dir.Write("elsewhere/linked.txt", "through a link");
    fs::create_directory_symlink(_dir / "elsewhere", _dir / "tree/link");
    Result pack = Run("pack tree/self.zip tree");
    ASSERT_EQ(pack.status, 0) << pack.err;
    // Packing again into the same place does not take the previous archive in.
    ASSERT_EQ(Run("pack tree/self.zip tree").status, 0);
    EXPECT_EQ(Run("ls tree/self.zip").out, "a.txt\nlink/linked.txt\nsub/b.txt\nsub/deeper/c.bin\n");

    fs::create_directory_symlink(_dir / "tree", _dir / "tree/sub/up");
    Result loop = Run("pack loop.zip tree");
    EXPECT_EQ(loop.status, 1);
    EXPECT_NE(loop.err.find("tree/sub/up: a symbolic link to a folder that contains it"), std::string::npos)
        << loop.err;
    fs::remove(_dir / "tree/sub/up");

    fs::create_symlink(_dir / "nowhere", _dir / "tree/dangling");
    Result dangling = Run("pack dangling.zip tree");
    EXPECT_EQ(dangling.status, 1);
    EXPECT_NE(dangling.err.find("tree/dangling: a symbolic link that leads nowhere"), std::string::npos)
        << dangling.err;
}

TEST_F(ToolHonesty, ExtractNeverWritesThroughALinkNorReplacesFiles)
{
    WriteArchive("a.zip", {{"data/palette.txt", "from the archive"}, {"data/other.txt", "other"}});
    _dir.Write("outside.txt", "precious");
    fs::create_directories(_dir / "OUT/data");
    fs::create_symlink(_dir / "outside.txt", _dir / "OUT/data/palette.txt");

    for (const char* arguments : {"extract a.zip OUT", "extract --overwrite a.zip OUT"}) {
        SCOPED_TRACE(arguments);
        Result extract = Run(arguments);
        EXPECT_EQ(extract.status, 1);
        EXPECT_NE(extract.err.find("a.zip: data/palette.txt: a symbolic link is in the way"), std::string::npos)
            << extract.err;
        EXPECT_EQ(ReadFile(_dir / "outside.txt"), "precious");
    }
    // A link in place of a folder is not followed either.
    fs::remove_all(_dir / "OUT");
    fs::create_directories(_dir / "OUT");
    fs::create_directory_symlink(_dir.path(), _dir / "OUT/data");
    Result folder = Run("extract a.zip OUT");
    EXPECT_EQ(folder.status, 1);
    EXPECT_FALSE(fs::exists(_dir / "other.txt"));
    EXPECT_FALSE(fs::exists(_dir / "palette.txt"));

    // An existing file stays unless --overwrite.
    fs::remove_all(_dir / "OUT");
    _dir.Write("OUT/data/other.txt", "mine");
    Result keep = Run("extract a.zip OUT");
    EXPECT_EQ(keep.status, 1);
    EXPECT_NE(keep.err.find("data/other.txt: exists (--overwrite replaces it)"), std::string::npos) << keep.err;
    EXPECT_EQ(ReadFile(_dir / "OUT/data/other.txt"), "mine");
    EXPECT_EQ(Run("extract --overwrite a.zip OUT").status, 0);
    EXPECT_EQ(ReadFile(_dir / "OUT/data/other.txt"), "other");
}

TEST_F(ToolHonesty, ExtractSkipsCompressedAndEncryptedEntriesByName)
{
    std::string bytes = ReadFile(WriteArchive("m.zip", {{"fine.txt", "f"}, {"locked.txt", "l"}, {"packed.txt", "p"}}));
    testing_support::Put16(bytes, testing_support::CentralHeaderOffset(bytes, 1) + 8, 1);  // encrypted
    testing_support::Put16(bytes, testing_support::CentralHeaderOffset(bytes, 2) + 10, 8); // deflated
    _dir.Write("m.zip", bytes);
    Result extract = Run("extract m.zip out");
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(Lines(extract.err), 2u) << extract.err;
    EXPECT_NE(extract.err.find("m.zip: locked.txt: skipped, encrypted"), std::string::npos) << extract.err;
    EXPECT_NE(extract.err.find("m.zip: packed.txt: skipped, deflated"), std::string::npos) << extract.err;
    EXPECT_EQ(ReadFile(_dir / "out/fine.txt"), "f");
}

TEST_F(ToolHonesty, PythonZip64AndDataDescriptorArchivesAreNotPassedOff)
{
    if (!HavePython())
        GTEST_SKIP() << "python3 is not installed";
    ASSERT_EQ(Python("import zipfile\n"
                     "with zipfile.ZipFile('many.zip', 'w') as z:\n"
                     "    for i in range(70000):\n"
                     "        z.writestr('f%05d' % i, b'x')\n"),
              0);
    Result ls = Run("ls many.zip");
    EXPECT_EQ(ls.status, 1);
    EXPECT_EQ(Lines(ls.err), 1u) << ls.err;
    EXPECT_NE(ls.err.find("ZIP64"), std::string::npos) << ls.err;
    Result check = Run("check many.zip");
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.err.find("ZIP64"), std::string::npos) << check.err;
    // pack --from names the limit of our format instead of dropping entries.
    EXPECT_EQ(Run("pack --from many.zip stored.zip").status, 1);
    EXPECT_FALSE(fs::exists(_dir / "stored.zip"));

    // Written to a pipe, zipfile streams: sizes and CRC follow the data.
    ASSERT_EQ(RunShell("cd " + _dir.path() +
                       " && python3 -c \"import sys, zipfile\n"
                       "z = zipfile.ZipFile(sys.stdout.buffer, 'w')\n"
                       "f = z.open('stream.txt', 'w'); f.write(b'streamed data'); f.close(); z.close()\" | cat > "
                       "streamed.zip"),
              0);
    Result streamed = Run("check streamed.zip");
    EXPECT_EQ(streamed.status, 1);
    EXPECT_NE(streamed.err.find("streamed.zip: stream.txt: data descriptor"), std::string::npos) << streamed.err;
    Result extract = Run("extract streamed.zip out");
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(ReadFile(_dir / "out/stream.txt"), "streamed data");
    ASSERT_EQ(Run("pack --from streamed.zip converted.zip").status, 0);
    EXPECT_EQ(Run("check converted.zip").status, 0);
    EXPECT_EQ(Run("cat -m converted.zip stream.txt").out, "streamed data");
}

TEST_F(ToolHonesty, PackFromConvertsDeflatedArchivesOfInfoZipAndLibzip)
{
    if (!HaveCommand("zip") || !HaveCommand("unzip"))
        GTEST_SKIP() << "Info-ZIP zip and unzip are not installed";
    MakeTree("tree");
    _dir.Write("tree/big.txt", std::string(5000, 'a'));
    ASSERT_EQ(RunShell("cd " + _dir.path() + " && echo 'a comment' | zip -q -9 -r -z deflated.zip tree"), 0);
    Result deflated = Run("check deflated.zip");
    EXPECT_EQ(deflated.status, 1);
    EXPECT_NE(deflated.err.find("comment"), std::string::npos) << deflated.err;

    Result convert = Run("pack --from deflated.zip --key secret stored.pak");
    ASSERT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(Run("check --key secret stored.pak").status, 0);
    EXPECT_EQ(Run("cat -m stored.pak --key secret tree/big.txt").out, std::string(5000, 'a'));
    // A plain conversion is an archive other tools read too.
    ASSERT_EQ(Run("pack --from deflated.zip plain.zip").status, 0);
    EXPECT_EQ(Run("check plain.zip").status, 0);
    EXPECT_EQ(RunShell("cd " + _dir.path() + " && unzip -tq plain.zip >/dev/null"), 0);

    // An archive libzip writes (deflated by default).
    int error = 0;
    zip_t* archive = zip_open((_dir / "libzip.zip").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    static const std::string text(3000, 'l');
    zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
    ASSERT_GE(zip_file_add(archive, "made/by/libzip.txt", source, ZIP_FL_ENC_UTF_8), 0);
    ASSERT_EQ(zip_close(archive), 0);
    EXPECT_NE(Run("ls -l libzip.zip").out.find("deflate"), std::string::npos);
    ASSERT_EQ(Run("pack --from libzip.zip fromlibzip.zip").status, 0);
    EXPECT_EQ(Run("cat -m fromlibzip.zip made/by/libzip.txt").out, text);
}

TEST_F(ToolHonesty, ClaimsBeyondTheArchiveFinishQuicklyInBoundedMemory)
{
    // A small archive whose local header claims 4 GiB - 1 bytes, plain and scrambled.
    std::string bytes = testing_support::MakeArchive({{"huge.bin", std::string(1000, 'h')}});
    testing_support::Put32(bytes, 22, 0xffffffffu);
    _dir.Write("claim.zip", bytes);
    const std::string key = "0123456789abcdef0123456789ABCDEF";
    _dir.Write("claim.pak", testing_support::Scramble(bytes, key) + key);
    const std::string limit = MemoryLimit;
    for (const char* arguments :
         {"check claim.zip", "check claim.pak", "ls claim.pak", "cat -m claim.zip huge.bin", "extract claim.zip out"}) {
        SCOPED_TRACE(arguments);
        // timeout guards against a hang (status 124); how long it takes is for the benchmarks.
        Result result = Run(arguments, limit + std::string(" timeout 60"));
        EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status << result.err;
        EXPECT_EQ(result.err.find("bad_alloc"), std::string::npos) << result.err;
    }
    Result check = Run("check claim.zip", limit);
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.err.find("claim.zip: huge.bin: size mismatch"), std::string::npos) << check.err;
    EXPECT_NE(check.err.find("claim.zip: huge.bin: data past the end"), std::string::npos) << check.err;
}

TEST_F(ToolHonesty, EveryDamagedArchiveOfTheCorpusEndsInSecondsUnderAMemoryLimit)
{
    // check reads all that ls reads and more; ls runs on every fourth file, to keep the time.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(ASSETS_CORPUS_DIR)) {
        const std::string file = entry.path().string();
        for (const char* command : {"check", "ls"}) {
            if (command[0] == 'l' && files % 4 != 0)
                continue;
            // timeout guards against a hang (status 124).
            Result result = Run(std::string(command) + " '" + file + "'", MemoryLimit + std::string(" timeout 60"));
            EXPECT_TRUE(result.status == 0 || result.status == 1) << command << ' ' << file << ": " << result.err;
            EXPECT_LE(Lines(result.err), 21u) << command << ' ' << file;
        }
        ++files;
    }
    EXPECT_GT(files, 100u);
}

TEST_F(ToolHonesty, WrongKeysRenamedAndCommentedArchivesTakeOneLine)
{
    // Many entries, so that a line per entry would show.
    std::vector<testing_support::ArchiveItem> items;
    for (int i = 0; i < 300; ++i)
        items.push_back({"e" + std::to_string(i), "x"});
    _dir.Write("game.pak", testing_support::MakeArchive(items, "secret"));
    Result noKey = Run("ls game.pak");
    EXPECT_EQ(noKey.status, 1);
    EXPECT_EQ(Lines(noKey.err), 1u) << noKey.err;
    EXPECT_NE(noKey.err.find("--key"), std::string::npos) << noKey.err;
    EXPECT_EQ(Lines(Run("ls --key wrong game.pak").err), 1u);

    const std::string plain = testing_support::MakeArchive(items);
    _dir.Write("game.jar", plain);
    Result renamed = Run("ls game.jar");
    EXPECT_EQ(renamed.status, 1);
    EXPECT_EQ(Lines(renamed.err), 1u) << renamed.err;
    EXPECT_NE(renamed.err.find("--plain"), std::string::npos) << renamed.err;
    Result asPlain = Run("ls --plain game.jar");
    EXPECT_EQ(asPlain.status, 0) << asPlain.err;
    EXPECT_EQ(Lines(asPlain.out), 300u);
    EXPECT_EQ(Run("check --plain game.jar").status, 0);

    std::string commented = plain;
    testing_support::Put16(commented, commented.size() - 2, 9);
    _dir.Write("commented.zip", commented + "a comment");
    Result comment = Run("ls commented.zip");
    EXPECT_EQ(comment.status, 1);
    EXPECT_EQ(Lines(comment.err), 1u) << comment.err;
    EXPECT_NE(comment.err.find("comment"), std::string::npos) << comment.err;
    Result checked = Run("check commented.zip");
    EXPECT_EQ(checked.status, 1);
    EXPECT_EQ(Lines(checked.err), 1u) << checked.err;

    // check shows 20 problems and a count; --all shows every one.
    std::string broken = plain;
    for (int i = 0; i < 30; ++i)
        testing_support::Put32(broken, testing_support::CentralHeaderOffset(broken, i) + 16, 0xdeadbeef);
    _dir.Write("broken.zip", broken);
    Result capped = Run("check broken.zip");
    EXPECT_EQ(capped.status, 1);
    EXPECT_EQ(Lines(capped.err), 21u) << capped.err;
    EXPECT_NE(capped.err.find("and 10 more"), std::string::npos) << capped.err;
    EXPECT_EQ(Lines(Run("check --all broken.zip").err), 30u);
}

TEST_F(ToolHonesty, LostWritesAreErrors)
{
    MakeTree("tree");
    ASSERT_EQ(Run("pack out.zip tree").status, 0);
    for (const char* arguments : {"ls out.zip", "ls --json out.zip", "check out.zip", "cat -m out.zip a.txt",
                                  "cat -m tree a.txt", "tree -m out.zip", "exists -m out.zip a.txt", "pack - tree"}) {
        SCOPED_TRACE(arguments);
        const std::string err = _dir / ".err";
        const int status =
            RunShell("cd " + _dir.path() + " && " DRAXEL_ASSETS_TOOL " " + arguments + " >/dev/full 2>" + err);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(ReadFile(err), "draxel-assets: write error: No space left on device\n");
    }
}

TEST_F(ToolHonesty, InterruptedPackLeavesNoTemporaryFile)
{
    _dir.MakeDir("big");
    {
        std::ofstream sparse(_dir / "big/zeros.bin", std::ios_base::binary);
        sparse.seekp((std::streamoff(1) << 30) - 1);
        sparse.put('\0');
    }
    const std::string command = "cd " + _dir.path() + " && exec " DRAXEL_ASSETS_TOOL " pack big.zip big 2>/dev/null";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool seen = false;
    for (int i = 0; i < 2000 && !seen; ++i) {
        for (const auto& entry : fs::directory_iterator(_dir.path()))
            seen = seen || entry.path().filename().string().find(".big.zip.tmp") == 0;
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!seen)
        GTEST_SKIP() << "the pack finished before its temporary file was seen";
    for (const auto& entry : fs::directory_iterator(_dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(ToolHonesty, NonAsciiNamesCarryTheUtf8FlagAndMountTargetsDropTheirSlash)
{
    _dir.Write("tree/caf\xc3\xa9.txt", "coffee");
    _dir.Write("tree/plain.txt", "tea");
    ASSERT_EQ(Run("pack out.zip tree").status, 0);
    const std::string bytes = ReadFile(_dir / "out.zip");
    EXPECT_EQ(testing_support::Get16(bytes, 6) & 0x0800, 0x0800); // the first local header: café.txt
    EXPECT_EQ(testing_support::Get16(bytes, testing_support::CentralHeaderOffset(bytes, 0) + 8) & 0x0800, 0x0800);
    EXPECT_EQ(testing_support::Get16(bytes, testing_support::CentralHeaderOffset(bytes, 1) + 8) & 0x0800, 0);
    if (HavePython()) {
        EXPECT_EQ(Python("import zipfile\n"
                         "assert zipfile.ZipFile('out.zip').namelist()[0] == 'caf\\u00e9.txt'\n"),
                  0);
    }

    EXPECT_EQ(Run("cat -m out.zip:/assets assets/plain.txt").out, "tea");
    EXPECT_EQ(Run("exists -m out.zip:/assets:3 assets/plain.txt").out,
              "assets/plain.txt: file from out.zip (priority 3)\n");
    EXPECT_NE(Run("cat --help").out.find("leading slash is dropped"), std::string::npos);
}

TEST_F(ToolHonesty, JsonVersionKeyFileAndNameRuleAreThere)
{
    MakeTree("tree");
    ASSERT_EQ(Run("pack out.zip tree").status, 0);
    Result json = Run("ls --json out.zip");
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("\"name\": \"sub/b.txt\""), std::string::npos) << json.out;
    EXPECT_NE(Run("check --json out.zip").out.find("\"problems\": []"), std::string::npos);
    EXPECT_NE(Run("tree --json -m out.zip").out.find("\"children\""), std::string::npos);
    EXPECT_NE(Run("exists --json -m out.zip a.txt").out.find("\"exists\": true"), std::string::npos);

    Result version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("draxel-assets ", 0), 0u) << version.out;

    _dir.Write("key.bin", "secret");
    ASSERT_EQ(Run("pack --key-file key.bin s.dat tree").status, 0);
    EXPECT_EQ(Run("cat -m s.dat --key-file key.bin a.txt").out, "alpha\n");
    EXPECT_NE(Run("--help").out.find("--plain"), std::string::npos);

    Result piped = Run("pack - tree");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, ReadFile(_dir / "out.zip"));
}

TEST_F(ToolHonesty, AGibibyteEntryIsCheckedReadAndExtractedInBoundedMemory)
{
    // One stored entry of 1 GiB of zeros, written sparse: local header, data, central
    // header, end record.
    const std::uint64_t size = std::uint64_t(1) << 30;
    uLong crc = ::crc32(0L, Z_NULL, 0);
    const std::string zeros(std::size_t(1) << 20, '\0');
    for (std::uint64_t done = 0; done < size; done += zeros.size())
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
    std::string small = testing_support::MakeArchive({{"big.bin", "x"}});
    const std::size_t central = testing_support::CentralHeaderOffset(small, 0);
    std::string local = small.substr(0, 30 + 7);
    std::string tail = small.substr(central);
    for (std::string* header : {&local, &tail}) {
        const std::size_t at = header == &local ? 14 : 16;
        testing_support::Put32(*header, at, static_cast<std::uint32_t>(crc));
        testing_support::Put32(*header, at + 4, static_cast<std::uint32_t>(size));
        testing_support::Put32(*header, at + 8, static_cast<std::uint32_t>(size));
    }
    const std::size_t end = tail.size() - 22;
    testing_support::Put32(tail, end + 16, static_cast<std::uint32_t>(local.size() + size));
    {
        std::ofstream out(_dir / "big.zip", std::ios_base::binary);
        out.write(local.data(), static_cast<std::streamsize>(local.size()));
        out.seekp(static_cast<std::streamoff>(local.size() + size));
        out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    }
    for (const char* arguments : {"check big.zip", "cat -m big.zip big.bin", "extract big.zip out"}) {
        SCOPED_TRACE(arguments);
        // Output to /dev/null: the test does not read back the gigabytes.
        long peakKiB = 0;
        const int status = RunMeasured("cd " + _dir.path() + " && " + MemoryLimit + " " DRAXEL_ASSETS_TOOL " " +
                                           arguments + " >/dev/null",
                                       peakKiB);
        EXPECT_EQ(status, 0);
        // (Under AddressSanitizer the shadow and quarantine add their own.)
#if !defined(ASSETS_TOOL_UNDER_ASAN)
        EXPECT_LT(peakKiB, 256 * 1024) << "KiB";
#endif
        std::cout << arguments << ": peak resident " << peakKiB / 1024 << " MiB\n";
    }
    EXPECT_EQ(fs::file_size(_dir / "out/big.bin"), size);
    fs::remove(_dir / "out/big.bin");
}
