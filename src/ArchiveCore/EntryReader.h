// The one loop that reads a stored entry's data: what Open puts into its stream, what the read
// into the caller's memory delivers, and what the diagnostics hand to the program's cat,
// extract, check and pack --from.
//
// The data is one run of the key from its first byte (KeyStream.h), however it is chunked. The
// reader reads the bytes the archive holds of the entry from where its source stands, a chunk
// at a time into one buffer, unscrambles each chunk, counts the CRC-32 of the bytes as stored
// when asked, folds CR LF in text mode (LineEnds.h) and hands the chunk to a sink. Its memory
// is the buffer it is given, whatever the entry's size; a buffer that takes the whole entry
// (Open) reads it in one go and folds it in place.
#pragma once

#include "ArchiveCore/Format.h"
#include "ArchiveCore/KeyStream.h"
#include "ArchiveCore/LineEnds.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Zip {

// What a reading of an entry's data came to.
struct EntryRead {
    std::uint64_t stored = 0; // bytes read from the archive
    std::uint64_t shown = 0;  // bytes handed to the sink: fewer than stored after a fold
    std::uint32_t crc32 = 0;  // of the stored bytes read, when counted
    bool ended = false;       // the source gave fewer bytes than it was asked for
};

class EntryReader {
public:
    // The data of p_held bytes that begins at archive offset p_dataOffset, unscrambled with
    // p_key (null for a plain archive), which must outlive the reader.
    EntryReader(const ScrambleKey* p_key, std::int64_t p_dataOffset, std::uint64_t p_held) : _held(p_held)
    {
        if (p_key != nullptr && !p_key->empty())
            _run = p_key->RunAt(p_dataOffset);
    }

    // Folds CR LF to LF before the sink sees the bytes.
    EntryReader& Text(bool p_text)
    {
        _text = p_text;
        return *this;
    }
    // Counts the CRC-32 of the stored bytes (EntryRead::crc32).
    EntryReader& CountCrc(bool p_count)
    {
        _countCrc = p_count;
        return *this;
    }

    // Reads the data through p_read(bytes, count), which gives the source's next bytes and
    // returns how many it gave (fewer when the source ends), into p_buffer, p_chunk bytes at a
    // time, and hands each chunk to p_sink(bytes, count), which returns false to stop. In text
    // mode p_buffer has room for one byte more than p_chunk unless p_chunk takes the whole
    // data: a CR at a chunk's end waits there for the next chunk to tell what follows it.
    template <class ReadNext, class Sink>
    EntryRead Read(ReadNext&& p_read, char* p_buffer, std::size_t p_chunk, Sink&& p_sink)
    {
        EntryRead result;
        std::size_t waiting = 0; // a CR kept at p_buffer[0] from the chunk before
        while (result.stored < _held && !result.ended) {
            const std::size_t wanted =
                p_chunk < _held - result.stored ? p_chunk : static_cast<std::size_t>(_held - result.stored);
            char* const bytes = p_buffer + waiting;
            const std::size_t got = p_read(bytes, wanted);
            result.ended = got < wanted;
            if (_run)
                _run->Xor(bytes, got);
            if (_countCrc)
                result.crc32 = Crc32(result.crc32, bytes, got);
            result.stored += got;

            std::size_t count = waiting + got;
            if (_text) {
                const bool last = result.ended || result.stored == _held;
                waiting = !last && count > 0 && p_buffer[count - 1] == '\r' ? 1 : 0;
                count = FoldLineEnds(p_buffer, count - waiting);
            }
            result.shown += count;
            if (count > 0 && !p_sink(static_cast<const char*>(p_buffer), count))
                return result;
            if (waiting)
                p_buffer[0] = '\r';
        }
        return result;
    }

private:
    std::uint64_t _held;
    std::optional<KeyStream> _run;
    bool _text = false;
    bool _countCrc = false;
};

// The p_read of EntryReader::Read over a source that reads as std::istream does (Source.h).
template <class Source>
auto ReadsFrom(Source& p_source)
{
    return [&p_source](char* p_bytes, std::size_t p_count) -> std::size_t {
        p_source.read(p_bytes, p_count);
        return p_source.gcount() > 0 ? static_cast<std::size_t>(p_source.gcount()) : 0;
    };
}

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
