// The read into the caller's memory and the batch read against Open, on the regression corpus
// of damaged archives: for every listed name and a few absent ones, in both modes, with an
// ensure handler that returns and with one that throws, Size and Read with memory of several
// sizes report the same checks in the same order as Open, throw what it throws, give nothing
// where it gives no stream, and otherwise count the stream's bytes and write its first ones;
// a batch of all those names hands out what Open one after the other would.
#include "CentralWalk.h"
#include "CorpusFiles.h"
#include "MemoryVolume.h"
#include "ReadOutcomes.h"
#include "TestSupport.h"

#include <Assets/ArchiveVolume.h>
#include <QorDebug.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

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
            const CorpusMode reading = ModeOf(file, bytes, GivenKey);
            const std::string& key = reading.key;
            std::vector<std::string> names = CentralNames(bytes, reading.nameKey, reading.trailer);
            if (names.size() > 64)
                names.resize(64);
            for (const char* absent : {"", "missing", "a/b"})
                names.push_back(absent);

            const std::string inner = EndsWith(file, ".dat") ? "inner.dat" : "inner.zip";
            const MemoryVolume holder(inner, bytes);
            const std::function<boost::shared_ptr<Volume>()> opens[] = {
                [&] { return ArchiveVolume::Open(qorfile::filepath(path), key); },
                [&] { return ArchiveVolume::Open(holder, AssetPath(inner), key); },
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
