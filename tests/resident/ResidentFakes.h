#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "platform/FontManager.h"
#include "platform/PowerEvents.h"
#include "platform/StatusItem.h"
#include "platform/UserNotificationCenter.h"
#include "platform/Workspace.h"

namespace tavo::test {

// What a controller asked of the others it is linked to, in order, as
// "operation argument" texts. Any thread.
class CallLog {
public:
    void add(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    // A link that records name (with its argument, if any).
    template <typename... Args>
    std::function<void(Args...)> recorder(const std::string& name) {
        return [this, name](Args... args) {
            std::string call = name;
            ((call += " " + text(args)), ...);
            add(call);
        };
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t count(const std::string& call) const {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), call));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

private:
    static std::string text(int value) { return std::to_string(value); }
    static std::string text(bool value) { return value ? "true" : "false"; }
    static std::string text(const std::string& value) { return value; }
    static std::string text(const char* value) { return value; }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

// A clock whose wall time stands still until the test moves it, whose pauses
// take no time and whose timers never come due within a test.
class FrozenClock : public Clock {
public:
    FrozenClock() : now_(std::chrono::system_clock::now()) {}
    SystemTime systemNow() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void setNow(SystemTime now) {
        std::lock_guard lock(mutex_);
        now_ = now;
    }
    void sleepFor(Duration) override {}
    Duration realDelay(Duration) const override { return std::chrono::hours(24 * 365); }

private:
    mutable std::mutex mutex_;
    SystemTime now_;
};

class RecordingStatusItem : public platform::StatusItem {
public:
    void setDelegate(Delegate delegate) override { this->delegate = std::move(delegate); }
    void setTitle(const std::string& title) override { this->title = title; }
    void setImage(const std::string& name) override { images.push_back(name); }
    std::string image() const override { return images.empty() ? "" : images.back(); }
    void setEnabled(bool enabled) override { enabledChanges.push_back(enabled); }
    void setItemTitle(int tag, const std::string& title) override { itemTitles[tag] = title; }
    void setItemHidden(int tag, bool hidden) override { hiddenItems[tag] = hidden; }
    void setItemEnabled(int tag, bool enabled) override { enabledItems[tag] = enabled; }
    void setItemImage(int tag, const std::string& name) override { itemImages[tag] = name; }

    std::string title;
    std::vector<std::string> images;
    std::vector<bool> enabledChanges;
    std::map<int, std::string> itemTitles;
    std::map<int, bool> hiddenItems;
    std::map<int, bool> enabledItems;
    std::map<int, std::string> itemImages;
    Delegate delegate;
};

class RecordingWindows : public platform::Windows {
public:
    void showSignInWindow() override { ++signInWindows; }
    void runModalAlert(const std::string& message, const std::string&) override {
        alerts.push_back(message);
    }
    int runModalConfirm(const std::string& message, const std::string&) override {
        confirmations.push_back(message);
        return confirmAnswer;
    }
    int signInWindows = 0;
    std::vector<std::string> alerts;
    std::vector<std::string> confirmations;
    int confirmAnswer = platform::kDialogResultCode;
};

class FakeWorkspace : public platform::Workspace {
public:
    std::vector<platform::RunningApplication> runningApplications() override {
        std::lock_guard lock(mutex);
        return applications;
    }
    bool openURL(const std::string& url) override {
        std::lock_guard lock(mutex);
        opened.push_back(url);
        return opens;
    }
    std::vector<std::string> openedURLs() {
        std::lock_guard lock(mutex);
        return opened;
    }
    bool launchApplication(const std::string&, const std::vector<std::string>&) override {
        return true;
    }
    void set(std::vector<platform::RunningApplication> apps) {
        std::lock_guard lock(mutex);
        applications = std::move(apps);
    }

    std::mutex mutex;
    std::vector<platform::RunningApplication> applications;
    std::vector<std::string> opened;
    bool opens = true;  // whether a browser "opens"
};

class FakePowerEvents : public platform::PowerEvents {
public:
    bool start(std::function<void()> willSleep, std::function<void()> didWake) override {
        sleep = std::move(willSleep);
        wake = std::move(didWake);
        return true;
    }
    void stop() override {
        sleep = nullptr;
        wake = nullptr;
    }
    std::function<void()> sleep;
    std::function<void()> wake;
};

// A font manager that sees every file and records what it is asked.
class ObservedFontManager : public platform::FontManager {
public:
    platform::FontManagerScope scopeForFile(const std::string&) override {
        return platform::FontManagerScope::Persistent;
    }
    bool registerFonts(const std::vector<std::string>&, platform::FontManagerScope,
                       std::vector<platform::FontManagerError>*) override {
        return true;
    }
    bool unregisterFonts(const std::vector<std::string>& paths, platform::FontManagerScope,
                         std::vector<platform::FontManagerError>*) override {
        std::lock_guard lock(mutex);
        unregistered.insert(unregistered.end(), paths.begin(), paths.end());
        return true;
    }
    void setFontsAddedHandler(FontsAddedHandler handler) override {
        std::lock_guard lock(mutex);
        fontsAdded = std::move(handler);
    }
    void announce(const std::vector<std::string>& paths) {
        FontsAddedHandler handler;
        {
            std::lock_guard lock(mutex);
            handler = fontsAdded;
        }
        if (handler)
            handler(paths);
    }

    std::mutex mutex;
    FontsAddedHandler fontsAdded;
    std::vector<std::string> unregistered;
};

class RecordingUserNotifications : public platform::UserNotificationCenter {
public:
    void deliver(const platform::UserNotification& notification) override {
        std::lock_guard lock(mutex);
        delivered.push_back(notification);
    }
    std::vector<platform::UserNotification> all() {
        std::lock_guard lock(mutex);
        return delivered;
    }

    std::mutex mutex;
    std::vector<platform::UserNotification> delivered;
};

}  // namespace tavo::test
