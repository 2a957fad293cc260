// The archive volume's read into the caller's memory, and the size of an entry asked first:
// Open's lookup and checks, in Open's order, then the entry's bytes as Open's stream would
// show them, without a stream and without memory of the volume's own (a text-mode entry
// larger than the caller's memory is folded through a bounded scratch buffer).
#include <Assets/ArchiveVolume.h>

#include "ArchiveCore/Format.h"
#include "ArchiveCore/EntryReader.h"
#include "ArchiveCore/Records.h"
#include "ArchiveCore/Source.h"
#include "ArchiveVolumeState.h"
#include "Check.h"
#include "Messages.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

using Archive::Entry;
using Archive::FileInfo;
using Archive::FileSource;
using Archive::StreamSource;

} // namespace

template <class Source>
std::optional<std::uint64_t> ArchiveVolume::State::ReadEntryInto(Source& p_archive, const FileInfo& p_file,
                                                                 OpenMode p_mode, char* p_buffer,
                                                                 std::size_t p_capacity) const
{
    const std::optional<EntryData> data = LocateEntry(p_archive, p_file);
    if (!data)
        return std::nullopt;
    // As Open: only what the archive holds of the claim; an entry of which nothing is held is
    // empty.
    const std::size_t held = data->claimed == 0 ? 0 : p_archive.Available(data->claimed);
    if (held == 0)
        return 0;

    const auto keep = [](const char*, std::size_t) { return true; };
    if (p_mode != Text || held <= p_capacity) {
        // Straight into the caller's memory, in one read: of a binary entry only what fits,
        // though its size is the whole.
        const std::size_t wanted = std::min(held, p_capacity);
        if (wanted == 0)
            return held;
        const Zip::EntryRead read = Zip::EntryReader(DataKey(), data->offset, wanted)
                                        .Text(p_mode == Text)
                                        .Read(Zip::ReadsFrom(p_archive), p_buffer, wanted, keep);
        // Fewer only when the file shrank since it was measured: the stream would hold that.
        return read.ended || p_mode == Text ? read.shown : held;
    }

    // Text larger than the caller's memory: folded piece by piece, counted to its end.
    constexpr std::size_t Piece = 64 * 1024;
    const std::size_t piece = std::min(Piece, held);
    std::unique_ptr<char[]> scratch(new char[piece + 1]);
    std::uint64_t total = 0;
    Zip::EntryReader(DataKey(), data->offset, held)
        .Text(true)
        .Read(Zip::ReadsFrom(p_archive), scratch.get(), piece, [&](const char* p_bytes, std::size_t p_count) {
            if (total < p_capacity)
                std::memcpy(p_buffer + total, p_bytes,
                            static_cast<std::size_t>(std::min<std::uint64_t>(p_count, p_capacity - total)));
            total += p_count;
            return true;
        });
    return total;
}

std::optional<std::uint64_t> ArchiveVolume::Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                                 std::size_t p_capacity) const
{
    const State& state = *_state;
    const Entry* asset = state.directory.Find(state.Resolve(p_path.Text()));
    if (!Check(asset != nullptr, Messages::EntryMissing))
        return std::nullopt;
    if (!Check(static_cast<bool>(asset->file), Messages::EntryIsDirectory))
        return std::nullopt;
    const FileInfo& file = *asset->file;

    if (!state.archiveData.empty()) {
        boost::shared_ptr<std::istream> stream = OpenSourceStream();
        StreamSource archive(*stream);
        return state.ReadEntryInto(archive, file, p_mode, p_buffer, p_capacity);
    }
    // The local header and a small entry's data come in one read into the source's window;
    // a larger entry is read straight into the caller's memory.
    FileSource archive(_source, false);
    const std::size_t around = Zip::LocalHeader::Size + asset->nameLength + 256;
    const std::size_t wanted = p_mode == Text ? static_cast<std::size_t>(file.uncompressedSize)
                                              : std::min<std::size_t>(file.uncompressedSize, p_capacity);
    archive.Prefetch(static_cast<std::streamoff>(file.localHeaderOffset), around + wanted);
    if (!state.StillTheArchive(archive, file, _source))
        return std::nullopt;
    return state.ReadEntryInto(archive, file, p_mode, p_buffer, p_capacity);
}

std::optional<std::uint64_t> ArchiveVolume::Size(const AssetPath& p_path, OpenMode p_mode) const
{
    return Read(p_path, p_mode, nullptr, 0);
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
