#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavo {

using UserInfo = std::map<std::string, std::any>;

struct Notification {
    std::string name;
    UserInfo userInfo;
};

// The text under key, or none when the key is missing or holds no text.
inline const std::string* userInfoText(const UserInfo& info, const std::string& key) {
    const auto it = info.find(key);
    return it == info.end() ? nullptr : std::any_cast<std::string>(&it->second);
}

// Named in-process notifications, delivered synchronously on the posting
// thread to every observer of that name, in the order they were added. An
// observer may add or remove observers, or post, from inside its callback.
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = std::uint64_t;

    static NotificationCenter& defaultCenter();

    // An empty name observes every notification.
    Token addObserver(const std::string& name, Observer observer);
    // After this returns, the observer is not called by later posts, nor by
    // the rest of a post in progress that has not reached it yet.
    void removeObserver(Token token);
    void post(const std::string& name, UserInfo userInfo = {});

private:
    struct Registration;
    struct Entry {
        Token token;
        std::string name;
        std::shared_ptr<Registration> registration;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token next_ = 1;
};

}  // namespace tavo
