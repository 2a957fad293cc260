// The peers' handles: libzip archives, PhysFS mounts, and each peer's whole read of one entry
// into a caller's buffer (the way a user of that library reads an asset).
#pragma once

#include <physfs.h>
#include <zip.h>

#include <cstddef>
#include <string>

namespace bench {

// Opens p_path read-only; throws when libzip cannot.
zip_t* OpenZip(const std::string& p_path);

// Mounts p_path at p_point (null: the root) behind what is mounted; throws when PhysFS cannot.
void MountPhysfs(const std::string& p_path, const char* p_point);

// The 16 links to many.zip at the 16-volume library's mount points.
void MountPhysfs16();
void UnmountPhysfs16();

// Each peer's read of a whole entry into p_buffer; 0 when it is not there.
std::size_t DrainZip(zip_t* p_archive, const char* p_name, char* p_buffer, std::size_t p_capacity);
std::size_t DrainPhysfs(const char* p_name, char* p_buffer, std::size_t p_capacity);

} // namespace bench
