// The archive volume's read into the caller's memory, and the size of an entry asked first:
// Open's lookup and checks, in Open's order, then the entry's bytes as Open's stream would
// show them, without a stream and without memory of the volume's own (a text-mode entry
// larger than the caller's memory is folded through a bounded scratch buffer).
#include <Assets/ArchiveVolume.h>

#include "ArchiveSource.h"
#include "ArchiveVolumeState.h"
#include "Check.h"
#include "EntryStream.h"
#include "Messages.h"
#include "ZipFormat.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

using Archive::Entry;
using Archive::FileInfo;
using Archive::FileSource;
using Archive::StreamSource;

// Text mode's fold (CR LF becomes LF, left to right, a lone CR stays) over bytes that come in
// pieces: a CR that ends one piece waits for the next. Writes the first p_capacity bytes of
// the folded text and counts all of them.
class ChunkedFold {
public:
    ChunkedFold(char* p_buffer, std::size_t p_capacity) : _buffer(p_buffer), _capacity(p_capacity) {}

    void Add(const char* p_bytes, std::size_t p_count)
    {
        for (std::size_t i = 0; i < p_count; ++i) {
            const char byte = p_bytes[i];
            if (_pendingCR) {
                _pendingCR = false;
                if (byte == '\n') {
                    Emit('\n');
                    continue;
                }
                Emit('\r');
            }
            if (byte == '\r')
                _pendingCR = true;
            else
                Emit(byte);
        }
    }

    std::uint64_t Finish()
    {
        if (_pendingCR)
            Emit('\r');
        _pendingCR = false;
        return _count;
    }

private:
    void Emit(char p_byte)
    {
        if (_count < _capacity)
            _buffer[_count] = p_byte;
        ++_count;
    }

    char* _buffer;
    std::size_t _capacity;
    std::uint64_t _count = 0;
    bool _pendingCR = false;
};

} // namespace

template <class Source>
std::optional<std::uint64_t> ArchiveVolume::State::ReadEntryInto(Source& p_archive, const FileInfo& p_file,
                                                                 OpenMode p_mode, char* p_buffer,
                                                                 std::size_t p_capacity) const
{
    const std::optional<EntryData> data = LocateEntry(p_archive, p_file);
    if (!data)
        return std::nullopt;
    // As Open: only what the archive holds of the claim, and never nothing.
    const std::size_t held = p_archive.Available(data->claimed);
    if (held == 0)
        throw std::out_of_range(Messages::NoBytes);

    if (p_mode != Text || held <= p_capacity) {
        const std::size_t wanted = std::min(held, p_capacity);
        std::size_t count = 0;
        if (wanted > 0) {
            p_archive.read(p_buffer, wanted);
            count = p_archive.gcount() > 0 ? static_cast<std::size_t>(p_archive.gcount()) : 0;
            // Fewer only when the file shrank since it was measured: the stream would hold that.
            if (count == 0)
                throw std::out_of_range(Messages::NoBytes);
            Decode(p_buffer, count, data->offset, 0);
        }
        if (p_mode == Text)
            return FoldLineEnds(p_buffer, count);
        return count < wanted ? count : held;
    }

    // Text larger than the caller's memory: folded piece by piece, counted to its end.
    constexpr std::size_t Piece = 64 * 1024;
    std::unique_ptr<char[]> scratch(new char[std::min(Piece, held)]);
    ChunkedFold fold(p_buffer, p_capacity);
    std::uint64_t done = 0;
    while (done < held) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(Piece, held - done));
        p_archive.read(scratch.get(), wanted);
        const std::size_t count = p_archive.gcount() > 0 ? static_cast<std::size_t>(p_archive.gcount()) : 0;
        if (count == 0 && done == 0)
            throw std::out_of_range(Messages::NoBytes);
        Decode(scratch.get(), count, data->offset, done);
        fold.Add(scratch.get(), count);
        done += count;
        if (count < wanted)
            break;
    }
    return fold.Finish();
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
    const std::size_t around = Zip::Local::Size + asset->nameLength + 256;
    const std::size_t wanted = p_mode == Text ? static_cast<std::size_t>(file.uncompressedSize)
                                              : std::min<std::size_t>(file.uncompressedSize, p_capacity);
    archive.Prefetch(static_cast<std::streamoff>(file.localHeaderOffset), around + wanted);
    return state.ReadEntryInto(archive, file, p_mode, p_buffer, p_capacity);
}

std::optional<std::uint64_t> ArchiveVolume::Size(const AssetPath& p_path, OpenMode p_mode) const
{
    return Read(p_path, p_mode, nullptr, 0);
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
