// pack --from without libzip: the archive read by the library's diagnostics (as a plain ZIP,
// so that a comment, data descriptors and local headers that disagree are all seen), stored entries
// copied and deflated ones inflated by zlib, each checked against its size and CRC-32.
// ZIP64 archives, encrypted entries and methods other than stored and deflate are errors.
#include "SourceArchive.h"

#include "ArchiveReading.h"
#include "ToolSupport.h"

#include "ArchiveCore/Format.h"
#include "ArchiveCore/Names.h"

#include <zlib.h>

#include <algorithm>

namespace draxel_tool {

namespace {

using namespace Qor::Draxel::Assets;

// Code page 437, the ZIP format's first encoding of names, from 0x80 on.
const char16_t Cp437High[128] = {
    0x00c7, 0x00fc, 0x00e9, 0x00e2, 0x00e4, 0x00e0, 0x00e5, 0x00e7, 0x00ea, 0x00eb, 0x00e8, 0x00ef, 0x00ee,
    0x00ec, 0x00c4, 0x00c5, 0x00c9, 0x00e6, 0x00c6, 0x00f4, 0x00f6, 0x00f2, 0x00fb, 0x00f9, 0x00ff, 0x00d6,
    0x00dc, 0x00a2, 0x00a3, 0x00a5, 0x20a7, 0x0192, 0x00e1, 0x00ed, 0x00f3, 0x00fa, 0x00f1, 0x00d1, 0x00aa,
    0x00ba, 0x00bf, 0x2310, 0x00ac, 0x00bd, 0x00bc, 0x00a1, 0x00ab, 0x00bb, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255d, 0x255c, 0x255b, 0x2510, 0x2514,
    0x2534, 0x252c, 0x251c, 0x2500, 0x253c, 0x255e, 0x255f, 0x255a, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256c, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256b, 0x256a, 0x2518, 0x250c,
    0x2588, 0x2584, 0x258c, 0x2590, 0x2580, 0x03b1, 0x00df, 0x0393, 0x03c0, 0x03a3, 0x03c3, 0x00b5, 0x03c4,
    0x03a6, 0x0398, 0x03a9, 0x03b4, 0x221e, 0x03c6, 0x03b5, 0x2229, 0x2261, 0x00b1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00f7, 0x2248, 0x00b0, 0x2219, 0x00b7, 0x221a, 0x207f, 0x00b2, 0x25a0, 0x00a0};

std::string FromCp437(const std::string& p_text)
{
    std::string text;
    for (const char byte : p_text) {
        const unsigned char code = static_cast<unsigned char>(byte);
        const std::uint32_t point = code < 0x80 ? code : Cp437High[code - 0x80];
        if (point < 0x80) {
            text += static_cast<char>(point);
        } else if (point < 0x800) {
            text += static_cast<char>(0xc0 | (point >> 6));
            text += static_cast<char>(0x80 | (point & 0x3f));
        } else {
            text += static_cast<char>(0xe0 | (point >> 12));
            text += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
            text += static_cast<char>(0x80 | (point & 0x3f));
        }
    }
    return text;
}

// A name as UTF-8: flagged UTF-8 names must be UTF-8; others are taken as UTF-8 when they
// are, and as code page 437 otherwise.
std::string NameAsUtf8(const ArchiveDiagnostics::Entry& p_entry, const std::string& p_archive)
{
    if (Zip::IsUtf8(p_entry.name))
        return p_entry.name;
    if (p_entry.flags & Zip::FlagUtf8)
        throw Failure(p_archive + ": " + FromCp437(p_entry.name), "the name is marked UTF-8 but is not");
    return FromCp437(p_entry.name);
}

// Why the archive as a whole cannot be converted; empty when it can.
std::string Unconvertible(const ArchiveDiagnostics& p_diagnostics)
{
    for (const ArchiveDiagnostics::Finding& finding : p_diagnostics.Findings()) {
        switch (finding.kind) {
        case ArchiveDiagnostics::Kind::Unreadable:
        case ArchiveDiagnostics::Kind::NoEndRecord:
            return finding.detail;
        case ArchiveDiagnostics::Kind::Zip64:
            return "ZIP64 archives are not read by this build (" + finding.detail + ")";
        case ArchiveDiagnostics::Kind::BadCentral:
            return "damaged central directory: " + finding.detail;
        default:
            break;
        }
    }
    return std::string();
}

class InflatingArchive : public SourceArchive {
public:
    explicit InflatingArchive(const std::string& p_path) : _path(p_path)
    {
        ArchiveOptions options;
        options.file = p_path;
        options.plain = true;
        _diagnostics = DiagnoseArchive(options);
        const std::string reason = Unconvertible(*_diagnostics);
        if (!reason.empty())
            throw Failure(p_path, "cannot read the archive: " + reason);
    }

    std::vector<Entry> Entries() const override
    {
        std::vector<Entry> entries;
        const std::vector<ArchiveDiagnostics::Entry>& diagnosed = _diagnostics->Entries();
        for (std::size_t index = 0; index < diagnosed.size(); ++index) {
            Entry entry;
            entry.link = diagnosed[index].isLink;
            entry.size = diagnosed[index].uncompressedSize;
            entry.crc32 = diagnosed[index].crc32;
            entry.index = index;
            entry.stamp = EntryStamp(diagnosed[index]);
            if (Name(NameAsUtf8(diagnosed[index], _path), entry))
                entries.push_back(std::move(entry));
        }
        return entries;
    }

