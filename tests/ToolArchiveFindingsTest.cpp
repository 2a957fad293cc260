// draxel-assets on what archives of other tools hold: 65 535 entries, names that are not UTF-8,
// "./" prefixes (bsdtar), symbolic links (Info-ZIP -y, bsdtar, 7-Zip), deflate bombs, and names,
// totals and local headers that disagree; archives made at test time by those tools where the
// machine has them.
#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>

namespace fs = std::filesystem;
using testing_support::ArchiveItem;
using testing_support::CentralHeaderOffset;
using testing_support::LocalHeaderOffset;
using testing_support::MakeArchive;
using testing_support::Put16;
using testing_support::Put32;
using testing_support::ReadFile;

namespace {

class ToolFindings : public Tool {
protected:
    // A tree with a file and a symbolic link to it: tree/Data/a.txt, tree/Data/link -> a.txt.
    void MakeLinkTree()
    {
        _dir.Write("tree/Data/a.txt", "alpha\n");
        fs::create_symlink("a.txt", _dir / "tree/Data/link");
    }

    // How another tool makes an archive: the program, and the shell command that runs it.
    struct Maker {
        const char* tool;
        const char* command;
    };

    // An archive of one entry bomb.bin, p_size zero bytes deflated, whose headers say it holds
    // p_claimed bytes: local header, the deflate stream, central header, end record.
    static std::string DeflatedZeros(std::uint64_t p_size, std::uint64_t p_claimed)
    {
        z_stream stream{};
        EXPECT_EQ(deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
        const std::string zeros(std::size_t(1) << 20, '\0');
        std::string packed;
        std::vector<char> out(std::size_t(1) << 16);
        uLong crc = ::crc32(0L, Z_NULL, 0);
        for (std::uint64_t done = 0; done < p_size; done += zeros.size()) {
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
            stream.avail_in = static_cast<uInt>(zeros.size());
            const int flush = done + zeros.size() >= p_size ? Z_FINISH : Z_NO_FLUSH;
            do {
                stream.next_out = reinterpret_cast<Bytef*>(out.data());
                stream.avail_out = static_cast<uInt>(out.size());
                deflate(&stream, flush);
                packed.append(out.data(), out.size() - stream.avail_out);
            } while (stream.avail_out == 0);
            crc = ::crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
        }
        deflateEnd(&stream);

        const std::string small = MakeArchive({{"bomb.bin", ""}});
        const std::size_t localSize = 30 + 8;
        std::string local = small.substr(0, localSize), tail = small.substr(localSize);
        Put16(local, 8, 8);
        Put16(tail, 10, 8);
        for (std::string* header : {&local, &tail}) {
            const std::size_t at = header == &local ? 14 : 16;
            Put32(*header, at, static_cast<std::uint32_t>(crc));
            Put32(*header, at + 4, static_cast<std::uint32_t>(packed.size()));
            Put32(*header, at + 8, static_cast<std::uint32_t>(p_claimed));
        }
        Put32(tail, tail.size() - 22 + 16, static_cast<std::uint32_t>(localSize + packed.size()));
        return local + packed + tail;
    }
};

} // namespace

// 65 535 entries fill the 16-bit count: pack writes them, and every command reads them back.
TEST_F(ToolFindings, PackOf65535FilesIsAPlainArchive)
{
    // On tmpfs where the machine has it: 65 536 files on a journaled disk take a minute under load.
    std::error_code error;
    const testing_support::ScratchDir fast(fs::is_directory("/dev/shm", error) ? "/dev/shm" : _dir.path());
    for (int i = 0; i <= 0xffff; ++i)
        fast.Write("many/d" + std::to_string(i % 100) + "/f" + std::to_string(i), i == 0 ? "first" : "");
    const std::string many = "'" + (fast / "many") + "'";
    Expect({{"pack over.zip " + many, 1, {}, "*more than 65535 entries*"}});
    EXPECT_FALSE(fs::exists(_dir / "over.zip"));

    fs::remove(fast / "many/d35/f65535");
    Expect({{"pack full.zip " + many, 0},
            {"check full.zip", 0, "full.zip: 65535 files checked, no problems\n"},
            {"cat -m full.zip d0/f0", 0, "first"},
            {"extract full.zip '" + (fast / "out") + "'", 0}});
    EXPECT_EQ(Lines(Run("ls full.zip").out), 65535u);
    EXPECT_EQ(ReadFile(fast / "out/d0/f0"), "first");
    EXPECT_TRUE(fs::exists(fast / "out/d34/f65534"));
}

// A Latin-1 file name is stored as it is, without the UTF-8 flag; a flag on such a name is a
// finding.
TEST_F(ToolFindings, NamesThatAreNotUtf8AreNotFlagged)
{
    _dir.Write("tree/caf\xe9.txt", "latin");
    ASSERT_EQ(Run("pack out.zip tree").status, 0);
    std::string bytes = ReadFile(_dir / "out.zip");
    EXPECT_EQ(testing_support::Get16(bytes, 6) & 0x0800, 0);
    EXPECT_EQ(testing_support::Get16(bytes, CentralHeaderOffset(bytes, 0) + 8) & 0x0800, 0);
    Expect({{"check out.zip", 0}});
    if (HaveCommand("python3")) {
        // zipfile reads an unflagged name in code page 437, where 0xE9 is a Greek theta.
        _dir.Write(".names.py", "import zipfile\n"
                                "z = zipfile.ZipFile('out.zip')\n"
                                "assert z.namelist() == ['caf\\u0398.txt'], z.namelist()\n"
                                "assert z.read(z.namelist()[0]) == b'latin'\n");
        EXPECT_EQ(Shell("python3 .names.py"), 0);
    }

    Put16(bytes, CentralHeaderOffset(bytes, 0) + 8, 0x0800);
    _dir.Write("flagged.zip", bytes);
    Expect({{"check flagged.zip", 1, {}, "*name not UTF-8: marked UTF-8 (flag bit 11), but the name is not UTF-8*"}});
}

// Names that begin with "./", as bsdtar stores a tree packed from ".": check names the prefix,
// pack --from drops it, extract treats "." as nothing.
TEST_F(ToolFindings, DotPrefixedNamesAreNamedDroppedAndExtracted)
{
    _dir.Write("ours.zip", MakeArchive({{"./", "", true}, {"./Data/", "", true}, {"./Data/a.txt", "alpha\n"}}));
    _dir.Write("tree/Data/a.txt", "alpha\n");
    const bool bsdtar =
        HaveCommand("bsdtar") &&
        Shell("cd tree && bsdtar --format zip --options zip:compression=store -cf ../bsdtar.zip .") == 0;
    for (const char* archive : {"ours.zip", "bsdtar.zip"}) {
        if (std::string(archive) == "bsdtar.zip" && !bsdtar) {
            std::cout << "bsdtar is not installed: its archive is not tried\n";
            continue;
        }
        SCOPED_TRACE(archive);
        fs::remove(_dir / "converted.zip");
        fs::remove_all(_dir / "out");
        Expect({{std::string("check ") + archive, 1, {}, "*./Data/a.txt: dot component: a './' prefix*"},
                {std::string("pack --from ") + archive + " converted.zip", 0},
                {"ls converted.zip", 0, "Data/\nData/a.txt\n"},
                {"check converted.zip", 0},
                {std::string("extract ") + archive + " out", 0}});
        EXPECT_EQ(ReadFile(_dir / "out/Data/a.txt"), "alpha\n");
    }
}

// Symbolic links of Info-ZIP (-y), bsdtar and 7-Zip (-snl): named by check, ls -l and JSON,
// skipped by extract and pack --from with a line each and exit status 1, or written as files
// holding their target with --links-as-files.
TEST_F(ToolFindings, SymbolicLinkEntriesAreNamedAndSkipped)
{
    MakeLinkTree();
    const Maker makers[] = {
        {"zip", "cd tree && zip -q -0 -y -r ../links.zip Data"},
        {"bsdtar", "cd tree && bsdtar --format zip --options zip:compression=store -cf ../links.zip Data"},
        {"7z", "cd tree && 7z a -tzip -mx=0 -snl ../links.zip Data"},
    };
    std::size_t tried = 0;
    for (const Maker& maker : makers) {
        if (!HaveCommand(maker.tool)) {
            std::cout << maker.tool << " is not installed: its archive is not tried\n";
            continue;
        }
        SCOPED_TRACE(maker.tool);
        ++tried;
        for (const char* made : {"links.zip", "out", "files", "converted.zip", "as-files.zip"})
            fs::remove_all(_dir / made);
        ASSERT_EQ(Shell(maker.command), 0);

        const std::string skipped = "*links.zip: Data/link: skipped, symbolic link*";
        Expect({{"check links.zip", 1, {}, "*links.zip: Data/link: symbolic link: *"},
                {"ls -l links.zip", 0, "*\nlink *"},
                {"ls --json links.zip", 0, "*\"type\": \"link\"*"},
                {"extract links.zip out", 1, {}, skipped, 1},
                {"extract --links-as-files links.zip files", 0},
                {"pack --from links.zip converted.zip", 1, {}, skipped, 1},
                {"ls converted.zip", 0, "Data/\nData/a.txt\n"},
                {"pack --from links.zip --links-as-files as-files.zip", 0},
                {"cat -m as-files.zip Data/link", 0, "a.txt"}});
        EXPECT_EQ(ReadFile(_dir / "out/Data/a.txt"), "alpha\n");
        EXPECT_FALSE(fs::exists(fs::symlink_status(_dir / "out/Data/link")));
        EXPECT_EQ(ReadFile(_dir / "files/Data/link"), "a.txt");
    }
    if (tried == 0)
        GTEST_SKIP() << "none of Info-ZIP zip, bsdtar and 7z is installed";
}

// Names, totals and local headers that disagree: each is a problem check names, on the entry it
// concerns; extract refuses a name with a NUL, which other tools cut there.
TEST_F(ToolFindings, CheckNamesEveryDisagreement)
{
    const std::string bytes = MakeArchive({{"first.txt", "1"}, {"second.txt", "22"}});
    const std::size_t end = bytes.size() - 22;
    const std::size_t second = LocalHeaderOffset(bytes, 1);
    const struct {
        const char* label;
        std::vector<ArchiveItem> items; // our archive of these, or of first.txt and second.txt
        std::function<void(std::string&)> patch;
        const char* line;
    } cases[] = {
        {"count",
         {},
         [&](std::string& p_bytes) { Put16(p_bytes, end + 10, 205); },
         "x.zip: entry count mismatch: the end record counts 2 entries on this disk and 205 in all"},
        {"size",
         {},
         [&](std::string& p_bytes) { Put32(p_bytes, end + 12, 0x80000000u); },
         "x.zip: central directory size mismatch: the end record says 2147483648 bytes, the central headers take"},
        {"method",
         {},
         [&](std::string& p_bytes) { Put16(p_bytes, second + 8, 8); },
         "x.zip: second.txt: method mismatch: method 8 in the local header, 0 in the central directory"},
        {"compressed size",
         {},
         [&](std::string& p_bytes) { Put32(p_bytes, second + 18, 7); },
         "x.zip: second.txt: size mismatch: compressed size 7 in the local header, 2 in the central directory"},
        {"name",
         {},
         [&](std::string& p_bytes) { p_bytes[second + 30] = 'S'; },
         "x.zip: second.txt: local name mismatch: the local header names it Second.txt"},
        {"no name",
         {},
         [&](std::string& p_bytes) { Put16(p_bytes, second + 26, 0); },
         "x.zip: second.txt: local name mismatch: the local header has no name"},
        {"NUL", {{std::string("o\0pen.txt", 8), "nul"}}, nullptr, ": NUL in name: a NUL byte at byte 1 of the name"},
        {"parent", {{"../COPYING", "gpl"}}, nullptr, "x.zip: ../COPYING: parent component: "},
        {"absolute", {{"/etc/passwd", "root"}}, nullptr, "x.zip: /etc/passwd: absolute name: "},
        {"backslash", {{"Data\\a.txt", "a"}}, nullptr, "x.zip: Data\\a.txt: backslash in name: "},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.label);
        std::string archive = entry.items.empty() ? bytes : MakeArchive(entry.items);
        if (entry.patch)
            entry.patch(archive);
        _dir.Write("x.zip", archive);
        Expect({{"check --all x.zip", 1, {}, std::string("*") + entry.line + "*"}});
    }

