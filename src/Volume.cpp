// The out-of-line members of Volume and AssetVolume (their vtables live here).
#include <Assets/Volume.h>

namespace Qor {
namespace Draxel {
namespace Assets {

Volume::~Volume() = default;

AssetVolume::AssetVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority)
    : _source(p_source), _target(p_target), _priority(p_priority)
{
}

AssetVolume::~AssetVolume() = default;

} // namespace Assets
} // namespace Draxel
} // namespace Qor
