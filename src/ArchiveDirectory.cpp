// The archive directory's insertion, ordering and folder derivation.
#include "ArchiveDirectory.h"

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
    // AssetPath's normalisation: backslashes become slashes, trailing slashes go (a text
    // of slashes alone keeps one).
    char* name = &_text[nameOffset];
    std::replace(name, name + p_length, '\\', static_cast<char>(AssetPath::DirectorySeparator));
    std::size_t keyLength = p_length;
    while (keyLength > 1 && name[keyLength - 1] == AssetPath::DirectorySeparator)
        --keyLength;
    const std::string_view key(name, keyLength);

    const std::int64_t found = _index.Find(key, KeyOf());
    if (found >= 0) {
        _text.resize(nameOffset);
        return static_cast<std::size_t>(found);
    }

    _sorted = _sorted && (_entries.empty() || Key(_entries.back()) < key);
    _index.Add(key, static_cast<std::uint32_t>(_entries.size()), KeyOf());
    Entry entry{static_cast<std::uint32_t>(nameOffset), static_cast<std::uint32_t>(nameOffset),
                static_cast<std::uint16_t>(keyLength), static_cast<std::uint16_t>(p_length), false, std::nullopt};
    if (keyLength != p_length || std::memchr(p_name, '\\', p_length)) {
        entry.nameOffset = static_cast<std::uint32_t>(_text.size());
        _text.append(p_name, p_length);
    }
    _entries.push_back(entry);
    return _entries.size() - 1;
}

void Directory::Finish()
{
    if (!_sorted)
        SortByKey();
    AddFolders();
    _text.shrink_to_fit();
    _entries.shrink_to_fit();
}

// Keys are compared by eight bytes behind the prefix they all share, taken as one big-endian
// number, and only on a tie by the rest of their bytes: most comparisons touch no text.
void Directory::SortByKey()
{
    std::size_t shared = Key(_entries[0]).size();
    for (const Entry& entry : _entries) {
        const std::string_view key = Key(entry);
        const std::string_view first = Key(_entries[0]);
        std::size_t same = 0;
        while (same < shared && same < key.size() && key[same] == first[same])
            ++same;
        shared = same;
    }
    struct Sortable {
        std::uint64_t head;
        std::uint32_t item;
    };
    std::vector<Sortable> sortable(_entries.size());
    for (std::uint32_t i = 0; i < sortable.size(); ++i) {
        const std::string_view key = Key(_entries[i]);
        std::uint64_t head = 0;
        for (std::size_t at = shared; at < shared + 8; ++at)
            head = (head << 8) | (at < key.size() ? static_cast<unsigned char>(key[at]) : 0u);
        sortable[i] = Sortable{head, i};
    }
    std::sort(sortable.begin(), sortable.end(), [this, shared](const Sortable& p_a, const Sortable& p_b) {
        if (p_a.head != p_b.head)
            return p_a.head < p_b.head;
        return Key(_entries[p_a.item]).substr(shared) < Key(_entries[p_b.item]).substr(shared);
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

// Each prefix of a key up to one of its slashes, normalised (trailing slashes cut, the first
// byte kept), is a folder. A slash that lies inside the part shared with the previous key gave
// its folder already. A slash right behind another one, past the second byte, gives the folder
// of the slash before it: only the others are looked at, and their prefixes need no cutting.
//
// The work is linear in the keys' bytes however many slashes they hold. The prefixes of a
// key are hashed in one pass (PrefixHashes); a folder that is known already is a prefix of
// every key between its first and this one, the previous key among them, so beyond the shared
// part at most the folder at its end is found (its text compared) and the others are new.
// When the index grows, the folders' hashes are taken as they were made: their texts overlap,
// and hashing them again would cost their lengths summed.
void Directory::AddFolders()
{
    std::vector<std::uint64_t> folderHashes;
    const auto hashOf = [&](std::uint32_t p_item) {
        return p_item < _entries.size() ? HashText(Key(_entries[p_item])) : folderHashes[p_item - _entries.size()];
    };
    std::string_view previous;
    for (const Entry& entry : _entries) {
        const std::string_view key = Key(entry);
        std::size_t shared = 0;
        while (shared < key.size() && shared < previous.size() && key[shared] == previous[shared])
            ++shared;
        PrefixHashes hashes(key);
        for (std::size_t slash = key.find(AssetPath::DirectorySeparator, shared); slash != std::string_view::npos;
             slash = key.find(AssetPath::DirectorySeparator, slash + 1)) {
            if (slash >= 2 && key[slash - 1] == AssetPath::DirectorySeparator)
                continue;
            const std::string_view folder = key.substr(0, slash);
            const std::uint64_t hash = hashes.Of(slash);
            // A folder that is a key, too, is found as the key.
            if (_index.Find(folder, hash, KeyOf()) < 0) {
                _folders.push_back(Folder{entry.keyOffset, static_cast<std::uint16_t>(slash)});
                folderHashes.push_back(hash);
                _index.AddHashed(hash, static_cast<std::uint32_t>(_entries.size() + _folders.size() - 1), hashOf);
            }
        }
        previous = key;
    }
}

} // namespace Archive
} // namespace Assets
} // namespace Draxel
} // namespace Qor
