// The out-of-line members of Volume and AssetVolume (their vtables live here).
#include <Assets/Volume.h>

#include <limits>

namespace Qor {
namespace Draxel {
namespace Assets {

Volume::~Volume() = default;

// What a volume without a read of its own gives: its stream, read.
std::optional<std::uint64_t> Volume::Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                          std::size_t p_capacity) const
{
    boost::shared_ptr<std::istream> stream = Open(p_path, p_mode);
    if (!stream || !stream->good())
        return std::nullopt;
    stream->read(p_buffer, static_cast<std::streamsize>(p_capacity));
    std::uint64_t count = static_cast<std::uint64_t>(stream->gcount());
    if (stream->good()) {
        stream->ignore(std::numeric_limits<std::streamsize>::max());
        count += static_cast<std::uint64_t>(stream->gcount());
    }
    return count;
}

std::optional<std::uint64_t> Volume::Size(const AssetPath& p_path, OpenMode p_mode) const
{
    return Read(p_path, p_mode, nullptr, 0);
}

AssetVolume::AssetVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority)
    : _source(p_source), _target(p_target), _priority(p_priority)
{
}

AssetVolume::~AssetVolume() = default;

} // namespace Assets
} // namespace Draxel
} // namespace Qor
