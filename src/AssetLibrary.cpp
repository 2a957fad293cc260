// The mount table (priority groups searched high to low, sources in byte order inside a
// group) and the relative view over it.
#include <Assets/AssetLibrary.h>

#include <Assets/ArchiveVolume.h>
#include <Assets/FileSystemVolume.h>

#include "Check.h"
#include "Messages.h"

#include <functional>
#include <map>
#include <set>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// A view of a library below a base path; holds the library alive.
class RelativeVolume : public Volume {
public:
    RelativeVolume(boost::shared_ptr<const AssetLibrary> p_library, const AssetPath& p_base)
        : _library(std::move(p_library)), _base(p_base)
    {
    }

    bool Exists(const AssetPath& p_path) const override
    {
        return static_cast<const Volume&>(*_library).Exists(_base + p_path);
    }

    boost::shared_ptr<std::istream> Open(const AssetPath& p_path, OpenMode p_mode) const override
    {
        return static_cast<const Volume&>(*_library).Open(_base + p_path, p_mode);
    }

    std::optional<std::uint64_t> Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                      std::size_t p_capacity) const override
    {
        return static_cast<const Volume&>(*_library).Read(_base + p_path, p_mode, p_buffer, p_capacity);
    }

    std::optional<std::uint64_t> Size(const AssetPath& p_path, OpenMode p_mode) const override
    {
        return static_cast<const Volume&>(*_library).Size(_base + p_path, p_mode);
    }

private:
    boost::shared_ptr<const AssetLibrary> _library;
    AssetPath _base;
};

// Each line asks for the logger anew: the host may hand out another one at every call.
void LogMount(const char* p_kind, const qorfile::filepath& p_source, const AssetPath& p_target)
{
    Utility::GetLogger().dout("Assets") << p_kind << p_source.name().str() << std::endl;
    Utility::GetLogger().dout("Assets") << "   -> path: " << p_source.str() << std::endl;
    Utility::GetLogger().dout("Assets") << "   -> target: " << p_target.str() << std::endl;
}

} // namespace

struct AssetLibrary::State {
    using PriorityGroup = std::map<AssetPath, boost::shared_ptr<AssetVolume>>;

    std::map<unsigned int, PriorityGroup, std::greater<unsigned int>> volumes;
    std::map<AssetPath, unsigned int> priorities;
    unsigned long long revision = 0;

    // Steps shared by both mount operations once their preconditions are reported.
    template <class MakeVolume>
    void Mount(const AssetPath& p_key, unsigned int p_priority, MakeVolume p_make)
    {
        PriorityGroup& group = volumes[p_priority];
        boost::shared_ptr<AssetVolume> volume = p_make();
        group.emplace(p_key, volume);
        priorities.emplace(p_key, p_priority);
        ++revision;
    }
};

AssetLibrary::AssetLibrary() : _state(new State) {}

AssetLibrary::~AssetLibrary() = default;

boost::shared_ptr<AssetLibrary> AssetLibrary::Create()
{
    return boost::make_shared<AssetLibrary>();
}

void AssetLibrary::MountDirectory(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority)
{
    Check(qorfile::direxists(p_source), Messages::MountDirectoryMissing);
    const AssetPath key(p_source);
    Check(_state->priorities.find(key) == _state->priorities.end(), Messages::MountDirectoryTwice);
    LogMount("Mounting directory: ", p_source, p_target);
    _state->Mount(key, p_priority,
                  [&] { return boost::make_shared<FileSystemVolume>(key, p_target, p_priority); });
}

void AssetLibrary::MountArchive(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority,
                                const std::string& p_key)
{
    Check(qorfile::fileexists(p_source), Messages::MountArchiveMissing);
    const AssetPath key(p_source);
    Check(_state->priorities.find(key) == _state->priorities.end(), Messages::MountArchiveTwice);
    LogMount("Mounting archive: ", p_source, p_target);
    _state->Mount(key, p_priority,
                  [&] { return boost::make_shared<ArchiveVolume>(key, p_target, p_priority, p_key); });
}

void AssetLibrary::Unmount(const qorfile::filepath& p_source)
{
    const AssetPath key(p_source);
    auto pos = _state->priorities.find(key);
    if (!Check(pos != _state->priorities.end(), Messages::UnmountNotMounted))
        return;
    auto priorityGroup = _state->volumes.find(pos->second);
    if (!Check(priorityGroup != _state->volumes.end(), Messages::UnmountNoGroup))
        return;
    priorityGroup->second.erase(key);
    _state->priorities.erase(pos);
    ++_state->revision;
}

unsigned long long AssetLibrary::MountRevision() const
{
    return _state->revision;
}

bool AssetLibrary::Exists(const AssetPath& p_path) const
{
    for (const auto& group : _state->volumes) {
        for (const auto& mounted : group.second) {
            const AssetVolume& volume = *mounted.second;
            if (p_path.IsParentOf(volume._target))
                return true;
            if (volume._target.IsParentOf(p_path) && volume.Exists(p_path))
                return true;
        }
    }
    return false;
}

