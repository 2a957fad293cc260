// A volume over bytes in memory: one asset, for tests, fuzz targets and benchmarks that read an
// archive from inside another volume without touching the disk.
#pragma once

#include <Assets/Volume.h>

#include <string>

namespace testing_support {

// A volume holding one asset, p_name, with the given bytes.
class MemoryVolume : public Qor::Draxel::Assets::Volume {
public:
    MemoryVolume(const std::string& p_name, std::string p_bytes);
    bool Exists(const Qor::Draxel::Assets::AssetPath& p_path) const override;
    boost::shared_ptr<std::istream> Open(const Qor::Draxel::Assets::AssetPath& p_path, OpenMode p_mode) const override;

private:
    Qor::Draxel::Assets::AssetPath _name;
    boost::shared_ptr<const std::string> _bytes;
};

} // namespace testing_support
