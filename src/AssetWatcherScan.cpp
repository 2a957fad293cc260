// The watcher's scanning: the library's answer for watched paths, by listing or by one lookup,
// compared with the snapshot to report what changed.
#include "AssetWatcherState.h"

#include <algorithm>
#include <cstring>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

std::string NameOf(const AssetPath& p_path)
{
    const std::string text = p_path.str();
    const std::size_t slash = text.rfind(AssetPath::DirectorySeparator);
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

const std::set<AssetPath>* Touched(const Named& p_named, const AssetPath& p_path)
{
    auto touched = p_named.find(p_path);
    return touched == p_named.end() ? nullptr : &touched->second;
}

} // namespace

AssetPath ParentOf(const AssetPath& p_path)
{
    const std::string text = p_path.str();
    const std::size_t slash = text.rfind(AssetPath::DirectorySeparator);
    return AssetPath(slash == std::string::npos ? std::string() : text.substr(0, slash));
}

AssetWatcher::Change MakeChange(AssetWatcher::Change::Kind p_kind, const AssetPath& p_path, const WatchedFile* p_file)
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

// A directory volume's file by its path on disk; an archive's entry by the lookup that names it.
FileSignature AssetWatcher::State::SignatureFor(const AssetLibrary::Child& p_child) const
{
    auto mount = mounts.find(p_child.source);
    if (mount == mounts.end())
        return FileSignature();
    if (!mount->second.isArchive)
        return SignatureOf((mount->second.source + p_child.path.RelativeTo(mount->second.target)).str());
    const AssetLibrary::Location location = library->Locate(p_child.path, &skipped);
    return location.kind == AssetLibrary::Location::File && location.isArchive ? EntrySignature(location.entry)
                                                                               : FileSignature();
}

// The files at and below one child of the merged tree. A directory is watched before it
// is listed, so that nothing made in between goes unnoticed.
void AssetWatcher::State::Collect(const AssetLibrary::Child& p_child, Snapshot& p_into)
{
    if (!p_child.isDirectory) {
        p_into[p_child.path] = WatchedFile{p_child.source, p_child.priority, SignatureFor(p_child)};
        return;
    }
    CollectDirectory(p_child.path, p_into);
}

void AssetWatcher::State::CollectDirectory(const AssetPath& p_directory, Snapshot& p_into)
{
    WatchBacking(p_directory);
    for (const AssetLibrary::Child& child : library->Children(p_directory, &skipped))
        Collect(child, p_into);
}

// Rescans the given paths (none below another), each with what lies below it. The
// children of a parent are listed once for all its rescanned paths. A file that a notice
// named on the volume that serves it (p_named: path -> sources) is reported as modified
// even when its signature did not change: a rewrite of the same size within one tick of
// the file system's clock looks unchanged.
void AssetWatcher::State::Rescan(const std::set<AssetPath>& p_paths, std::vector<Change>& p_changes,
                                 const Named& p_named)
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
            if (BehindAFile(path) || ResolveFile(path, found))
                Replace(path, found, p_changes, Touched(p_named, path));
            else
                unresolved.push_back(path);
        }
        if (unresolved.empty())
            continue;
        std::map<std::string, const AssetLibrary::Child*> byName;
        const std::vector<AssetLibrary::Child> children = library->Children(group.first, &skipped);
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

// Whether a file of the tree stands at a directory between the watched path above p_path and
// p_path. The listing never goes below a file, so nothing there is watched, whatever a lookup
// of p_path finds in a volume of lower priority (a file b of one volume hides b/c of another).
bool AssetWatcher::State::BehindAFile(const AssetPath& p_path) const
{
    for (AssetPath above = p_path; !above.str().empty();) {
        above = ParentOf(above);
        if (std::none_of(roots.begin(), roots.end(), [&](const AssetPath& p_root) { return p_root.IsParentOf(above); }))
            return false;
        if (library->Locate(above, &skipped).kind == AssetLibrary::Location::File)
            return true;
    }
    return false;
}

// The library's answer for one path without listing its siblings (a change costs a lookup
// then, however large its directory). A file is put into p_into; nothing there leaves
// p_into empty. A directory, or anything on disk that is no regular file, leaves the answer
// to the listing: false.
bool AssetWatcher::State::ResolveFile(const AssetPath& p_path, Snapshot& p_into) const
{
    const AssetLibrary::Location location = library->Locate(p_path, &skipped);
    if (location.kind == AssetLibrary::Location::Absent)
        return true;
    if (location.kind == AssetLibrary::Location::Directory)
        return false;
    if (location.isArchive) {
        p_into[p_path] = WatchedFile{location.source, location.priority, EntrySignature(location.entry)};
        return true;
    }
    const FileSignature signature = SignatureOf(location.hostPath);
    if (signature.kind != FileSignature::Regular)
        return false;
    p_into[p_path] = WatchedFile{location.source, location.priority, signature};
    return true;
}

// Puts p_found in place of the files at and below p_path, reporting the differences;
// a file at p_path itself that one of the sources p_touched serves counts as modified.
void AssetWatcher::State::Replace(const AssetPath& p_path, Snapshot& p_found, std::vector<Change>& p_changes,
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

} // namespace Assets
} // namespace Draxel
} // namespace Qor
