// The regression corpus of damaged archives (tests/corpus): every file is read as an archive
// on disk and as an archive inside other volumes, with an ensure handler that returns and
// with one that throws; every name its central directory lists and a few it does not are
// asked for and opened in both modes. The archives scrambled with a given key are read again
// rescrambled with keys whose length does not divide 2^32, where a position below 0 (a failed
// stream's, or an offset past 2 GiB) takes other key bytes than its unsigned reading. Damage
// must be reported, nothing may leave the volume but the exceptions it documents, and memory
// must stay bounded by the archive: no stream holds more than the archive does, whatever its
// local header claims. CTest runs this program with an address-space limit (or the
// sanitizer's allocation limit) under which 4 GiB cannot be allocated, and no claim may meet it.
#include "CentralWalk.h"
#include "CorpusFiles.h"
#include "EnsureCounter.h"
#include "MemoryVolume.h"
#include "StreamReading.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/FileSystemVolume.h>
#include <QorDebug.h>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>

using namespace Qor::Draxel::Assets;
using namespace testing_support;
using testing_support::ReadFile;

namespace {

const std::string OtherGivenKeys[] = {"7-bytes", "thirty-one-bytes-of-a-given-key",
                                      "thirty-three-bytes-of-a-given-key"};

bool StartsWith(const std::string& p_text, const std::string& p_start)
{
    return p_text.compare(0, p_start.size(), p_start) == 0;
}

long PeakKilobytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Every report and every answer of a reading is folded into one digest, so that two readings
// of the same archive compare without holding 65 535 reports twice.
std::uint64_t g_digest = 0;

void Fold(const std::string& p_text)
{
    g_digest = (g_digest ^ std::hash<std::string>()(p_text)) * 0x100000001b3u;
}

// Opens p_name both ways; a stream holds no more than the archive's p_archiveSize, readable
// to the last byte (an entry without bytes opens empty).
void Visit(const Volume& p_volume, const std::string& p_name, std::size_t p_archiveSize)
{
    const AssetPath path(p_name);
    Fold(p_name + (p_volume.Exists(path) ? ": exists" : ": absent"));
    for (Volume::OpenMode mode : {Volume::Binary, Volume::Text}) {
        boost::shared_ptr<std::istream> stream;
        try {
            stream = p_volume.Open(path, mode);
        } catch (const std::exception& error) {
            const bool expected = dynamic_cast<const qordebug::ensure_failure*>(&error) != nullptr;
            EXPECT_TRUE(expected) << p_name << ": " << error.what();
            Fold(std::string("throws ") + error.what());
            continue;
        }
        if (!stream) {
            Fold("no stream");
            continue;
        }
        stream->seekg(0, std::ios_base::end);
        const std::streamoff length = stream->tellg();
        ASSERT_GE(length, 0) << p_name;
        EXPECT_LE(length, static_cast<std::streamoff>(p_archiveSize)) << p_name;
        if (length > 0) {
            stream->seekg(length - 1, std::ios_base::beg);
            EXPECT_NE(stream->get(), std::char_traits<char>::eof()) << p_name;
        }
        EXPECT_EQ(stream->get(), std::char_traits<char>::eof()) << p_name;
        stream->clear();
        stream->seekg(0, std::ios_base::beg);
        bool complete = false;
        const std::string head = ReadUpTo(*stream, 4096, complete);
        EXPECT_EQ(head.empty(), length == 0) << p_name;
        Fold(std::to_string(length) + ": " + head);
    }
}

// Visits every listed name and a few absent ones; returns the reports of the walk and of the
// listed files (a directory or an absent name reports by design, so those are not counted).
std::size_t VisitAll(const Volume& p_volume, const std::string& p_bytes, const CorpusMode& p_mode,
                     std::size_t p_walkReports)
{
    const std::vector<std::string> names = CentralNames(p_bytes, p_mode.nameKey, p_mode.trailer);
    std::size_t reports = p_walkReports;
    for (const std::string& name : names) {
        if (name.back() == '/' || name.back() == '\\')
            continue;
        const std::size_t before = EnsureCount();
        Visit(p_volume, name, p_bytes.size());
        reports += EnsureCount() - before;
    }
    for (const std::string& name : names) {
        Visit(p_volume, name, p_bytes.size());
        Visit(p_volume, AssetPath(name).str() + "/missing", p_bytes.size());
    }
    for (const char* absent : {"", "/", "missing", "shaders", "a/b"})
        Visit(p_volume, absent, p_bytes.size());
    return reports;
}

struct Reading {
    std::size_t reports; // as VisitAll counts them
    std::uint64_t digest;
};

Reading ReadVolume(const std::function<boost::shared_ptr<Volume>()>& p_open, const std::string& p_bytes,
                   const CorpusMode& p_mode)
{
    g_digest = 0;
    const std::size_t before = EnsureCount();
    try {
        boost::shared_ptr<Volume> volume = p_open();
        const std::size_t reports = VisitAll(*volume, p_bytes, p_mode, EnsureCount() - before);
        return Reading{reports, g_digest};
    } catch (const qordebug::ensure_failure&) {
        return Reading{EnsureCount() - before, g_digest};
    }
}

// Reads p_file of p_directory with the handler in place three ways: the archive file by the
// volume itself, the same file as a stream from a directory volume, and its bytes held in
// memory (as the fuzz target reads them). Returns the reports that tell of damage (a throwing handler's
// first report ends a reading). A file and a file stream must report the same checks in the
// same order and answer alike; a string stream may not (it refuses a seek past its end).
std::size_t ReadCorpusFile(const std::string& p_directory, const std::string& p_file, const std::string& p_givenKey)
{
    const std::string path = p_directory + "/" + p_file;
    const std::string bytes = ReadFile(path);
    const CorpusMode mode = ModeOf(p_file, bytes, p_givenKey);
    const Reading disk =
        ReadVolume([&] { return ArchiveVolume::Open(qorfile::filepath(path), mode.key); }, bytes, mode);
    if (bytes.empty())
        return disk.reports; // an asset without bytes throws std::out_of_range from the factory
    const boost::shared_ptr<Volume> directory = FileSystemVolume::Open(qorfile::filepath(p_directory));
    const Reading streamed =
        ReadVolume([&] { return ArchiveVolume::Open(*directory, AssetPath(p_file), mode.key); }, bytes, mode);
    // An entry whose data would start past the archive's end holds nothing either way.
    EXPECT_EQ(disk.digest, streamed.digest) << "read as a file and as a file stream differ";
    const std::string name = EndsWith(p_file, ".zip") ? "inner.zip" : "inner.dat";
    const MemoryVolume holder(name, bytes);
    const Reading memory =
        ReadVolume([&] { return ArchiveVolume::Open(holder, AssetPath(name), mode.key); }, bytes, mode);
    return disk.reports + streamed.reports + memory.reports;
}

// Damage of these kinds is always detectable, and must be reported. (A file of 22 bytes can
// be a whole, empty archive; a trailer of zeros scrambles nothing.)
bool MustReport(const std::string& p_file)
{
    if (p_file == "gen-short-22.zip" || p_file == "gen-trailer-zeros.dat")
        return false;
    for (const char* prefix :
         {"gen-cut-", "gen-short-", "gen-end-sig-", "gen-end-with-comment", "gen-end-garbage", "gen-central-sig-",
          "gen-local-sig-", "gen-name-empty", "gen-count-", "gen-duplicates", "gen-central-method-12",
          "gen-central-method-99", "gen-central-flags-one", "gen-end-points-at-itself", "gen-cd-into-local"})
        if (StartsWith(p_file, prefix))
            return true;
    return false;
}

// Reads p_files of p_directory with both handlers: the good archives report nothing, every
// detectable damage is reported, and claims of up to 4 GiB that no archive holds never become
// written memory.
void ReadAllFiles(const std::string& p_directory, const std::vector<std::string>& p_files,
                  const std::string& p_givenKey)
{
    const long peakBefore = PeakKilobytes();
    for (bool returning : {true, false}) {
        UseEnsureHandler(returning, Fold);
        for (const std::string& file : p_files) {
            SCOPED_TRACE(file + (returning ? " (returning handler)" : " (throwing handler)"));
            const std::size_t reports = ReadCorpusFile(p_directory, file, p_givenKey);
            if (StartsWith(file, "gen-good")) {
                EXPECT_EQ(reports, 0u);
            } else if (MustReport(file)) {
                EXPECT_GT(reports, 0u);
            }
        }
    }
    // Claims of up to 4 GiB take no more memory than their small archives hold (the bound
    // leaves room for the sanitizer's quarantine and shadow).
    EXPECT_LT(PeakKilobytes() - peakBefore, 256 * 1024);
}

TEST(CorpusTest, EveryDamagedArchiveIsReportedAndStaysInBounds)
{
    const std::vector<std::string> files = CorpusFiles();
    ASSERT_GT(files.size(), 100u) << "the corpus is missing from " << CorpusDirectory;
    ReadAllFiles(CorpusDirectory, files, GivenKey);
}

// The given-key archives unscrambled with the fuzz key and scrambled again with another key:
// the same damage, other key bytes at every position.
class CorpusKeyLengthTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusKeyLengthTest, GivenKeyArchivesAreReportedAndStayInBounds)
{
    const std::string key = GetParam();
    ASSERT_NE(0x100000000u % key.size(), 0u) << key.size() << " divides 2^32";
    testing_support::ScratchDir rekeyed;
    std::vector<std::string> files;
    for (const std::string& file : CorpusFiles()) {
        if (!EndsWith(file, ".given.dat"))
            continue;
        std::string bytes = ReadFile(CorpusDirectory + "/" + file);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(bytes[i] ^ GivenKey[i % GivenKey.size()] ^ key[i % key.size()]);
        rekeyed.Write(file, bytes);
        files.push_back(file);
    }
    ASSERT_GT(files.size(), 100u);
    ReadAllFiles(rekeyed.path(), files, key);
}

