// What pack --from reads: a ZIP archive made by any tool, its entries listed by name and their
// bytes decompressed. Two readers stand behind it: libzip where the build has it (every method
// and layout libzip reads), and otherwise the library's own inspection with zlib's inflate
// (stored and deflated entries, data descriptors, comments; not ZIP64 or other methods).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace draxel_tool {

class SourceArchive {
public:
    struct Entry {
        std::string name; // as UTF-8; a directory's without its trailing '/'
        bool directory = false;
        std::size_t index = 0; // what Read takes
    };

    virtual ~SourceArchive() = default;
    // Every entry with a name, in stored order.
    virtual std::vector<Entry> Entries() const = 0;
    // The entry's bytes, decompressed and checked against its size (and its CRC-32 where the
    // reader checks it); a Failure naming the entry when they cannot be had.
    virtual std::string Read(std::size_t p_index, const std::string& p_name) const = 0;
};

// The archive at p_path, read as a plain ZIP archive; a Failure when it cannot be read.
std::unique_ptr<SourceArchive> OpenSourceArchive(const std::string& p_path);

// What this build's reader converts, for the help text.
const char* SourceArchiveReads();

} // namespace draxel_tool