    _dir.Write("nul.zip", MakeArchive({{std::string("o\0pen.txt", 8), "nul"}, {"fine.txt", "f"}}));
    Expect({{"extract nul.zip out", 1, {}, "*refused, the name holds a NUL byte*"}});
    EXPECT_FALSE(fs::exists(_dir / "out/o"));
    EXPECT_EQ(ReadFile(_dir / "out/fine.txt"), "f");
}

// pack --from streams an entry in chunks: a gibibyte of zeros deflated into a megabyte is
// converted in a few MiB; one that inflates past the size it claims ends at that size.
TEST_F(ToolFindings, PackFromStreamsADeflateBombInBoundedMemory)
{
    const std::uint64_t size = std::uint64_t(1) << 30;
    _dir.Write("bomb.zip", DeflatedZeros(size, size));
    _dir.Write("liar.zip", DeflatedZeros(std::uint64_t(64) << 20, 1000));

    Expect({{"pack --from liar.zip liar-out.zip", 1, {}, "*liar.zip: bomb.bin: *longer than*"}}, MemoryLimit);
    EXPECT_FALSE(fs::exists(_dir / "liar-out.zip"));
    long peakKiB = 0;
    Expect({{"pack --from bomb.zip out.zip", 0}}, MemoryLimit, &peakKiB);
    EXPECT_EQ(fs::file_size(_dir / "out.zip"), 30 + 8 + size + 46 + 8 + 22);
    std::cout << "pack --from of a 1 GiB deflated entry: peak resident " << peakKiB / 1024 << " MiB\n";
#if !defined(ASSETS_TOOL_UNDER_ASAN)
    EXPECT_LT(peakKiB, 64 * 1024) << "KiB";
#endif
    Expect({{"check out.zip", 0}});
    fs::remove(_dir / "out.zip");
}
