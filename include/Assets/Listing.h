// Listing: what the listing operations of the volumes and of the mount table hand out.
//
// Listing is read-only and never opens an asset: an archive volume lists from the directory
// it read at construction, a directory volume reads its directory on disk afresh.
#pragma once

#include <Assets/AssetPath.h>

#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {

// One direct child of a directory in one volume. An archive may hold a name that is both a
// stored file and a folder (a file entry "lib" beside "lib/x", or a directory entry "lib/"
// stored after a file "lib"); then both flags are set.
struct ListedChild {
    // The child's last component.
    std::string name;
    // Open of the child gives its bytes (a file on disk; an archive entry with file data).
    bool isFile = false;
    // The child has children of its own, or is stored as a directory.
    bool isDirectory = false;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
