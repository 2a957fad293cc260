// The watcher: keeps its snapshot (AssetWatcherState.h) up to date from the notifier's notices,
// or wholly after a remount, a lost notice or a polling interval; mounted archives changed on
// disk are skipped, remounted or marked here before the paths they serve are rescanned.
#include "AssetWatcherState.h"

#include "AssetLibraryState.h"

#include <QorDraxelUtility.h>

#include <exception>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// The directory on disk that holds a host file, as text the notifier can watch.
std::string HostDirectoryOf(const std::string& p_file)
{
    const std::size_t slash = p_file.rfind(AssetPath::DirectorySeparator);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : p_file.substr(0, slash);
}

} // namespace

// ---- Mount table ----------------------------------------------------------------------------

// After the host mounted or unmounted: the archives are taken as they are now (a host that
// remounts an archive itself has read it now), and those gone from the disk serve nothing.
void AssetWatcher::State::RefreshMounts()
{
    revision = library->MountRevision();
    mounts.clear();
    archives.clear();
    skipped.clear();
    notifier->Clear();
    for (const AssetLibrary::MountedVolume& mount : library->Mounts()) {
        mounts.emplace(mount.source, mount);
        if (!mount.isArchive)
            continue;
        // An archive is replaced by a rename or rewritten in place: both show in its directory.
        WatchHost(HostDirectoryOf(mount.source.str()));
        const FileSignature signature = SignatureOf(mount.source.str());
        archives[mount.source.str()] = signature;
        if (signature.kind != FileSignature::Regular)
            skipped.insert(mount.source);
    }
}

void AssetWatcher::State::WatchHost(const std::string& p_directory)
{
    if (notifier->WatchDirectory(p_directory))
        return;
    // A watch refused for a directory that exists (the system's limit): notices can no
    // longer cover the tree, so polling takes over, starting with a rescan.
    Utility::GetLogger().dout("Assets") << "AssetWatcher: no more directory watches (" << p_directory
                                        << "); polling instead" << std::endl;
    notifier = WatchNotifier::Create(false, interval);
    rescanDue = true;
}

// Watches the directories on disk that a directory volume places at p_path.
void AssetWatcher::State::WatchBacking(const AssetPath& p_path)
{
    for (const auto& mount : mounts)
        if (!mount.second.isArchive && mount.second.target.IsParentOf(p_path))
            WatchHost((mount.second.source + p_path.RelativeTo(mount.second.target)).str());
}

// Watches each directory on disk between a directory volume's source and p_path, so that a
// watched path that does not exist yet is seen when it is made.
void AssetWatcher::State::WatchAncestors(const AssetPath& p_path)
{
    for (const auto& mount : mounts) {
        if (mount.second.isArchive || !mount.second.target.IsParentOf(p_path))
            continue;
        AssetPath host = mount.second.source;
        WatchHost(host.str());
        const std::string rest = p_path.RelativeTo(mount.second.target).str();
        for (std::size_t begin = 0; begin < rest.size();) {
            std::size_t end = rest.find(AssetPath::DirectorySeparator, begin);
            if (end == std::string::npos)
                end = rest.size();
            host = host + AssetPath(rest.substr(begin, end - begin));
            WatchHost(host.str());
            begin = end + 1;
        }
    }
}

// ---- Archives -------------------------------------------------------------------------------

void AssetWatcher::State::CheckArchives(const std::set<std::string>& p_names, bool p_force,
                                        std::set<AssetPath>& p_paths, std::set<AssetPath>& p_uncertain)
{
    for (const std::string& name : p_names) {
        const FileSignature signature = SignatureOf(name);
        FileSignature& known = archives[name];
        if (!p_force && signature == known)
            continue;
        known = signature;
        const AssetPath source(name);
        auto mount = mounts.find(source);
        if (mount == mounts.end())
            continue;
        bool serves = signature.kind == FileSignature::Regular;
        if (serves && remounting) {
            // A file that cannot be read now (half written, not an archive) serves nothing
            // until a later change makes it readable; the old volume stays mounted meanwhile.
            AssetLibrary::RemountResult result = AssetLibrary::RemountResult::Unreadable;
            try {
                result = remounting->Remount(source, nullptr);
            } catch (const std::exception&) {
                // Reading the new archive was reported through ensure, whose handler threw.
            }
            serves = result == AssetLibrary::RemountResult::Remounted;
            if (serves)
                revision = library->MountRevision();
        } else if (serves) {
            p_uncertain.insert(source);
        }
        if (serves)
            skipped.erase(source);
        else
            skipped.insert(source);
        AddWatched(mount->second.target, p_paths);
    }
}

void AssetWatcher::State::ReportUncertain(const std::set<AssetPath>& p_uncertain, std::vector<Change>& p_changes) const
{
    if (p_uncertain.empty())
        return;
    for (const auto& file : files)
        if (p_uncertain.count(file.second.source))
            p_changes.push_back(MakeChange(Change::MayHaveChanged, file.first));
}

void AssetWatcher::State::AddWatched(const AssetPath& p_path, std::set<AssetPath>& p_paths) const
{
    for (const AssetPath& root : roots) {
        if (root.IsParentOf(p_path))
            p_paths.insert(p_path);
        else if (p_path.IsParentOf(root))
            p_paths.insert(root);
    }
}

// ---- Notices --------------------------------------------------------------------------------

