// The archive volume's listing: every element, the implied folders, and the direct children
// of a directory, all from the directory read at construction. Built only on State::VisitFrom,
// so that it does not depend on how the directory is held.
#include "ArchiveVolumeState.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

template <class Listed>
ArchiveVolume::ListedEntry ListEntry(const std::string& p_key, const Listed& p_entry)
{
    ArchiveVolume::ListedEntry listed;
    listed.path = AssetPath(p_key);
    listed.storedName = p_entry.name;
    listed.isDirectory = p_entry.isDirectory;
    if (p_entry.file) {
        const Archive::FileInfo& file = *p_entry.file;
        listed.isFile = true;
        listed.method = file.method;
        listed.encrypted = file.encrypted;
        listed.compressedSize = file.compressedSize;
        listed.uncompressedSize = file.uncompressedSize;
        listed.crc32 = file.crc32;
        listed.localHeaderOffset = file.localHeaderOffset;
    }
    return listed;
}

} // namespace

std::vector<ArchiveVolume::ListedEntry> ArchiveVolume::Entries() const
{
    std::vector<ListedEntry> entries;
    _state->VisitFrom(std::string_view(), [&](const std::string& p_key, const auto& p_entry) {
        entries.push_back(ListEntry(p_key, p_entry));
        return true;
    });
    return entries;
}

ArchiveVolume::ListedEntry ArchiveVolume::Describe(const Found& p_found) const
{
    ListedEntry listed;
    if (!p_found.entry)
        return listed;
    const std::string_view key = _state->directory.Key(*static_cast<const Archive::Entry*>(p_found.entry));
    _state->VisitFrom(key, [&](const std::string& p_key, const auto& p_entry) {
        listed = ListEntry(p_key, p_entry);
        return false;
    });
    return listed;
}

std::vector<AssetPath> ArchiveVolume::Folders() const
{
    // The prefixes of keys up to a slash, normalised, as the directory gathers them: a slash
    // inside the part shared with the previous key, or right behind another slash (past the
    // second byte), repeats a folder gathered already, and the others need no cutting back.
    // Keys come in order, but their folders do not ("a/b" < "a/b.txt" < "a/b/c"): they are
    // sorted at the end, as (key, length), where two prefixes of one key compare by length
    // without comparing their bytes.
    struct Prefix {
        std::uint32_t key;
        std::uint32_t length;
    };
    std::vector<std::string> keys;
    std::vector<Prefix> folders;
    _state->VisitFrom(std::string_view(), [&](const std::string& p_key, const auto&) {
        std::size_t shared = 0;
        if (!keys.empty()) {
            const std::string& previous = keys.back();
            while (shared < p_key.size() && shared < previous.size() && p_key[shared] == previous[shared])
                ++shared;
        }
        const auto key = static_cast<std::uint32_t>(keys.size());
        for (std::size_t slash = p_key.find(AssetPath::DirectorySeparator, shared); slash != std::string::npos;
             slash = p_key.find(AssetPath::DirectorySeparator, slash + 1)) {
            if (slash < 2 || p_key[slash - 1] != AssetPath::DirectorySeparator)
                folders.push_back(Prefix{key, static_cast<std::uint32_t>(slash)});
        }
        keys.push_back(p_key);
        return true;
    });
    const auto text = [&](const Prefix& p_prefix) { return std::string_view(keys[p_prefix.key]).substr(0, p_prefix.length); };
    std::sort(folders.begin(), folders.end(), [&](const Prefix& p_a, const Prefix& p_b) {
        return p_a.key == p_b.key ? p_a.length < p_b.length : text(p_a) < text(p_b);
    });
    std::vector<AssetPath> listed;
    listed.reserve(folders.size());
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (i == 0 || text(folders[i - 1]) != text(folders[i]))
            listed.emplace_back(std::string(text(folders[i])));
    }
    return listed;
}

std::vector<ListedChild> ArchiveVolume::Children(const AssetPath& p_directory) const
{
    std::string prefix = Resolve(p_directory).str();
    if (!prefix.empty())
        prefix += AssetPath::DirectorySeparator;

    // A child's whole sub-tree (keys beginning with prefix + name + '/') sorts together, so
    // after the first key of a sub-tree the walk jumps behind it: one search per child.
    std::map<std::string, ListedChild> children;
    std::string next = prefix;
    bool more = true;
    while (more) {
        more = false;
        _state->VisitFrom(next, [&](const std::string& p_key, const auto& p_entry) {
            if (p_key.compare(0, prefix.size(), prefix) != 0)
                return false;
            const std::size_t slash = p_key.find(AssetPath::DirectorySeparator, prefix.size());
            const std::string name = p_key.substr(prefix.size(), slash == std::string::npos ? std::string::npos
                                                                                              : slash - prefix.size());
            if (name.empty())
                return true; // a key "/..." below the root: no nameless child
            ListedChild& child = children[name];
            child.name = name;
            if (slash == std::string::npos) {
                child.isFile = child.isFile || static_cast<bool>(p_entry.file);
                child.isDirectory = child.isDirectory || p_entry.isDirectory;
                return true;
            }
            child.isDirectory = true;
            next = prefix + name;
            next += static_cast<char>(AssetPath::DirectorySeparator + 1);
            more = true;
            return false;
        });
    }

    std::vector<ListedChild> listed;
    listed.reserve(children.size());
    for (auto& child : children)
        listed.push_back(std::move(child.second));
    return listed;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
