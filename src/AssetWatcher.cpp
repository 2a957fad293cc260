// The watcher: a snapshot of the watched files of a library (who serves each, and the
// signature of what it serves), brought up to date path by path from the notifier's notices,
// or wholly after a remount, a lost notice or a polling interval.
#include <Assets/AssetWatcher.h>

#include "WatchNotifier.h"

#include <QorDraxelUtility.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

// One watched file as the library serves it.
struct WatchedFile {
    AssetPath source;
    unsigned int priority;
    // The file's signature for a directory volume; the archive file's for an archive volume.
    FileSignature signature;
};

using Snapshot = std::map<AssetPath, WatchedFile>;
// Paths of the tree that notices named, each with the sources of the volumes that place the
// named host file there.
using Named = std::map<AssetPath, std::set<AssetPath>>;

AssetPath ParentOf(const AssetPath& p_path)
{
    const std::string text = p_path.str();
    const std::size_t slash = text.rfind(AssetPath::DirectorySeparator);
    return AssetPath(slash == std::string::npos ? std::string() : text.substr(0, slash));
}

// The directory on disk that holds a host file, as text the notifier can watch.
std::string HostDirectoryOf(const std::string& p_file)
{
    const std::size_t slash = p_file.rfind(AssetPath::DirectorySeparator);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : p_file.substr(0, slash);
}

std::string NameOf(const AssetPath& p_path)
{
    const std::string text = p_path.str();
    const std::size_t slash = text.rfind(AssetPath::DirectorySeparator);
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

AssetWatcher::Change MakeChange(AssetWatcher::Change::Kind p_kind, const AssetPath& p_path,
                                const WatchedFile* p_file = nullptr)
{
    AssetWatcher::Change change;
    change.kind = p_kind;
    change.path = p_path;
    if (p_file) {
        change.source = p_file->source;
        change.priority = p_file->priority;
    }
    return change;
}

} // namespace

struct AssetWatcher::State {
    boost::shared_ptr<const AssetLibrary> library;
    std::chrono::milliseconds interval;
    std::unique_ptr<WatchNotifier> notifier;

    // The mount table as of revision, by source and in search order.
    unsigned long long revision = 0;
    std::map<AssetPath, AssetLibrary::MountedVolume> mounts;
    std::vector<AssetLibrary::MountedVolume> order;
    // The signatures of the mounted archive files, by their host text (the source's).
    std::unordered_map<std::string, FileSignature> archives;

    // Watched paths, none below another.
    std::vector<AssetPath> roots;
    Snapshot files;
    // Changes found by Watch, handed out by the next Poll.
    std::vector<Change> pending;
    // Notices may have been missed without an overflow (the notifier was replaced).
    bool rescanDue = false;
    std::vector<std::string> notices;

    // ---- Mount table --------------------------------------------------------------------

    void Remount()
    {
        revision = library->MountRevision();
        order = library->Mounts();
        mounts.clear();
        archives.clear();
        notifier->Clear();
        for (const AssetLibrary::MountedVolume& mount : order) {
            mounts.emplace(mount.source, mount);
            if (!mount.isArchive)
                continue;
            // An archive is replaced by a rename or rewritten in place: both show in its directory.
            WatchHost(HostDirectoryOf(mount.source.str()));
            archives[mount.source.str()] = SignatureOf(mount.source.str());
        }
    }

    void WatchHost(const std::string& p_directory)
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
    void WatchBacking(const AssetPath& p_path)
    {
        for (const auto& mount : mounts)
            if (!mount.second.isArchive && mount.second.target.IsParentOf(p_path))
                WatchHost((mount.second.source + p_path.RelativeTo(mount.second.target)).str());
    }

    // Watches each directory on disk between a directory volume's source and p_path, so that a
    // watched path that does not exist yet is seen when it is made.
    void WatchAncestors(const AssetPath& p_path)
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

    // ---- Scanning -----------------------------------------------------------------------

