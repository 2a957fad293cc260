// The built-in archive list of the resource directories: the archives Resource mounts from
// its assets directory, with their keys. Kept apart from Resource.cpp because it needs no Qt,
// so that a build without Resource (ASSETS_WITH_RESOURCES off) still packs built-in archives.
#pragma once

#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

struct BuiltInArchive {
    std::string name;
    std::string key;
};

std::vector<BuiltInArchive> BuiltInArchives();

} // namespace Assets
} // namespace Draxel
} // namespace Qor
