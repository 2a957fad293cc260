// The archive directory's insertion, ordering and folder derivation.
#include "ArchiveDirectory.h"
#include "PathText.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Archive {

std::size_t Directory::Insert(const char* p_name, std::size_t p_length)
{
    const std::size_t nameOffset = _text.size();
    _text.append(p_name, p_length);
    // The path is the name normalised as AssetPath normalises it, in the directory's text.
    const std::size_t pathLength = PathText::Normalize(&_text[nameOffset], p_length);
    const std::string_view path(&_text[nameOffset], pathLength);

    const std::int64_t found = _index.Find(path, TextOf());
    if (found >= 0) {
        _text.resize(nameOffset);
        return static_cast<std::size_t>(found);
    }

    _sorted = _sorted && (_entries.empty() || Path(_entries.back()) < path);
    _index.Add(path, static_cast<std::uint32_t>(_entries.size()), TextOf());
    Entry entry{static_cast<std::uint32_t>(nameOffset),
                static_cast<std::uint32_t>(nameOffset),
                static_cast<std::uint16_t>(pathLength),
                static_cast<std::uint16_t>(p_length),
                false,
                std::nullopt};
    if (pathLength != p_length || std::memchr(p_name, '\\', p_length)) {
        entry.nameOffset = static_cast<std::uint32_t>(_text.size());
        _text.append(p_name, p_length);
    }
    _entries.push_back(entry);
    return _entries.size() - 1;
}

void Directory::Finish()
{
    if (!_sorted)
        SortByPath();
    AddFolders();
    _text.shrink_to_fit();
    _entries.shrink_to_fit();
}

// Paths are compared by eight bytes behind the prefix they all share, taken as one big-endian
// number, and only on a tie by the rest of their bytes: most comparisons touch no text.
void Directory::SortByPath()
{
    std::size_t shared = Path(_entries[0]).size();
    for (const Entry& entry : _entries) {
        const std::string_view path = Path(entry);
        const std::string_view first = Path(_entries[0]);
        std::size_t same = 0;
        while (same < shared && same < path.size() && path[same] == first[same])
            ++same;
        shared = same;
    }
    struct Sortable {
        std::uint64_t head;
        std::uint32_t item;
    };
    std::vector<Sortable> sortable(_entries.size());
    for (std::uint32_t i = 0; i < sortable.size(); ++i) {
        const std::string_view path = Path(_entries[i]);
        std::uint64_t head = 0;
        for (std::size_t at = shared; at < shared + 8; ++at)
            head = (head << 8) | (at < path.size() ? static_cast<unsigned char>(path[at]) : 0u);
        sortable[i] = Sortable{head, i};
    }
    std::sort(sortable.begin(), sortable.end(), [this, shared](const Sortable& p_a, const Sortable& p_b) {
        if (p_a.head != p_b.head)
            return p_a.head < p_b.head;
        return Path(_entries[p_a.item]).substr(shared) < Path(_entries[p_b.item]).substr(shared);
    });
    std::vector<Entry> sorted;
    sorted.reserve(_entries.size());
    std::vector<std::uint32_t> number(_entries.size());
    for (std::uint32_t i = 0; i < sortable.size(); ++i) {
        number[sortable[i].item] = i;
        sorted.push_back(_entries[sortable[i].item]);
    }
    _entries.swap(sorted);
    _index.Renumber(number);
    _sorted = true;
}

// Each prefix of a path up to one of its slashes, normalised (trailing slashes cut, the first
// byte kept), is a folder. A slash that lies inside the part shared with the previous path gave
// its folder already. A slash right behind another one, past the second byte, gives the folder
// of the slash before it: only the others are looked at, and their prefixes need no cutting.
//
// The work is linear in the paths' bytes however many slashes they hold. The prefixes of a
// path are hashed in one pass (PrefixHashes); a folder that is known already is a prefix of
// every path between its first and this one, the previous path among them, so beyond the shared
// part at most the folder at its end is found (its text compared) and the others are new.
// When the index grows, the folders' hashes are taken as they were made: their texts overlap,
// and hashing them again would cost their lengths summed.
void Directory::AddFolders()
{
    std::vector<std::uint64_t> folderHashes;
    const auto hashOf = [&](std::uint32_t p_item) {
        return p_item < _entries.size() ? HashText(Path(_entries[p_item])) : folderHashes[p_item - _entries.size()];
    };
    std::string_view previous;
    for (const Entry& entry : _entries) {
        const std::string_view path = Path(entry);
        std::size_t shared = 0;
        while (shared < path.size() && shared < previous.size() && path[shared] == previous[shared])
            ++shared;
        PrefixHashes hashes(path);
        for (std::size_t slash = path.find(AssetPath::DirectorySeparator, shared); slash != std::string_view::npos;
             slash = path.find(AssetPath::DirectorySeparator, slash + 1)) {
            if (slash >= 2 && path[slash - 1] == AssetPath::DirectorySeparator)
                continue;
            const std::string_view folder = path.substr(0, slash);
            const std::uint64_t hash = hashes.Of(slash);
            // A folder that is a path, too, is found as the path.
            if (_index.Find(folder, hash, TextOf()) < 0) {
                _folders.push_back(Folder{entry.pathOffset, static_cast<std::uint16_t>(slash)});
                folderHashes.push_back(hash);
                _index.AddHashed(hash, static_cast<std::uint32_t>(_entries.size() + _folders.size() - 1), hashOf);
            }
        }
        previous = path;
    }
}

} // namespace Archive
} // namespace Assets
} // namespace Draxel
} // namespace Qor
