#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace tavo {

struct NotificationCenter::Registration {
    explicit Registration(Observer o) : observer(std::move(o)) {}
    Observer observer;
    std::atomic<bool> removed{false};
};

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may still post while the program exits.
    static NotificationCenter* center = new NotificationCenter();
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name,
                                                          Observer observer) {
    if (!observer)
        return 0;
    auto registration = std::make_shared<Registration>(std::move(observer));
    std::lock_guard lock(mutex_);
    const Token token = next_++;
    entries_.push_back(Entry{token, name, std::move(registration)});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::shared_ptr<Registration> removed;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [token](const Entry& e) { return e.token == token; });
        if (it == entries_.end())
            return;
        removed = std::move(it->registration);
        entries_.erase(it);
        removed->removed.store(true);
    }
    // `removed` is released here, outside the lock: a post in progress may
    // still hold the registration, which then goes with it.
}

void NotificationCenter::post(const std::string& name, UserInfo userInfo) {
    std::vector<std::shared_ptr<Registration>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const Entry& e : entries_) {
            if (e.name.empty() || e.name == name)
                targets.push_back(e.registration);
        }
    }
    const Notification notification{name, std::move(userInfo)};
    for (const auto& target : targets) {
        if (!target->removed.load())
            target->observer(notification);
    }
}

}  // namespace tavo
