// IndexedDirectoryVolume: the directory volume of a kept index (AssetLibrary::DirectoryIndex::
// Kept). It answers every question exactly as FileSystemVolume does, the ".." refusal
// included, but takes whether something exists and what a directory holds from an index of
// the tree kept current from the platform's notices (IndexedTree), where the index can
// promise the disk's answer, and asks the disk elsewhere. Open and the reads still open the
// file on disk. The volume owns its index, and the index its subscription to the library's
// shared notifier (NotifierHub), which the library hands it; any thread may ask.
#pragma once

#include <Assets/FileSystemVolume.h>

#include <memory>
#include <string>
#include <string_view>

namespace Qor {
namespace Draxel {
namespace Assets {

class IndexedTree;
class WatchNotifier;

class IndexedDirectoryVolume : public FileSystemVolume {
public:
    // p_notices: an immediate notifier for the index alone (null: the disk answers everywhere).
    IndexedDirectoryVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority,
                           std::unique_ptr<WatchNotifier> p_notices);
    ~IndexedDirectoryVolume() override;

    // As FileSystemVolume::Children.
    std::vector<ListedChild> Children(const AssetPath& p_directory) const;

private:
    Found Find(const AssetPath& p_path) const override;
    // The part of p_path below the mount point as the index keys it; false when the disk must
    // answer (a text the index cannot key: a NUL, an empty or "." component).
    bool Key(const AssetPath& p_path, std::string_view& p_key) const;
    // The host path of p_key, a key Key gave for a path that leaves no directory: what
    // Resolve gives for that path.
    std::string HostPath(std::string_view p_key) const;

    std::unique_ptr<IndexedTree> _index;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