boost::shared_ptr<std::istream> AssetLibrary::Open(const AssetPath& p_path, OpenMode p_mode) const
{
    for (const auto& group : _state->volumes) {
        for (const auto& mounted : group.second) {
            const AssetVolume& volume = *mounted.second;
            if (volume._target.IsParentOf(p_path) && volume.Exists(p_path))
                return volume.Open(p_path, p_mode);
        }
    }
    return boost::shared_ptr<std::istream>();
}

std::optional<std::uint64_t> AssetLibrary::Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                                std::size_t p_capacity) const
{
    for (const auto& group : _state->volumes) {
        for (const auto& mounted : group.second) {
            const AssetVolume& volume = *mounted.second;
            if (volume._target.IsParentOf(p_path) && volume.Exists(p_path))
                return volume.Read(p_path, p_mode, p_buffer, p_capacity);
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> AssetLibrary::Size(const AssetPath& p_path, OpenMode p_mode) const
{
    return Read(p_path, p_mode, nullptr, 0);
}

boost::shared_ptr<Volume> AssetLibrary::RelativeTo(const AssetPath& p_path) const
{
    return boost::make_shared<RelativeVolume>(shared_from_this(), p_path);
}

// ---------------------------------------------------------------------------------------
// Listing.

namespace {

// The children of p_directory in one volume, by the volume's kind. The mount table makes
// only these two kinds.
std::vector<ListedChild> VolumeChildren(const AssetVolume& p_volume, const AssetPath& p_directory)
{
    if (const auto* archive = dynamic_cast<const ArchiveVolume*>(&p_volume))
        return archive->Children(p_directory);
    if (const auto* directory = dynamic_cast<const FileSystemVolume*>(&p_volume))
        return directory->Children(p_directory);
    return std::vector<ListedChild>();
}

// What one volume offers to a listing of one directory.
struct Offer {
    const AssetVolume* volume;
    const AssetPath* source;
    unsigned int priority;
    // The first component below the directory of a mount point that lies below it.
    std::string mountChild;
    // Or the volume's own children of the directory.
    std::map<std::string, ListedChild> children;
};

} // namespace

std::vector<AssetLibrary::MountedVolume> AssetLibrary::Mounts() const
{
    std::vector<MountedVolume> mounts;
    for (const auto& group : _state->volumes)
        for (const auto& mounted : group.second)
            mounts.push_back(MountedVolume{mounted.first, mounted.second->_target, group.first,
                                           dynamic_cast<const ArchiveVolume*>(mounted.second.get()) != nullptr});
    return mounts;
}

std::vector<AssetLibrary::Child> AssetLibrary::Children(const AssetPath& p_directory) const
{
    // Every volume is asked once, in search order; each child's winner is then found among
    // the offers in that same order, so the listing follows Exists and Open without asking
    // the volumes again.
    std::vector<Offer> offers;
    std::set<std::string> names;
    for (const auto& group : _state->volumes) {
        for (const auto& mounted : group.second) {
            const AssetVolume& volume = *mounted.second;
            Offer offer{&volume, &mounted.first, group.first, std::string(), {}};
            if (p_directory.IsParentOf(volume._target) && !(volume._target == p_directory)) {
                const std::string below = volume._target.RelativeTo(p_directory).str();
                offer.mountChild = below.substr(0, below.find(AssetPath::DirectorySeparator));
                if (offer.mountChild.empty())
                    continue;
                names.insert(offer.mountChild);
            } else if (volume._target.IsParentOf(p_directory)) {
                for (ListedChild& child : VolumeChildren(volume, p_directory)) {
                    names.insert(child.name);
                    std::string name = child.name;
                    offer.children.emplace(std::move(name), std::move(child));
                }
                if (offer.children.empty())
                    continue;
            } else {
                continue;
            }
            offers.push_back(std::move(offer));
        }
    }

    std::vector<Child> children;
    children.reserve(names.size());
    for (const std::string& name : names) {
        const AssetPath path = p_directory + AssetPath(name);
        const Offer* existsWinner = nullptr;
        const Offer* openWinner = nullptr;
        bool opensFile = false;
        for (const Offer& offer : offers) {
            if (offer.mountChild == name && !offer.mountChild.empty()) {
                // Exists affirms every path above a mount point. Open asks only a volume
                // mounted at the path itself, where it finds a directory if anything.
                if (!existsWinner)
                    existsWinner = &offer;
                if (!openWinner && offer.volume->_target == path && offer.volume->Exists(path))
                    openWinner = &offer;
            } else {
                auto child = offer.children.find(name);
                if (child == offer.children.end())
                    continue;
                if (!existsWinner)
                    existsWinner = &offer;
                if (!openWinner) {
                    openWinner = &offer;
                    opensFile = child->second.isFile;
                }
            }
            if (existsWinner && openWinner)
                break;
        }
        const Offer* winner = opensFile ? openWinner : existsWinner;
        children.push_back(Child{name, path, !opensFile, *winner->source, winner->priority});
    }
    return children;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
