// AssetLibrary: the mount table of the virtual asset tree.
//
// Directories and ZIP archives are mounted at a mount point with a priority. Exists and Open
// ask the volumes from the highest priority number down and, within one priority, in the
// byte order of their source paths; the first volume whose mount point lies above the asked
// path and that has the asset answers. A mount point, and every directory above one, exists;
// Open of such a path alone gives an empty pointer.
//
// Ownership: the library owns its volumes and never hands them out. It lives behind the
// pointer Create returns; views made by RelativeTo keep it alive. Streams from Open own their
// bytes and may outlive the library. Mounting and unmounting are not synchronised: a host
// that shares one library between threads serialises them against every other call.
#pragma once

#include <Assets/Export.h>
#include <Assets/Volume.h>

#include <boost/enable_shared_from_this.hpp>
#include <boost/make_shared.hpp>
#include <boost/noncopyable.hpp>

#include <memory>
#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API AssetLibrary : public Volume,
                                public boost::enable_shared_from_this<AssetLibrary>,
                                private boost::noncopyable {
public:
    static boost::shared_ptr<AssetLibrary> Create();
    ~AssetLibrary() override;

    // Reports a missing directory or a source mounted already (then mounts all the same if
    // the ensure handler returns).
    void MountDirectory(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority);
    // As MountDirectory, for a ZIP archive file; the archive's directory is read now and
    // p_key is handed to the archive volume. An exception while reading leaves the source
    // unmounted.
    void MountArchive(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority,
                      const std::string& p_key);
    // Reports a source that is not mounted (and does nothing if the ensure handler returns).
    void Unmount(const qorfile::filepath& p_source);

    bool Exists(const AssetPath& p_path) const override;
    // Empty when no volume has the asset.
    boost::shared_ptr<std::istream> Open(const AssetPath& p_path, OpenMode p_mode) const override;

    // A view of this library below p_path: asking it about a path asks the library about
    // p_path joined with that path. The view keeps the library alive and sees later mounts.
    boost::shared_ptr<Volume> RelativeTo(const AssetPath& p_path) const;

private:
    struct ASSETS_LOCAL State;

    ASSETS_LOCAL AssetLibrary();

    template <class T, class... Args>
    friend typename boost::detail::sp_if_not_array<T>::type boost::make_shared(Args&&... args);

    std::unique_ptr<State> _state;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
