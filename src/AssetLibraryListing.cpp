// The mount table's listing: the mounted volumes in search order, and the direct children of
// a directory of the merged tree, each with the volume that wins it by the one search rule
// (AssetLibraryState.h) that Exists and Open follow.
#include <Assets/AssetLibrary.h>

#include <Assets/ArchiveVolume.h>
#include <Assets/FileSystemVolume.h>

#include "AssetLibraryState.h"
#include "IndexedDirectoryVolume.h"

#include <map>
#include <set>
#include <unordered_map>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// The children of p_directory in one volume, by the volume's kind. The mount table makes
// only these two kinds.
std::vector<ListedChild> VolumeChildren(const AssetVolume& p_volume, const AssetPath& p_directory)
{
    if (const auto* archive = dynamic_cast<const ArchiveVolume*>(&p_volume))
        return archive->Children(p_directory);
    if (const auto* indexed = dynamic_cast<const IndexedDirectoryVolume*>(&p_volume))
        return indexed->Children(p_directory);
    if (const auto* directory = dynamic_cast<const FileSystemVolume*>(&p_volume))
        return directory->Children(p_directory);
    return std::vector<ListedChild>();
}

} // namespace

std::vector<AssetLibrary::MountedVolume> AssetLibrary::Mounts() const
{
    std::vector<MountedVolume> mounts;
    for (const auto& group : _state->volumes)
        for (const auto& mounted : group.second)
            mounts.push_back(
                MountedVolume{mounted.first, mounted.second.volume->_target, group.first, mounted.second.isArchive});
    return mounts;
}

std::vector<AssetLibrary::Child> AssetLibrary::Children(const AssetPath& p_directory) const
{
    return Children(p_directory, nullptr);
}

std::vector<AssetLibrary::Child> AssetLibrary::Children(const AssetPath& p_directory,
                                                        const std::set<AssetPath>* p_skipped) const
{
    using Found = AssetVolume::Found;
    // Every volume mounted at or above the directory lists it once; a volume mounted below it
    // offers the first component of its mount point. Each name is then decided by the search
    // that Exists and Open make, asking the listings instead of the volumes, except a volume
    // mounted at the child itself, which is asked (only when the search reaches it).
    std::unordered_map<const State::Mounted*, std::map<std::string, ListedChild>> listed;
    std::vector<const State::Mounted*> offers;
    std::set<std::string> names;
    for (const auto& group : _state->volumes) {
        for (const auto& mounted : group.second) {
            if (p_skipped && p_skipped->count(mounted.first))
                continue;
            const AssetPath& target = mounted.second.volume->_target;
            if (p_directory.IsParentOf(target) && !(target == p_directory)) {
                const std::string below = target.RelativeTo(p_directory).str();
                const std::string name = below.substr(0, below.find(AssetPath::DirectorySeparator));
                if (name.empty())
                    continue;
                names.insert(name);
            } else if (target.IsParentOf(p_directory)) {
                std::map<std::string, ListedChild>& children = listed[&mounted.second];
                for (ListedChild& child : VolumeChildren(*mounted.second.volume, p_directory)) {
                    names.insert(child.name);
                    std::string name = child.name;
                    children.emplace(std::move(name), std::move(child));
                }
                if (children.empty())
                    continue;
            } else {
                continue;
            }
            offers.push_back(&mounted.second);
        }
    }

    std::vector<Child> children;
    children.reserve(names.size());
    for (const std::string& name : names) {
        const AssetPath path = p_directory + AssetPath(name);
        const auto probe = [&](const State::Mounted& p_mount) {
            Found found;
            auto volume = listed.find(&p_mount);
            if (volume == listed.end())
                return p_mount.volume->Find(path);
            auto child = volume->second.find(name);
            if (child != volume->second.end())
                found.kind = child->second.isFile ? Found::File : Found::Directory;
            return found;
        };
        State::Decision decision;
        for (const State::Mounted* offer : offers)
            if (decision.Visit(*offer, path, false, probe))
                break;
        const State::Mounted* winner = decision.Winner();
        children.push_back(Child{name, path, decision.Kind() != Found::File, winner->source, winner->priority});
    }
    return children;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
