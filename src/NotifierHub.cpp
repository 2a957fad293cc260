// The shared notifier of a library: subscriptions, watches counted per directory, and the
// notices of one read handed to every subscription they concern.
#include "NotifierHub.h"

#include <algorithm>

namespace Qor {
namespace Draxel {
namespace Assets {

// One consumer's view of the hub. Every call takes the hub's lock: another consumer's Take
// may be handing this one its notices at the same time.
class NotifierHub::Subscription : public WatchNotifier {
public:
    explicit Subscription(std::shared_ptr<NotifierHub> p_hub) : _hub(std::move(p_hub))
    {
        const std::lock_guard<std::mutex> lock(_hub->_lock);
        _hub->_subscribers.push_back(&_subscriber);
    }

    ~Subscription() override
    {
        const std::lock_guard<std::mutex> lock(_hub->_lock);
        _hub->Release(_subscriber);
        auto& subscribers = _hub->_subscribers;
        subscribers.erase(std::remove(subscribers.begin(), subscribers.end(), &_subscriber), subscribers.end());
    }

    bool Native() const override { return true; }

    bool WatchDirectory(const std::string& p_directory) override
    {
        const std::lock_guard<std::mutex> lock(_hub->_lock);
        if (_subscriber.directories.insert(p_directory).second)
            ++_hub->_wanted[p_directory];
        // Asked of the notifier every time, as a notifier of one's own would be: the
        // directory at this path may be another one than the one watched under it before.
        return _hub->_native->WatchDirectory(p_directory);
    }

    bool Watching(const std::string& p_directory) const override
    {
        const std::lock_guard<std::mutex> lock(_hub->_lock);
        return _subscriber.directories.count(p_directory) && _hub->_native->Watching(p_directory);
    }

    bool Complete(const std::string& p_directory) const override { return _hub->_native->Complete(p_directory); }

    // The notices still pending concern what was watched before: a consumer that forgets
    // its directories reads them afresh.
    void Clear() override
    {
        const std::lock_guard<std::mutex> lock(_hub->_lock);
        _hub->Release(_subscriber);
        _subscriber.pending.clear();
    }

    Outcome Take(std::vector<std::string>& p_paths) override
    {
        const std::lock_guard<std::mutex> lock(_hub->_lock);
        _hub->Drain();
        const bool changed = !_subscriber.pending.empty();
        p_paths.insert(p_paths.end(), std::make_move_iterator(_subscriber.pending.begin()),
                       std::make_move_iterator(_subscriber.pending.end()));
        _subscriber.pending.clear();
        if (_subscriber.lost) {
            _subscriber.lost = false;
            return Overflow;
        }
        return changed ? Changed : Quiet;
    }

private:
    const std::shared_ptr<NotifierHub> _hub;
    Subscriber _subscriber;
};

std::shared_ptr<NotifierHub> NotifierHub::Create()
{
    std::unique_ptr<ImmediateNotifier> native = CreateImmediateNotifier();
    if (!native)
        return nullptr;
    return std::shared_ptr<NotifierHub>(new NotifierHub(std::move(native)));
}

NotifierHub::NotifierHub(std::unique_ptr<ImmediateNotifier> p_native) : _native(std::move(p_native)) {}

NotifierHub::~NotifierHub() = default;

std::unique_ptr<WatchNotifier> NotifierHub::Subscribe()
{
    return std::unique_ptr<WatchNotifier>(new Subscription(shared_from_this()));
}

void NotifierHub::Drain()
{
    _paths.clear();
    _directories.clear();
    _dropped.clear();
    const WatchNotifier::Outcome outcome = _native->TakeFrom(_paths, _directories, _dropped);
    if (outcome == WatchNotifier::Quiet)
        return;
    if (outcome != WatchNotifier::Changed)
        for (Subscriber* subscriber : _subscribers)
            subscriber->lost = true;
    // A subscriber hears of a path when it asked for the directory the notice came from (as
    // its own notifier would have told it), or for the path itself: a directory of its own
    // moved or deleted from below another consumer's directory.
    for (std::size_t notice = 0; notice < _paths.size(); ++notice) {
        for (Subscriber* subscriber : _subscribers) {
            if (subscriber->lost || (!subscriber->directories.count(_directories[notice]) &&
                                     !subscriber->directories.count(_paths[notice])))
                continue;
            if (subscriber->pending.size() < PendingLimit) {
                subscriber->pending.push_back(_paths[notice]);
            } else {
                subscriber->pending.clear();
                subscriber->lost = true;
            }
        }
    }
    // Only once the last notices of a dropped directory are handed out.
    for (const std::string& directory : _dropped) {
        for (Subscriber* subscriber : _subscribers)
            if (subscriber->directories.erase(directory))
                Unwant(directory);
    }
}

void NotifierHub::Unwant(const std::string& p_directory)
{
    auto wanted = _wanted.find(p_directory);
    if (wanted == _wanted.end() || --wanted->second != 0)
        return;
    _wanted.erase(wanted);
    _native->Unwatch(p_directory);
}

void NotifierHub::Release(Subscriber& p_subscriber)
{
    for (const std::string& directory : p_subscriber.directories)
        Unwant(directory);
    p_subscriber.directories.clear();
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
