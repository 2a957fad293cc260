// The mount table (priority groups searched high to low, sources in byte order inside a
// group): mounting, the one lookup behind Exists and Open, and the relative view over it.
#include <Assets/AssetLibrary.h>

#include <Assets/ArchiveDiagnostics.h>
#include <Assets/ArchiveVolume.h>
#include <Assets/FileSystemVolume.h>

#include "AssetLibraryState.h"
#include "Check.h"
#include "DeferredOpen.h"
#include "IndexedDirectoryVolume.h"
#include "Messages.h"
#include "NotifierHub.h"

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

// p_notices: the kept index's notifier (null: the disk answers); unused for a live mount.
boost::shared_ptr<AssetVolume> MakeDirectoryVolume(const AssetPath& p_source, const AssetPath& p_target,
                                                   unsigned int p_priority, bool p_indexed,
                                                   std::unique_ptr<WatchNotifier> p_notices)
{
    if (p_indexed)
        return boost::make_shared<IndexedDirectoryVolume>(p_source, p_target, p_priority, std::move(p_notices));
    return boost::make_shared<FileSystemVolume>(p_source, p_target, p_priority);
}

} // namespace

std::unique_ptr<WatchNotifier> AssetLibrary::State::SubscribeNotices() const
{
    const std::lock_guard<std::mutex> lock(hubLock);
    std::shared_ptr<NotifierHub> shared = hub.lock();
    if (!shared) {
        shared = NotifierHub::Create();
        if (!shared)
            return nullptr;
        hub = shared;
    }
    return shared->Subscribe();
}

AssetLibrary::AssetLibrary() : _state(new State) {}

AssetLibrary::~AssetLibrary() = default;

boost::shared_ptr<AssetLibrary> AssetLibrary::Create()
{
    return boost::make_shared<AssetLibrary>();
}

void AssetLibrary::MountDirectory(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority)
{
    MountDirectory(p_source, p_target, p_priority, DirectoryIndex::Live);
}

void AssetLibrary::MountDirectory(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority,
                                  DirectoryIndex p_index)
{
    Check(qorfile::direxists(p_source), Messages::MountDirectoryMissing);
    const AssetPath source(p_source);
    Check(_state->priorities.find(source) == _state->priorities.end(), Messages::MountDirectoryTwice);
    LogMount("Mounting directory: ", p_source, p_target);
    const bool indexed = p_index == DirectoryIndex::Kept;
    _state->Mount(State::Mounted{nullptr, p_source, source, p_priority, false, std::string(), indexed}, [&] {
        return MakeDirectoryVolume(source, p_target, p_priority, indexed,
                                   indexed ? _state->SubscribeNotices() : nullptr);
    });
}

void AssetLibrary::MountArchive(const qorfile::filepath& p_source, const AssetPath& p_target, unsigned int p_priority,
                                const std::string& p_key)
{
    Check(qorfile::fileexists(p_source), Messages::MountArchiveMissing);
    const AssetPath source(p_source);
    Check(_state->priorities.find(source) == _state->priorities.end(), Messages::MountArchiveTwice);
    LogMount("Mounting archive: ", p_source, p_target);
    _state->Mount(State::Mounted{nullptr, p_source, source, p_priority, true, p_key, false},
                  [&] { return boost::make_shared<ArchiveVolume>(source, p_target, p_priority, p_key); });
}

void AssetLibrary::Unmount(const qorfile::filepath& p_source)
{
    const AssetPath source(p_source);
    auto pos = _state->priorities.find(source);
    if (!Check(pos != _state->priorities.end(), Messages::UnmountNotMounted))
        return;
    auto priorityGroup = _state->volumes.find(pos->second);
    if (!Check(priorityGroup != _state->volumes.end(), Messages::UnmountNoGroup))
        return;
    priorityGroup->second.erase(source);
    _state->priorities.erase(pos);
    ++_state->revision;
}

void AssetLibrary::Remount(const qorfile::filepath& p_source)
{
    switch (Remount(AssetPath(p_source), &p_source)) {
    case RemountResult::NotMounted:
        Check(false, Messages::RemountNotMounted);
        break;
    case RemountResult::Unreadable:
        Check(false, Messages::RemountUnreadable);
        break;
    case RemountResult::Remounted:
        break;
    }
}