INSTANTIATE_TEST_SUITE_P(NotDividing2To32, CorpusKeyLengthTest, ::testing::ValuesIn(OtherGivenKeys),
                         [](const ::testing::TestParamInfo<std::string>& p_info) {
                             return "Key" + std::to_string(p_info.param.size());
                         });

// The claim of 4 GiB, in a plain archive, one carrying its key and one read with a given key:
// the stream is the archive from the entry's data on, unscrambled, and takes no more memory.
TEST(CorpusTest, ClaimPastTheArchiveEndsWhereTheArchiveEnds)
{
    UseEnsureHandler(false);
    if (std::getenv("ASSETS_CORPUS_LIMITED")) {
        // The limit this program runs under must be one in which 4 GiB cannot be had.
        void* block = std::malloc(std::size_t(4) << 30);
        EXPECT_EQ(block, nullptr);
        std::free(block);
    }
    const std::size_t dataOffset = 30 + 4; // behind the local header and the name "huge"
    const std::string plain = ReadFile(CorpusDirectory + "/gen-claim-4g.zip");
    const long peakBefore = PeakKilobytes();
    for (const char* file : {"gen-claim-4g.zip", "gen-claim-4g.dat", "gen-claim-4g.given.dat"}) {
        SCOPED_TRACE(file);
        const std::string path = CorpusDirectory + "/" + file;
        const std::string bytes = ReadFile(path);
        const std::string key = EndsWith(file, ".given.dat") ? GivenKey : std::string();
        boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(path), key);
        for (int round = 0; round < 3; ++round) {
            boost::shared_ptr<std::istream> stream = volume->Open(AssetPath("huge"), Volume::Binary);
            ASSERT_TRUE(stream);
            const std::string held = ReadAll(*stream);
            EXPECT_EQ(held.size(), bytes.size() - dataOffset);
            // The trailer of the archive that carries its key comes out scrambled.
            EXPECT_EQ(held.substr(0, plain.size() - dataOffset), plain.substr(dataOffset));
        }
    }
    EXPECT_LT(PeakKilobytes() - peakBefore, 1024);
}

TEST(CorpusTest, TextModeOfALargeClaimFoldsTheHeldBytes)
{
    UseEnsureHandler(false);
    const std::string path = CorpusDirectory + "/gen-claim-256m-crlf.zip";
    const std::string bytes = ReadFile(path);
    boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(path), std::string());
    const std::string binary = ReadAll(*volume->Open(AssetPath("mid"), Volume::Binary));
    EXPECT_EQ(binary, bytes.substr(30 + 3));
    const std::string text = ReadAll(*volume->Open(AssetPath("mid"), Volume::Text));
    EXPECT_EQ(text.substr(0, 4), "\n\rPK"); // the bytes behind it are the central directory
    EXPECT_EQ(text, FoldLineEnds(binary));
}

} // namespace
