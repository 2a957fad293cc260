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
ArchiveVolume::ListedEntry ListEntry(const std::string& p_path, const Listed& p_entry)
{
    ArchiveVolume::ListedEntry listed;
    listed.path = AssetPath(p_path);
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
    _state->VisitFrom(std::string_view(), [&](const std::string& p_path, const auto& p_entry) {
        entries.push_back(ListEntry(p_path, p_entry));
        return true;
    });
    return entries;
}

ArchiveVolume::ListedEntry ArchiveVolume::Describe(const Found& p_found) const
{
    ListedEntry listed;
    if (!p_found.entry)
        return listed;
    const std::string_view path = _state->directory.Path(*static_cast<const Archive::Entry*>(p_found.entry));
    _state->VisitFrom(path, [&](const std::string& p_path, const auto& p_entry) {
        listed = ListEntry(p_path, p_entry);
        return false;
    });
    return listed;
}

std::vector<AssetPath> ArchiveVolume::Folders() const
{
    // The prefixes of paths up to a slash, normalised, as the directory gathers them: a slash
    // inside the part shared with the previous path, or right behind another slash (past the
    // second byte), repeats a folder gathered already, and the others need no cutting back.
    // Paths come in order, but their folders do not ("a/b" < "a/b.txt" < "a/b/c"): they are
    // sorted at the end, as (path, length), where two prefixes of one path compare by length
    // without comparing their bytes.
    struct Prefix {
        std::uint32_t pathIndex;
        std::uint32_t length;
    };
    std::vector<std::string> paths;
    std::vector<Prefix> folders;
    _state->VisitFrom(std::string_view(), [&](const std::string& p_path, const auto&) {
        std::size_t shared = 0;
        if (!paths.empty()) {
            const std::string& previous = paths.back();
            while (shared < p_path.size() && shared < previous.size() && p_path[shared] == previous[shared])
                ++shared;
        }
        const auto pathIndex = static_cast<std::uint32_t>(paths.size());
        for (std::size_t slash = p_path.find(AssetPath::DirectorySeparator, shared); slash != std::string::npos;
             slash = p_path.find(AssetPath::DirectorySeparator, slash + 1)) {
            if (slash < 2 || p_path[slash - 1] != AssetPath::DirectorySeparator)
                folders.push_back(Prefix{pathIndex, static_cast<std::uint32_t>(slash)});
        }
        paths.push_back(p_path);
        return true;
    });
    const auto text = [&](const Prefix& p_prefix) {
        return std::string_view(paths[p_prefix.pathIndex]).substr(0, p_prefix.length);
    };
    std::sort(folders.begin(), folders.end(), [&](const Prefix& p_a, const Prefix& p_b) {
        return p_a.pathIndex == p_b.pathIndex ? p_a.length < p_b.length : text(p_a) < text(p_b);
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

    // A child's whole sub-tree (paths beginning with prefix + name + '/') sorts together, so
    // after the first path of a sub-tree the walk jumps behind it: one search per child.
    std::map<std::string, ListedChild> children;
    std::string next = prefix;
    bool more = true;
    while (more) {
        more = false;
        _state->VisitFrom(next, [&](const std::string& p_path, const auto& p_entry) {
            if (p_path.compare(0, prefix.size(), prefix) != 0)
                return false;
            const std::size_t slash = p_path.find(AssetPath::DirectorySeparator, prefix.size());
            const std::string name =
                p_path.substr(prefix.size(), slash == std::string::npos ? std::string::npos : slash - prefix.size());
            if (name.empty())
                return true; // a path "/..." below the root: no nameless child
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