AssetLibrary::RemountResult AssetLibrary::Remount(const AssetPath& p_source, const qorfile::filepath* p_logged)
{
    State::Mounted* mounted = _state->Lookup(p_source);
    if (!mounted)
        return RemountResult::NotMounted;
    // The new volume replaces the old one only once it is read whole: a file that cannot be
    // read now (an archive half written, say) leaves the old one in place.
    const std::string text = mounted->source.str();
    const bool readable = mounted->isArchive ? qorfile::fileexists(qorfile::filepath(text)) &&
                                                   !ArchiveDiagnostics(text, mounted->key).Incomplete()
                                             : qorfile::direxists(qorfile::filepath(text));
    if (!readable)
        return RemountResult::Unreadable;
    const AssetPath& target = mounted->volume->_target;
    LogMount(mounted->isArchive ? "Mounting archive: " : "Mounting directory: ",
             p_logged ? *p_logged : mounted->hostSource, target);
    if (mounted->isArchive)
        mounted->volume = boost::make_shared<ArchiveVolume>(mounted->source, target, mounted->priority, mounted->key);
    else
        mounted->volume = MakeDirectoryVolume(mounted->source, target, mounted->priority, mounted->indexed,
                                              mounted->indexed ? _state->SubscribeNotices() : nullptr);
    ++_state->revision;
    return RemountResult::Remounted;
}

unsigned long long AssetLibrary::MountRevision() const
{
    return _state->revision;
}

bool AssetLibrary::Exists(const AssetPath& p_path) const
{
    return _state->Search(p_path, true).exists != nullptr;
}

boost::shared_ptr<std::istream> AssetLibrary::Open(const AssetPath& p_path, OpenMode p_mode) const
{
    const State::Decision decision = _state->Search(p_path, false);
    if (!decision.serving)
        return boost::shared_ptr<std::istream>();
    return decision.serving->volume->OpenFound(decision.found, p_mode);
}

AssetLibrary::Location AssetLibrary::Locate(const AssetPath& p_path) const
{
    return Locate(p_path, nullptr);
}

AssetLibrary::Location AssetLibrary::Locate(const AssetPath& p_path, const std::set<AssetPath>* p_skipped) const
{
    const State::Decision decision = _state->Search(p_path, false, p_skipped);
    Location location;
    const State::Mounted* winner = decision.Winner();
    if (!winner)
        return location;
    location.source = winner->source;
    location.priority = winner->priority;
    location.isArchive = winner->isArchive;
    if (decision.Kind() != AssetVolume::Found::File) {
        location.kind = Location::Directory;
        return location;
    }
    location.kind = Location::File;
    if (winner->isArchive)
        location.entry = static_cast<const ArchiveVolume&>(*winner->volume).Describe(decision.found);
    else
        location.hostPath = decision.found.hostPath;
    return location;
}

std::optional<std::uint64_t> AssetLibrary::Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                                std::size_t p_capacity) const
{
    // The volume Open would ask reads, by the path (it looks the path up once more).
    const State::Decision decision = _state->Search(p_path, false);
    if (!decision.serving)
        return std::nullopt;
    return decision.serving->volume->Read(p_path, p_mode, p_buffer, p_capacity);
}

std::optional<std::uint64_t> AssetLibrary::Size(const AssetPath& p_path, OpenMode p_mode) const
{
    return Read(p_path, p_mode, nullptr, 0);
}

std::vector<boost::shared_ptr<std::istream>> AssetLibrary::OpenBatch(const std::vector<AssetPath>& p_paths,
                                                                     OpenMode p_mode) const
{
    // The volume Open would ask for each path, by the one lookup (none: an empty pointer).
    std::vector<State::Decision> decisions;
    decisions.reserve(p_paths.size());
    for (const AssetPath& path : p_paths)
        decisions.push_back(_state->Search(path, false));
    auto winner = [&](std::size_t p_item) -> const AssetVolume* {
        return decisions[p_item].serving ? decisions[p_item].serving->volume.get() : nullptr;
    };

    // Each archive reads its paths together, ahead of their turns; the other volumes are
    // asked when a path's turn comes.
    std::vector<DeferredOpen> results(p_paths.size());
    std::map<const ArchiveVolume*, std::vector<std::size_t>> byArchive;
    for (std::size_t item = 0; item < p_paths.size(); ++item)
        if (const auto* archive = dynamic_cast<const ArchiveVolume*>(winner(item)))
            byArchive[archive].push_back(item);
    for (const auto& archive : byArchive) {
        std::vector<const AssetPath*> paths;
        paths.reserve(archive.second.size());
        for (std::size_t item : archive.second)
            paths.push_back(&p_paths[item]);
        std::vector<DeferredOpen> done(paths.size());
        archive.first->OpenDeferred(paths, p_mode, done.data());
        for (std::size_t index = 0; index < paths.size(); ++index)
            results[archive.second[index]] = std::move(done[index]);
    }

    std::vector<boost::shared_ptr<std::istream>> streams;
    streams.reserve(p_paths.size());
    for (std::size_t item = 0; item < p_paths.size(); ++item) {
        if (!results[item].pending)
            streams.push_back(results[item].Deliver());
        else if (winner(item))
            streams.push_back(winner(item)->OpenFound(decisions[item].found, p_mode));
        else
            streams.emplace_back();
    }
    return streams;
}

boost::shared_ptr<Volume> AssetLibrary::RelativeTo(const AssetPath& p_path) const
{
    return boost::make_shared<RelativeVolume>(shared_from_this(), p_path);
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
