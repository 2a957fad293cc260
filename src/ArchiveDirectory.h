// The archive volume's directory: one element per distinct normalised name of the central
// directory, in AssetPath order, with the folders the names imply, and one hash index over
// both for exact lookups. Built once by the walk, read-only afterwards.
#pragma once

#include "TextIndex.h"

#include <Assets/AssetPath.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Archive {

struct FileInfo {
    std::uint64_t localHeaderOffset;
    std::uint64_t compressedSize;
    std::uint64_t uncompressedSize;
    bool compressed;
    bool encrypted;
    // Kept for listing and checking only.
    std::uint16_t method;
    std::uint32_t crc32;
};

// One element of the directory. Its path (the normalised name) and its name as stored lie in
// the directory's text; the name is kept apart only when it differs from the path.
struct Entry {
    std::uint32_t pathOffset;
    std::uint32_t nameOffset;
    std::uint16_t pathLength;
    std::uint16_t nameLength;
    bool isDirectory;
    std::optional<FileInfo> file;
};

// The directory: one element per distinct path, ordered by the paths' bytes (AssetPath's order),
// and the folders the paths imply, each held as a prefix of a path's text. One hash index holds
// the paths and those folders that are no paths, for exact lookups. While the walk runs,
// elements are appended in archive order; Finish sorts them and adds the folders.
class Directory {
public:
    bool empty() const { return _entries.empty(); }
    std::size_t size() const { return _entries.size(); }
    const Entry& operator[](std::size_t p_index) const { return _entries[p_index]; }

    std::string_view Path(const Entry& p_entry) const
    {
        return std::string_view(_text.data() + p_entry.pathOffset, p_entry.pathLength);
    }
    std::string Name(const Entry& p_entry) const
    {
        return std::string(_text.data() + p_entry.nameOffset, p_entry.nameLength);
    }

    void clear() { *this = Directory(); }

    void Reserve(std::size_t p_entries, std::size_t p_text)
    {
        _entries.reserve(p_entries);
        _text.reserve(p_text);
        _index.Reserve(p_entries, TextOf());
    }

    // The number of the element whose path is the normalised p_name, inserted without a file when
    // there is none. Numbers hold until Finish.
    std::size_t Insert(const char* p_name, std::size_t p_length);
    Entry& At(std::size_t p_element) { return _entries[p_element]; }

    // Orders the elements by path and records the folders their paths imply.
    void Finish();

    const Entry* Find(std::string_view p_path) const
    {
        const std::int64_t found = _index.Find(p_path, TextOf());
        return found < 0 || static_cast<std::size_t>(found) >= _entries.size()
                   ? nullptr
                   : &_entries[static_cast<std::size_t>(found)];
    }

    // The first element whose path is not less than p_first (size() when there is none).
    std::size_t LowerBound(std::string_view p_first) const
    {
        const auto found =
            std::lower_bound(_entries.begin(), _entries.end(), p_first,
                             [this](const Entry& p_entry, std::string_view p_path) { return Path(p_entry) < p_path; });
        return static_cast<std::size_t>(found - _entries.begin());
    }

    // Whether p_path is an element's path or a folder: one lookup, as both share the index.
    bool Contains(std::string_view p_path) const { return _index.Find(p_path, TextOf()) >= 0; }

    // Contains, and the element when p_path is an element's path (null for a folder that is none).
    bool Lookup(std::string_view p_path, const Entry*& p_element) const
    {
        const std::int64_t found = _index.Find(p_path, TextOf());
        p_element = found >= 0 && static_cast<std::size_t>(found) < _entries.size()
                        ? &_entries[static_cast<std::size_t>(found)]
                        : nullptr;
        return found >= 0;
    }

private:
    struct Folder {
        std::uint32_t offset;
        std::uint16_t length;
    };

    // The text of an item of the index: an element's path, or past the elements a folder.
    struct IndexText {
        const Directory* directory;
        std::string_view operator()(std::uint32_t p_item) const
        {
            if (p_item < directory->_entries.size())
                return directory->Path(directory->_entries[p_item]);
            const Folder& folder = directory->_folders[p_item - directory->_entries.size()];
            return std::string_view(directory->_text.data() + folder.offset, folder.length);
        }
    };
    IndexText TextOf() const { return IndexText{this}; }

    void SortByPath();
    void AddFolders();

    std::vector<Entry> _entries;
    std::string _text;
    TextIndex _index;
    std::vector<Folder> _folders;
    bool _sorted = true;
};

} // namespace Archive
} // namespace Assets
} // namespace Draxel
} // namespace Qor