    void Read(const Entry& p_entry, const std::function<void(const char*, std::size_t)>& p_sink) const override
    {
        const std::string subject = _path + ": " + p_entry.name;
        ArchiveDiagnostics::Entry entry = _diagnostics->Entries().at(p_entry.index);
        if (entry.flags & Zip::FlagEncrypted)
            throw Failure(subject, "cannot read the entry: it is encrypted");
        if (entry.method != Zip::MethodStored && entry.method != Zip::MethodDeflate)
            throw Failure(subject, "cannot read the entry: compression method " + std::to_string(entry.method) +
                                       " is not read by this build (stored and deflate are)");
        if (!entry.localValid)
            throw Failure(subject, "cannot read the entry: damaged local header");
        // The stored data is the central directory's compressed size from the data offset on,
        // whatever the local header says (it says 0 when a data descriptor follows).
        const std::uint64_t length = _diagnostics->Length();
        entry.heldSize = entry.dataOffset <= length ? std::min(entry.compressedSize, length - entry.dataOffset) : 0;
        if (entry.heldSize < entry.compressedSize)
            throw Failure(subject, "cannot read the entry: its data runs past the end of the archive");
        if (entry.method == Zip::MethodStored && entry.compressedSize != entry.uncompressedSize)
            throw Failure(subject, "the entry's data is " + std::to_string(entry.compressedSize) +
                                       " bytes, its size says " + std::to_string(entry.uncompressedSize));

        // The data goes on in chunks as it comes: the CRC-32 is known only at its end.
        std::uint64_t produced = 0;
        std::uint32_t crc = 0;
        auto pass = [&](const char* p_bytes, std::size_t p_count) {
            produced += p_count;
            crc = Zip::Crc32(crc, p_bytes, p_count);
            p_sink(p_bytes, p_count);
        };
        std::string problem;
        bool read = false;
        if (entry.method == Zip::MethodStored) {
            read = _diagnostics->ReadData(
                entry,
                [&](const char* p_bytes, std::size_t p_count) {
                    pass(p_bytes, p_count);
                    return true;
                },
                ChunkSize);
        } else {
            read = Inflate(entry, pass, problem);
        }
        if (!read)
            throw Failure(subject, "cannot read the entry: the archive cannot be read");
        if (!problem.empty())
            throw Failure(subject, "cannot read the entry: " + problem);
        if (produced != entry.uncompressedSize)
            throw Failure(subject, "the entry's data is " + std::to_string(produced) + " bytes, its size says " +
                                       std::to_string(entry.uncompressedSize));
        if (crc != entry.crc32)
            throw Failure(subject, "the entry's data does not match its CRC-32");
    }

private:
    // Read and inflated in chunks of this size: the memory an entry takes, whatever its size.
    static constexpr std::size_t ChunkSize = std::size_t(1) << 16;

    // Inflates the raw deflate stream into p_pass in chunks, never past the entry's size (the
    // first byte past it is a problem: the data is longer than it says).
    bool Inflate(const ArchiveDiagnostics::Entry& p_entry, const std::function<void(const char*, std::size_t)>& p_pass,
                 std::string& p_problem) const
    {
        // Ended however the reading ends: the sink may throw.
        struct Stream : z_stream {
            bool started = false;
            ~Stream()
            {
                if (started)
                    inflateEnd(this);
            }
        } stream{};
        stream.started = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
        if (!stream.started) {
            p_problem = "zlib cannot start inflating";
            return true;
        }
        std::vector<char> out(ChunkSize);
        std::uint64_t made = 0;
        bool ended = false;
        const bool read = _diagnostics->ReadData(
            p_entry,
            [&](const char* p_input, std::size_t p_count) {
                stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p_input));
                stream.avail_in = static_cast<uInt>(p_count);
                while (!ended && (stream.avail_in > 0 || stream.avail_out == 0)) {
                    stream.next_out = reinterpret_cast<Bytef*>(out.data());
                    stream.avail_out = static_cast<uInt>(out.size());
                    const int status = inflate(&stream, Z_NO_FLUSH);
                    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                        p_problem =
                            std::string("damaged deflate data (") + (stream.msg ? stream.msg : "zlib error") + ")";
                        return false;
                    }
                    const std::size_t count = out.size() - stream.avail_out;
                    if (count > p_entry.uncompressedSize - made) {
                        p_problem = "the inflated data is longer than the entry's size";
                        return false;
                    }
                    made += count;
                    p_pass(out.data(), count);
                    ended = status == Z_STREAM_END;
                    if (status == Z_BUF_ERROR)
                        break;
                }
                return !ended;
            },
            ChunkSize);
        if (read && p_problem.empty() && !ended)
            p_problem = "the deflate data ends early";
        return read;
    }

    std::string _path;
    std::unique_ptr<ArchiveDiagnostics> _diagnostics;
};

} // namespace

std::unique_ptr<SourceArchive> OpenSourceArchive(const std::string& p_path)
{
    return std::make_unique<InflatingArchive>(p_path);
}

const char* SourceArchiveReads()
{
    return "stored and deflated entries, data descriptors, comments; not ZIP64";
}

} // namespace draxel_tool
