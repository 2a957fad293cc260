// What pack --from reads: a ZIP archive made by any tool, its entries listed by name and their
// bytes decompressed. Two readers stand behind it: libzip where the build has it (every method
// and layout libzip reads), and otherwise the library's own diagnostics with zlib's inflate
// (stored and deflated entries, data descriptors, comments; not ZIP64 or other methods).
#pragma once

#include "EntryStamp.h"

#include "ArchiveCore/Names.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace draxel_tool {

class SourceArchive {
public:
    struct Entry {
        std::string name; // as UTF-8, without "." components; a directory's without its trailing '/'
        bool directory = false;
        bool link = false;      // a symbolic link: its data is the path it points to
        std::uint64_t size = 0; // the central directory's size and CRC-32 of the data
        std::uint32_t crc32 = 0;
        std::size_t index = 0; // what Read takes
        Stamp stamp;           // its time and permission bits, as far as the archive has them
    };

    virtual ~SourceArchive() = default;
    // Every entry with a name, in stored order.
    virtual std::vector<Entry> Entries() const = 0;
    // Hands the entry's bytes to p_sink in chunks, decompressed and checked against its size and
    // CRC-32; a Failure naming the entry when they cannot be had (p_sink may have had a part).
    virtual void Read(const Entry& p_entry, const std::function<void(const char*, std::size_t)>& p_sink) const = 0;

protected:
    // Names p_entry from a stored name (UTF-8): its "." components dropped ("./Data/a.txt" is
    // "Data/a.txt"), a trailing '/' marking a directory. False when no name is left.
    static bool Name(const std::string& p_stored, Entry& p_entry)
    {
        p_entry.name = Qor::Draxel::Assets::Zip::WithoutDotComponents(p_stored);
        p_entry.directory = !p_entry.name.empty() && p_entry.name.back() == '/';
        if (p_entry.directory)
            p_entry.name.pop_back();
        return !p_entry.name.empty();
    }
};

// The archive at p_path, read as a plain ZIP archive; a Failure when it cannot be read.
std::unique_ptr<SourceArchive> OpenSourceArchive(const std::string& p_path);

// What this build's reader converts, for the help text.
const char* SourceArchiveReads();

} // namespace draxel_tool
