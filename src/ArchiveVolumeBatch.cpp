// The archive volume's batch read: the streams Open would hand out for many paths at once, the
// archive file opened once for them all and read in the order its entries lie, neighbours
// joined into one read. Each path's checks are kept (Check.h's deferral) and reported when its
// turn comes, in the order of the paths (DeferredOpen.h).
#include <Assets/ArchiveVolume.h>

#include "ArchiveCore/Records.h"
#include "ArchiveCore/Source.h"
#include "ArchiveVolumeState.h"
#include "Check.h"
#include "DeferredOpen.h"
#include "Messages.h"

#include <algorithm>
#include <type_traits>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

using Archive::Entry;
using Archive::FileInfo;
using Archive::FileSource;
using Archive::StreamSource;

// Two entries are read in one go when fewer bytes than this lie between them: copying a page
// of the cache costs about what another system call costs, while copying 16 KiB gaps made a
// random level read two to three times the bytes it needed, and copying was then most of
// its time. A run stops growing at MaxRun bytes.
constexpr std::uint64_t JoinGap = 4 * 1024;
constexpr std::uint64_t MaxRun = 4 * 1024 * 1024;
// Room for the local header's copy of the name and a little extra field, as Open reserves.
constexpr std::uint64_t Around = Zip::LocalHeader::Size + 256;

struct Wanted {
    std::size_t item;
    const Entry* asset;
    std::uint64_t begin; // the local header
    std::uint64_t end;   // about where the data ends
};

} // namespace

void ArchiveVolume::OpenDeferred(const std::vector<const AssetPath*>& p_paths, OpenMode p_mode,
                                 DeferredOpen* p_results) const
{
    const State& state = *_state;
    std::vector<Wanted> wanted;
    wanted.reserve(p_paths.size());
    for (std::size_t item = 0; item < p_paths.size(); ++item) {
        DeferredOpen& result = p_results[item];
        result.pending = false;
        const DeferReports defer(result.reports);
        const Entry* asset = state.directory.Find(state.Resolve(p_paths[item]->Text()));
        if (!Check(asset != nullptr, Messages::EntryMissing))
            continue;
        if (!Check(static_cast<bool>(asset->file), Messages::EntryIsDirectory))
            continue;
        const std::uint64_t begin = asset->file->localHeaderOffset;
        wanted.push_back(
            Wanted{item, asset, begin, begin + Around + asset->nameLength + asset->file->uncompressedSize});
    }

    auto read = [&](DeferredOpen& p_result, auto& p_source, const FileInfo& p_file) {
        const DeferReports defer(p_result.reports);
        try {
            // A file read afresh is first asked whether it is still the archive listed.
            if constexpr (std::is_same_v<std::decay_t<decltype(p_source)>, FileSource>) {
                if (!state.StillTheArchive(p_source, p_file, _source))
                    return;
            }
            p_result.stream = state.ReadEntry(p_source, p_file, p_mode);
        } catch (...) {
            p_result.error = std::current_exception();
        }
    };

    if (!state.archiveData.empty()) {
        for (const Wanted& entry : wanted) {
            boost::shared_ptr<std::istream> stream = OpenSourceStream();
            StreamSource archive(*stream);
            read(p_results[entry.item], archive, *entry.asset->file);
        }
        return;
    }

    // In the order the entries lie; each run of neighbours comes in one read.
    std::stable_sort(wanted.begin(), wanted.end(),
                     [](const Wanted& p_a, const Wanted& p_b) { return p_a.begin < p_b.begin; });
    FileSource archive(_source, false);
    std::size_t runEnd = 0; // the first entry behind the current run
    for (std::size_t index = 0; index < wanted.size(); ++index) {
        // Every entry starts from a source as fresh as Open's own, and prefetches as Open
        // does (nothing to read when the run holds it).
        archive.Restart();
        if (index >= runEnd) {
            const std::uint64_t begin = wanted[index].begin;
            std::uint64_t end = wanted[index].end;
            runEnd = index + 1;
            while (runEnd < wanted.size() && wanted[runEnd].begin <= end + JoinGap &&
                   std::max(end, wanted[runEnd].end) - begin <= MaxRun) {
                end = std::max(end, wanted[runEnd].end);
                ++runEnd;
            }
            archive.PrefetchRun(static_cast<std::streamoff>(begin),
                                static_cast<std::size_t>(std::min(end - begin, MaxRun)));
        }
        const Wanted& entry = wanted[index];
        archive.Prefetch(static_cast<std::streamoff>(entry.begin), static_cast<std::size_t>(entry.end - entry.begin));
        read(p_results[entry.item], archive, *entry.asset->file);
    }
}

std::vector<boost::shared_ptr<std::istream>> ArchiveVolume::OpenBatch(const std::vector<AssetPath>& p_paths,
                                                                      OpenMode p_mode) const
{
    std::vector<const AssetPath*> paths;
    paths.reserve(p_paths.size());
    for (const AssetPath& path : p_paths)
        paths.push_back(&path);
    std::vector<DeferredOpen> results(p_paths.size());
    OpenDeferred(paths, p_mode, results.data());
    std::vector<boost::shared_ptr<std::istream>> streams;
    streams.reserve(p_paths.size());
    for (DeferredOpen& result : results)
        streams.push_back(result.Deliver());
    return streams;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
