// The read into the caller's memory and the batch read against Open, on the regression corpus
// of damaged archives: for every listed name and a few absent ones, in both modes, with an
// ensure handler that returns and with one that throws, Size and Read with memory of several
// sizes report the same checks in the same order as Open, throw what it throws, give nothing
// where it gives no stream, and otherwise count the stream's bytes and write its first ones;
// a batch of all those names hands out what Open one after the other would.
#include "CentralWalk.h"
#include "MemoryVolume.h"
#include "ReadOutcomes.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <QorDebug.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <functional>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

const std::string CorpusDirectory = ASSETS_CORPUS_DIR;
const std::string GivenKey = "fuzz-key";

void Compare(const Volume& p_volume, const std::string& p_name)
{
    const AssetPath path(p_name);
    for (Volume::OpenMode mode : {Volume::Binary, Volume::Text}) {
        SCOPED_TRACE(p_name + (mode == Volume::Text ? " (Text)" : " (Binary)"));
        for (std::size_t capacity : {0u, 1u, 3u, 100u, 1u << 20}) {
            const ReadOutcome open = ThroughOpen(p_volume, path, mode, capacity);
            const ReadOutcome read = ThroughRead(p_volume, path, mode, capacity);
            ASSERT_EQ(read.reports, open.reports) << capacity;
            ASSERT_EQ(read.result, open.result) << capacity;
        }
        const ReadOutcome open = ThroughOpen(p_volume, path, mode, 0);
        const ReadOutcome size = ThroughSize(p_volume, path, mode);
        ASSERT_EQ(size.reports, open.reports);
        ASSERT_EQ(size.result, open.result);
    }
}

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(CorpusDirectory.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && (name.substr(name.size() - 4) == ".zip" || name.substr(name.size() - 4) == ".dat"))
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool EndsWith(const std::string& p_text, const std::string& p_end)
{
    return p_text.size() >= p_end.size() && p_text.compare(p_text.size() - p_end.size(), p_end.size(), p_end) == 0;
}

TEST(ReadDifferentialTest, ReadSizeAndBatchAgreeWithOpenOnEveryDamagedArchive)
{
    const std::vector<std::string> files = CorpusFiles();
    ASSERT_GT(files.size(), 100u);
    for (bool returning : {true, false}) {
        const ReportRecording recording(returning);
        for (const std::string& file : files) {
            SCOPED_TRACE(file + (returning ? " (returning handler)" : " (throwing handler)"));
            const std::string path = CorpusDirectory + "/" + file;
            const std::string bytes = ReadFile(path);
            if (bytes.empty())
                continue;
            const bool given = EndsWith(file, ".given.dat");
            const bool carried = !given && EndsWith(file, ".dat");
            const std::string key = given ? GivenKey : std::string();
            const std::string nameKey = given                           ? GivenKey
                                        : carried && bytes.size() >= 32 ? bytes.substr(bytes.size() - 32)
                                                                        : std::string();
            std::vector<std::string> names = CentralNames(bytes, nameKey, carried ? 32 : 0);
            if (names.size() > 64)
                names.resize(64);
            for (const char* absent : {"", "missing", "a/b"})
                names.push_back(absent);

            const MemoryVolume holder(carried || given ? "inner.dat" : "inner.zip", bytes);
            const std::function<boost::shared_ptr<Volume>()> opens[] = {
                [&] { return ArchiveVolume::Open(qorfile::filepath(path), key); },
                [&] {
                    return ArchiveVolume::Open(holder, AssetPath(carried || given ? "inner.dat" : "inner.zip"), key);
                },
            };
            for (const auto& open : opens) {
                boost::shared_ptr<Volume> volume;
                try {
                    volume = open();
                } catch (const std::exception&) {
                    continue; // the walk's own reports are the corpus test's business
                }
                for (const std::string& name : names)
                    Compare(*volume, name);
                // The batch read of every name, then of every name again backwards.
                std::vector<AssetPath> batch(names.begin(), names.end());
                batch.insert(batch.end(), names.rbegin(), names.rend());
                const auto& archive = static_cast<const ArchiveVolume&>(*volume);
                for (Volume::OpenMode mode : {Volume::Binary, Volume::Text})
                    ASSERT_EQ(InOneBatch([&] { return archive.OpenBatch(batch, mode); }),
                              OneByOne(archive, batch, mode));
            }
        }
    }
}

} // namespace
