// Shared pieces of the fuzz targets: a volume over bytes in memory, the ensure handlers, and
// an independent walk that lists the names an archive's central directory holds.
#pragma once

#include <Assets/Volume.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fuzz_support {

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

// Installs a handler that counts reports, shows each to p_observer when there is one, and
// returns (p_returning) or throws qordebug::ensure_failure; switches log output off.
void UseEnsureHandler(bool p_returning, const std::function<void(const std::string&)>& p_observer = {});
std::size_t EnsureCount();

// The names the central directory of p_archive lists, unscrambled with p_key when it is not
// empty, with the end record p_trailer bytes before the end. Bounds-checked; stops at the
// first record that does not fit.
std::vector<std::string> CentralNames(const std::string& p_archive, const std::string& p_key, std::size_t p_trailer);

// The count of central headers the end record claims, valid or not (where CentralNames
// looks for it); 65 535 when the archive is too short to hold the record.
std::size_t CentralCount(const std::string& p_archive, const std::string& p_key, std::size_t p_trailer);

// CR LF to LF, left to right.
std::string FoldLineEnds(const std::string& p_bytes);

// Reads at most p_limit bytes; p_complete tells whether the stream ended within them.
std::string ReadUpTo(std::istream& p_stream, std::size_t p_limit, bool& p_complete);

} // namespace fuzz_support
