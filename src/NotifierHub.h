// NotifierHub: the one immediate notifier of a library (on Linux one inotify descriptor),
// shared by everything of that library that reads notices: its kept directory indexes
// (IndexedTree) and its watchers (AssetWatcher).
//
// Each consumer holds a subscription (Subscribe), a WatchNotifier of its own. It asks for its
// directories, and its Take hands it every notice about them, whichever subscription read
// the system's queue first: a read hands each path to every subscription that asked for the
// directory whose notice named it, or for the path itself, and lost notices (a full queue, a
// failed read) reach every subscription as Overflow. A subscription that does not take its
// notices for long loses them as the system's queue would: past PendingLimit paths it is told
// Overflow instead. Reading the queue never waits, so a subscription's Take still tells the
// disk as it is at the moment of the call.
//
// Watches are counted per directory: a directory stays watched while any subscription asks
// for it, and the last one to forget it (Clear, or its end) removes the watch, so that the
// system's watch limit counts only what is wanted and nobody's notices are read for nothing.
// A directory whose watch the notices ended (it went, or moved away) counts as asked for by
// nobody, as a notifier of one's own would no longer watch it: a consumer asks again.
//
// Ownership: the library's state finds its hub through a weak pointer and every subscription
// holds a share of it, so the hub (with its descriptor) outlives its last subscription and
// closes with it; a library with neither a kept index nor a native watcher keeps no
// descriptor open. A watcher keeps its library alive, an index lives in its library: neither
// outlives the library, and none depends on that. One lock guards the notifier and every
// subscription's notices: each subscription is used by one thread at a time (its owner's),
// different subscriptions from any threads.
#pragma once

#include "WatchNotifier.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

class NotifierHub : public std::enable_shared_from_this<NotifierHub> {
public:
    // The most paths a subscription keeps for its next Take; more make it Overflow.
    static constexpr std::size_t PendingLimit = 1u << 16;

    // Null where no immediate notifier starts (other platforms, a refused descriptor).
    static std::shared_ptr<NotifierHub> Create();
    ~NotifierHub();

    // A notifier for one consumer, native, with no directory asked for yet.
    std::unique_ptr<WatchNotifier> Subscribe();

private:
    class Subscription;
    struct Subscriber {
        std::unordered_set<std::string> directories; // asked for
        std::vector<std::string> pending;            // paths not yet taken
        bool lost = false;                           // notices were lost since the last Take
    };

    explicit NotifierHub(std::unique_ptr<ImmediateNotifier> p_native);

    // Reads the system's queue and hands what it held to every subscriber. Under _lock.
    void Drain();
    // Forgets what p_subscriber asked for, removing the watches nobody else wants. Under _lock.
    void Release(Subscriber& p_subscriber);
    // One subscriber less asks for p_directory; the last one removes the watch. Under _lock.
    void Unwant(const std::string& p_directory);

    std::mutex _lock;
    const std::unique_ptr<ImmediateNotifier> _native;
    std::unordered_map<std::string, std::size_t> _wanted; // directory -> subscribers asking
    std::vector<Subscriber*> _subscribers;
    std::vector<std::string> _paths, _directories, _dropped; // one read, kept to reuse their memory
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
