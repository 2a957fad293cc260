// The archive volume's listing: every element, the implied folders, and the direct children
// of a directory, all from the directory read at construction. Built only on State::VisitFrom,
// so that it does not depend on how the directory is held.
#include "ArchiveVolumeState.h"

#include <map>
#include <set>

namespace Qor {
namespace Draxel {
namespace Assets {

std::vector<ArchiveVolume::ListedEntry> ArchiveVolume::Entries() const
{
    std::vector<ListedEntry> entries;
    _state->VisitFrom(std::string_view(), [&](const std::string& p_key, const auto& p_entry) {
        ListedEntry listed;
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
        entries.push_back(std::move(listed));
        return true;
    });
    return entries;
}

std::vector<AssetPath> ArchiveVolume::Folders() const
{
    // Keys come in order, but the prefixes of consecutive keys do not ("a/b" < "a/b.txt" <
    // "a/b/c"), so they are gathered in an ordered set.
    std::set<std::string> folders;
    _state->VisitFrom(std::string_view(), [&](const std::string& p_key, const auto&) {
        for (std::size_t slash = p_key.find(AssetPath::DirectorySeparator); slash != std::string::npos;
             slash = p_key.find(AssetPath::DirectorySeparator, slash + 1))
            folders.insert(AssetPath(p_key.substr(0, slash)).str());
        return true;
    });
    return std::vector<AssetPath>(folders.begin(), folders.end());
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
