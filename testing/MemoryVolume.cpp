// A one-asset volume over bytes in memory.
#include "MemoryVolume.h"

#include <boost/make_shared.hpp>

#include <sstream>

namespace testing_support {

MemoryVolume::MemoryVolume(const std::string& p_name, std::string p_bytes)
    : _name(p_name), _bytes(boost::make_shared<const std::string>(std::move(p_bytes)))
{
}

bool MemoryVolume::Exists(const Qor::Draxel::Assets::AssetPath& p_path) const
{
    return p_path == _name;
}

boost::shared_ptr<std::istream> MemoryVolume::Open(const Qor::Draxel::Assets::AssetPath& p_path, OpenMode) const
{
    if (!(p_path == _name))
        return boost::shared_ptr<std::istream>();
    return boost::make_shared<std::istringstream>(*_bytes);
}

} // namespace testing_support
