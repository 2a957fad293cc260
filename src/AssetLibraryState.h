// The mount table's private state, shared by its mounting and lookup (AssetLibrary.cpp) and
// its listing (AssetLibraryListing.cpp): the priority groups, the record of mounted sources,
// the one rule that decides which volume answers for a path, and the way to the library's
// shared notifier.
#pragma once

#include <Assets/AssetLibrary.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {

class NotifierHub;
class WatchNotifier;

struct AssetLibrary::State {
    // One mounted volume with what the table knows of its mount.
    struct Mounted {
        boost::shared_ptr<AssetVolume> volume;
        // The source as the host named it, for the log lines of a remount.
        qorfile::filepath hostSource;
        // The normalised source that tells mounts apart.
        AssetPath source;
        unsigned int priority = 0;
        bool isArchive = false;
        // The scramble key the archive was mounted with, for a remount.
        std::string key;
        // A directory answered from a kept index.
        bool indexed = false;
    };

    // Which volume answers for one path, by the search order of Exists and Open. The caller hands
    // it the volumes in search order until Visit says the search is over.
    struct Decision {
        using Found = AssetVolume::Found;

        // The first volume that makes the path exist: a volume mounted at or below the path, or one
        // that has something there.
        const Mounted* exists = nullptr;
        // The volume Open asks: the first whose mount point lies at or above the path and that has
        // something there; and what it has.
        const Mounted* serving = nullptr;
        Found found;

        // One volume; p_probe(mount) gives what it has at p_path, and is called only for a volume
        // mounted at or above p_path. True when the search is over: Open's volume is found, or for
        // p_existsOnly anything that makes the path exist.
        template <class Probe>
        bool Visit(const Mounted& p_mount, const AssetPath& p_path, bool p_existsOnly, Probe&& p_probe)
        {
            const AssetPath& target = p_mount.volume->_target;
            if (p_path.IsParentOf(target)) {
                if (!exists)
                    exists = &p_mount;
                if (p_existsOnly)
                    return true;
            }
            if (!target.IsParentOf(p_path))
                return false;
            found = p_probe(p_mount);
            if (found.kind == Found::Absent)
                return false;
            if (!exists)
                exists = &p_mount;
            serving = &p_mount;
            return true;
        }

        // A file exactly when Open hands out the serving volume's file; a directory for everything
        // else that exists.
        Found::Kind Kind() const { return serving ? found.kind : exists ? Found::Directory : Found::Absent; }
        // The volume that wins the path: for a file the one Open reads, for a directory the first
        // that makes it exist.
        const Mounted* Winner() const { return Kind() == Found::File ? serving : exists; }
    };

    // Sources in byte order within one priority.
    using PriorityGroup = std::map<AssetPath, Mounted>;

    std::map<unsigned int, PriorityGroup, std::greater<unsigned int>> volumes;
    std::map<AssetPath, unsigned int> priorities;
    unsigned long long revision = 0;

    // A subscription to the library's one notifier (NotifierHub), made when the first
    // consumer asks and closed with the last: for the kept indexes and the native watchers.
    // Null where no immediate notifier starts; the consumer then does as it would alone.
    // Any thread may ask (watchers are made while other threads read the library).
    std::unique_ptr<WatchNotifier> SubscribeNotices() const;
    mutable std::mutex hubLock;
    mutable std::weak_ptr<NotifierHub> hub; // owned by the subscriptions

    // The one search: the volumes in search order, those in p_skipped left out, until the
    // decision is made.
    template <class Probe>
    Decision Search(const AssetPath& p_path, bool p_existsOnly, const std::set<AssetPath>* p_skipped,
                    Probe&& p_probe) const
    {
        Decision decision;
        for (const auto& group : volumes) {
            for (const auto& mounted : group.second) {
                if (p_skipped && p_skipped->count(mounted.first))
                    continue;
                if (decision.Visit(mounted.second, p_path, p_existsOnly, p_probe))
                    return decision;
            }
        }
        return decision;
    }

    Decision Search(const AssetPath& p_path, bool p_existsOnly, const std::set<AssetPath>* p_skipped = nullptr) const
    {
        return Search(p_path, p_existsOnly, p_skipped,
                      [&](const Mounted& p_mount) { return p_mount.volume->Find(p_path); });
    }

    // Steps shared by both mount operations once their preconditions are reported: the group
    // first, then the volume (an exception while it is read leaves the source unrecorded).
    template <class MakeVolume>
    void Mount(Mounted p_mounted, MakeVolume p_make)
    {
        PriorityGroup& group = volumes[p_mounted.priority];
        p_mounted.volume = p_make();
        const AssetPath source = p_mounted.source;
        const unsigned int priority = p_mounted.priority;
        group.emplace(source, std::move(p_mounted));
        priorities.emplace(source, priority);
        ++revision;
    }

    Mounted* Lookup(const AssetPath& p_source)
    {
        return const_cast<Mounted*>(static_cast<const State&>(*this).Lookup(p_source));
    }

    const Mounted* Lookup(const AssetPath& p_source) const
    {
        auto priority = priorities.find(p_source);
        if (priority == priorities.end())
            return nullptr;
        auto group = volumes.find(priority->second);
        if (group == volumes.end())
            return nullptr;
        auto mounted = group->second.find(p_source);
        return mounted == group->second.end() ? nullptr : &mounted->second;
    }
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