    FileSignature SignatureFor(const AssetPath& p_source, const AssetPath& p_path) const
    {
        auto mount = mounts.find(p_source);
        if (mount == mounts.end())
            return FileSignature();
        if (mount->second.isArchive) {
            auto archive = archives.find(p_source.str());
            return archive == archives.end() ? FileSignature() : archive->second;
        }
        return SignatureOf((mount->second.source + p_path.RelativeTo(mount->second.target)).str());
    }

    // The files at and below one child of the merged tree. A directory is watched before it
    // is listed, so that nothing made in between goes unnoticed.
    void Collect(const AssetLibrary::Child& p_child, Snapshot& p_into)
    {
        if (!p_child.isDirectory) {
            p_into[p_child.path] =
                WatchedFile{p_child.source, p_child.priority, SignatureFor(p_child.source, p_child.path)};
            return;
        }
        CollectDirectory(p_child.path, p_into);
    }

    void CollectDirectory(const AssetPath& p_directory, Snapshot& p_into)
    {
        WatchBacking(p_directory);
        for (const AssetLibrary::Child& child : library->Children(p_directory))
            Collect(child, p_into);
    }

    // Rescans the given paths (none below another), each with what lies below it. The
    // children of a parent are listed once for all its rescanned paths. A file that a notice
    // named on the volume that serves it (p_named: path -> sources) is reported as modified
    // even when its signature did not change: a rewrite of the same size within one tick of
    // the file system's clock looks unchanged.
    void Rescan(const std::set<AssetPath>& p_paths, std::vector<Change>& p_changes, const Named& p_named = Named())
    {
        std::map<AssetPath, std::vector<AssetPath>> byParent;
        for (const AssetPath& path : p_paths) {
            if (std::find(roots.begin(), roots.end(), path) != roots.end())
                WatchAncestors(path);
            if (path.str().empty()) {
                Snapshot found;
                CollectDirectory(path, found);
                Replace(path, found, p_changes, nullptr);
            } else {
                byParent[ParentOf(path)].push_back(path);
            }
        }
        for (const auto& group : byParent) {
            std::vector<AssetPath> unresolved;
            for (const AssetPath& path : group.second) {
                Snapshot found;
                if (ResolveFile(path, found))
                    Replace(path, found, p_changes, Touched(p_named, path));
                else
                    unresolved.push_back(path);
            }
            if (unresolved.empty())
                continue;
            std::map<std::string, const AssetLibrary::Child*> byName;
            const std::vector<AssetLibrary::Child> children = library->Children(group.first);
            for (const AssetLibrary::Child& child : children)
                byName.emplace(child.name, &child);
            for (const AssetPath& path : unresolved) {
                Snapshot found;
                auto child = byName.find(NameOf(path));
                if (child != byName.end())
                    Collect(*child->second, found);
                Replace(path, found, p_changes, Touched(p_named, path));
            }
        }
    }

    static const std::set<AssetPath>* Touched(const Named& p_named, const AssetPath& p_path)
    {
        auto touched = p_named.find(p_path);
        return touched == p_named.end() ? nullptr : &touched->second;
    }

    // The library's answer for one path without listing its siblings (a change costs a lookup
    // then, however large its directory). A file is put into p_into; nothing there leaves
    // p_into empty. A directory, or anything on disk that is no regular file, leaves the answer
    // to the listing: false.
    bool ResolveFile(const AssetPath& p_path, Snapshot& p_into) const
    {
        const AssetLibrary::Location location = library->Locate(p_path);
        if (location.kind == AssetLibrary::Location::Absent)
            return true;
        if (location.kind == AssetLibrary::Location::Directory)
            return false;
        if (location.isArchive) {
            p_into[p_path] = WatchedFile{location.source, location.priority, SignatureFor(location.source, p_path)};
            return true;
        }
        const FileSignature signature = SignatureOf(location.hostPath);
        if (signature.kind != FileSignature::Regular)
            return false;
        p_into[p_path] = WatchedFile{location.source, location.priority, signature};
        return true;
    }