// The watched paths that a changed host path affects: its place in the tree when that
// lies below a watched path (then it is named too), or the watched paths below that place.
void AssetWatcher::State::Affected(const std::string& p_host, std::set<AssetPath>& p_paths, Named& p_named,
                                   std::set<std::string>& p_archives)
{
    // An archive named relative to the working directory is watched in ".".
    const std::string file = p_host.compare(0, 2, "./") == 0 ? p_host.substr(2) : p_host;
    if (archives.count(file))
        p_archives.insert(file);
    const AssetPath host(p_host);
    for (const auto& mount : mounts) {
        if (mount.second.isArchive || !mount.second.source.IsParentOf(host))
            continue;
        const AssetPath path = mount.second.target + host.RelativeTo(mount.second.source);
        for (const AssetPath& root : roots) {
            if (root.IsParentOf(path)) {
                p_paths.insert(path);
                p_named[path].insert(mount.first);
            } else if (path.IsParentOf(root))
                p_paths.insert(root);
        }
    }
}

void AssetWatcher::State::ApplyNotices(std::vector<Change>& p_changes)
{
    std::set<AssetPath> paths;
    Named named;
    std::set<std::string> changedArchives;
    for (const std::string& notice : notices)
        Affected(notice, paths, named, changedArchives);
    // An archive named by a notice is looked at also when its signature seems unchanged: a
    // rewrite of the same size within one tick of the file system's clock looks unchanged.
    std::set<AssetPath> uncertain;
    CheckArchives(changedArchives, true, paths, uncertain);
    // A path below another rescanned path is rescanned with it.
    std::set<AssetPath> outermost;
    for (const AssetPath& path : paths) {
        bool covered = false;
        for (AssetPath above = path; !covered && !above.str().empty();) {
            above = ParentOf(above);
            covered = paths.count(above) != 0;
        }
        if (!covered)
            outermost.insert(path);
    }
    Rescan(outermost, p_changes, named);
    ReportUncertain(uncertain, p_changes);
}

void AssetWatcher::State::RescanAll(std::vector<Change>& p_changes)
{
    std::set<std::string> names;
    for (const auto& archive : archives)
        names.insert(archive.first);
    std::set<AssetPath> paths;
    std::set<AssetPath> uncertain;
    CheckArchives(names, false, paths, uncertain);
    Rescan(std::set<AssetPath>(roots.begin(), roots.end()), p_changes);
    ReportUncertain(uncertain, p_changes);
}

// ---- The watcher ----------------------------------------------------------------------------

AssetWatcher::AssetWatcher(boost::shared_ptr<const AssetLibrary> p_library, Notification p_notification,
                           std::chrono::milliseconds p_pollingInterval)
    : _state(new State)
{
    _state->library = std::move(p_library);
    _state->interval = p_pollingInterval;
    // Natively, the library's notifier, shared with its kept indexes and other watchers.
    if (p_notification == Native)
        _state->notifier = _state->library->_state->SubscribeNotices();
    if (!_state->notifier)
        _state->notifier = WatchNotifier::Create(p_notification == Native, p_pollingInterval);
    _state->RefreshMounts();
}

AssetWatcher::AssetWatcher(boost::shared_ptr<AssetLibrary> p_library, ArchiveChanges p_archives,
                           Notification p_notification, std::chrono::milliseconds p_pollingInterval)
    : AssetWatcher(boost::shared_ptr<const AssetLibrary>(p_library), p_notification, p_pollingInterval)
{
    if (p_archives == RemountArchives)
        _state->remounting = std::move(p_library);
}

AssetWatcher::~AssetWatcher() = default;

void AssetWatcher::Watch(const AssetPath& p_path)
{
    State& state = *_state;
    if (state.library->MountRevision() != state.revision) {
        state.RefreshMounts();
        state.RescanAll(state.pending);
    }
    for (const AssetPath& root : state.roots)
        if (root.IsParentOf(p_path))
            return;
    // Watched paths below the new one give way to it; changes found there are real ones.
    std::vector<AssetPath> inside;
    for (auto root = state.roots.begin(); root != state.roots.end();) {
        if (p_path.IsParentOf(*root)) {
            inside.push_back(*root);
            root = state.roots.erase(root);
        } else {
            ++root;
        }
    }
    state.roots.push_back(p_path);
    std::vector<Change> changes;
    state.Rescan(std::set<AssetPath>{p_path}, changes);
    for (Change& change : changes)
        for (const AssetPath& root : inside)
            if (root.IsParentOf(change.path)) {
                state.pending.push_back(std::move(change));
                break;
            }
}

std::vector<AssetWatcher::Change> AssetWatcher::Poll()
{
    State& state = *_state;
    std::vector<Change> changes;
    changes.swap(state.pending);
    if (state.library->MountRevision() != state.revision) {
        state.RefreshMounts();
        state.RescanAll(changes);
        return changes;
    }
    state.notices.clear();
    const WatchNotifier::Outcome outcome = state.notifier->Take(state.notices);
    if (outcome == WatchNotifier::Quiet && !state.rescanDue)
        return changes;
    if (outcome == WatchNotifier::Overflow)
        for (const AssetPath& root : state.roots)
            changes.push_back(MakeChange(Change::MayHaveChanged, root));
    if (outcome == WatchNotifier::Changed)
        state.ApplyNotices(changes);
    else if (outcome != WatchNotifier::Quiet)
        state.rescanDue = true;
    // A rescan may itself find the watch limit and turn to polling, which asks for another.
    while (state.rescanDue) {
        state.rescanDue = false;
        state.RescanAll(changes);
    }
    return changes;
}

const char* AssetWatcher::KindName(Change::Kind p_kind)
{
    switch (p_kind) {
    case Change::Created:
        return "created";
    case Change::Modified:
        return "modified";
    case Change::Removed:
        return "removed";
    case Change::SourceChanged:
        return "source changed";
    case Change::MayHaveChanged:
        return "may have changed";
    }
    return "changed";
}

bool AssetWatcher::IsNative() const
{
    return _state->notifier->Native();
}

std::size_t AssetWatcher::WatchedFiles() const
{
    return _state->files.size();
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
