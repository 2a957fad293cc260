// The indexed directory volume: the path cut below the mount point as Resolve cuts it, then
// the index's answer, or the disk's where the index has none.
#include "IndexedDirectoryVolume.h"

#include "IndexedTree.h"
#include "PathText.h"
#include "Platform.h"
#include "WatchNotifier.h"

namespace Qor {
namespace Draxel {
namespace Assets {

IndexedDirectoryVolume::IndexedDirectoryVolume(const AssetPath& p_source, const AssetPath& p_target,
                                               unsigned int p_priority, std::unique_ptr<WatchNotifier> p_notices)
    : FileSystemVolume(p_source, p_target, p_priority), _index(new IndexedTree(p_source.str(), std::move(p_notices)))
{
}

IndexedDirectoryVolume::~IndexedDirectoryVolume() = default;

bool IndexedDirectoryVolume::Key(const AssetPath& p_path, std::string_view& p_key) const
{
    std::string_view relative = PathText::RelativeTo(p_path.Text(), _target.Text());
    // Resolve hands the host the text up to a NUL and joins dropping leading slashes.
    if (relative.find('\0') != std::string_view::npos)
        return false;
    while (!relative.empty() && relative.front() == '/')
        relative.remove_prefix(1);
    for (std::size_t start = 0; start <= relative.size() && !relative.empty();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string_view component = relative.substr(start, end - start);
        if (component.empty() || component == ".")
            return false;
        start = end + 1;
    }
    p_key = relative;
    return true;
}

AssetVolume::Found IndexedDirectoryVolume::Find(const AssetPath& p_path) const
{
    std::string_view key;
    if (!Key(p_path, key))
        return FileSystemVolume::Find(p_path);
    // Resolve's refusal, on the same text (it has no NUL), before the index is asked.
    if (Platform::LeavesDirectory(PathText::RelativeTo(p_path.Text(), _target.Text())))
        return Found();
    Found found;
    switch (_index->Look(key)) {
    case IndexedTree::Absent:
        return found;
    case IndexedTree::Disk:
        return FileSystemVolume::Find(p_path);
    case IndexedTree::Directory:
        found.kind = Found::Directory;
        break;
    case IndexedTree::File:
        found.kind = Found::File;
        break;
    }
    found.hostPath = HostPath(key);
    return found;
}

// What Resolve gives for a path whose key Key accepted and that leaves no directory, joined
// here without the AssetPaths Resolve makes: the source and the key are normalised texts and
// the key has no slash at either end, so AssetPath's join only puts one slash between them.
std::string IndexedDirectoryVolume::HostPath(std::string_view p_key) const
{
    const std::string_view source = _source.Text();
    std::string path;
    path.reserve(source.size() + 1 + p_key.size());
    path.append(source);
    if (!p_key.empty()) {
        if (!path.empty() && path.back() != AssetPath::DirectorySeparator)
            path += AssetPath::DirectorySeparator;
        path.append(p_key);
    }
    return path;
}

std::vector<ListedChild> IndexedDirectoryVolume::Children(const AssetPath& p_directory) const
{
    std::vector<ListedChild> children;
    AssetPath resolved;
    if (!Resolve(p_directory, resolved))
        return children;
    std::string_view key;
    if (Key(p_directory, key) && _index->Children(key, children))
        return children;
    return FileSystemVolume::Children(p_directory);
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