    void RescanAll(std::vector<Change>& p_changes)
    {
        for (auto& archive : archives)
            archive.second = SignatureOf(archive.first);
        Rescan(std::set<AssetPath>(roots.begin(), roots.end()), p_changes);
    }

    // Puts p_found in place of the files at and below p_path, reporting the differences;
    // a file at p_path itself that one of the sources p_touched serves counts as modified.
    void Replace(const AssetPath& p_path, Snapshot& p_found, std::vector<Change>& p_changes,
                 const std::set<AssetPath>* p_touched)
    {
        const std::string prefix = p_path.str();
        auto found = p_found.begin();
        auto old = files.lower_bound(p_path);
        // Paths below p_path share its text as a prefix and so stand together in byte order,
        // with siblings such as "a.txt" beside "a" among them.
        while (old != files.end() && std::strncmp(old->first, prefix.c_str(), prefix.size()) == 0) {
            if (!p_path.IsParentOf(old->first)) {
                ++old;
                continue;
            }
            while (found != p_found.end() && found->first < old->first) {
                p_changes.push_back(MakeChange(Change::Created, found->first, &found->second));
                files.insert(old, *found);
                ++found;
            }
            if (found != p_found.end() && found->first == old->first) {
                if (!(found->second.source == old->second.source))
                    p_changes.push_back(MakeChange(Change::SourceChanged, found->first, &found->second));
                else if (found->second.signature != old->second.signature ||
                         (p_touched && found->first == p_path && p_touched->count(found->second.source)))
                    p_changes.push_back(MakeChange(Change::Modified, found->first, &found->second));
                old->second = found->second;
                ++found;
                ++old;
            } else {
                p_changes.push_back(MakeChange(Change::Removed, old->first));
                old = files.erase(old);
            }
        }
        for (; found != p_found.end(); ++found) {
            p_changes.push_back(MakeChange(Change::Created, found->first, &found->second));
            files.insert(*found);
        }
    }

    // ---- Notices ------------------------------------------------------------------------

    // The watched paths that a changed host path affects: its place in the tree when that
    // lies below a watched path (then it is named too), or the watched paths below that place.
    void Affected(const std::string& p_host, std::set<AssetPath>& p_paths, Named& p_named,
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

    // The archive files that notices named: every file they serve is reported (also when
    // the signature looks the same, as for a file named by a notice).
    void RecheckArchives(const std::set<std::string>& p_archives, std::vector<Change>& p_changes)
    {
        for (const std::string& name : p_archives) {
            const FileSignature signature = SignatureOf(name);
            archives[name] = signature;
            const AssetPath source(name);
            for (auto& file : files) {
                if (!(file.second.source == source))
                    continue;
                file.second.signature = signature;
                p_changes.push_back(MakeChange(Change::Modified, file.first, &file.second));
            }
        }
    }

    void ApplyNotices(std::vector<Change>& p_changes)
    {
        std::set<AssetPath> paths;
        Named named;
        std::set<std::string> changedArchives;
        for (const std::string& notice : notices)
            Affected(notice, paths, named, changedArchives);
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
        RecheckArchives(changedArchives, p_changes);
        Rescan(outermost, p_changes, named);
    }
};

AssetWatcher::AssetWatcher(boost::shared_ptr<const AssetLibrary> p_library, Notification p_notification,
                           std::chrono::milliseconds p_pollingInterval)
    : _state(new State)
{
    _state->library = std::move(p_library);
    _state->interval = p_pollingInterval;
    _state->notifier = WatchNotifier::Create(p_notification == Native, p_pollingInterval);
    _state->Remount();
}

AssetWatcher::~AssetWatcher() = default;

void AssetWatcher::Watch(const AssetPath& p_path)
{
    State& state = *_state;
    if (state.library->MountRevision() != state.revision) {
        state.Remount();
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
        state.Remount();
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
    case Change::Created: return "created";
    case Change::Modified: return "modified";
    case Change::Removed: return "removed";
    case Change::SourceChanged: return "source changed";
    case Change::MayHaveChanged: return "may have changed";
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
