// The peers' handles (Peers.h).
#include "Peers.h"

#include "BenchSetup.h"

#include <stdexcept>

namespace bench {

zip_t* OpenZip(const std::string& p_path)
{
    int error = 0;
    zip_t* archive = zip_open(p_path.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        throw std::runtime_error("libzip cannot open " + p_path);
    return archive;
}

void MountPhysfs(const std::string& p_path, const char* p_point)
{
    if (!PHYSFS_mount(p_path.c_str(), p_point, 1))
        throw std::runtime_error("PhysFS cannot mount " + p_path);
}

void MountPhysfs16()
{
    for (unsigned i = 0; i < g_setup.layout.mounts; ++i)
        MountPhysfs(Path(corpus::MountName(i)), MountPoint(i).c_str());
}

void UnmountPhysfs16()
{
    for (unsigned i = 0; i < g_setup.layout.mounts; ++i)
        PHYSFS_unmount(Path(corpus::MountName(i)).c_str());
}

std::size_t DrainZip(zip_t* p_archive, const char* p_name, char* p_buffer, std::size_t p_capacity)
{
    zip_file_t* file = zip_fopen(p_archive, p_name, 0);
    if (!file)
        return 0;
    const zip_int64_t count = zip_fread(file, p_buffer, p_capacity);
    zip_fclose(file);
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::size_t DrainPhysfs(const char* p_name, char* p_buffer, std::size_t p_capacity)
{
    PHYSFS_File* file = PHYSFS_openRead(p_name);
    if (!file)
        return 0;
    const PHYSFS_sint64 count = PHYSFS_readBytes(file, p_buffer, p_capacity);
    PHYSFS_close(file);
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

} // namespace bench
