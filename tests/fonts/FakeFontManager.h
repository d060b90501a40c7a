#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/FontManager.h"

namespace tavo::test {

// A font manager that remembers which files were unregistered (every other
// file counts as registered, as a file in the user's font folder does) and
// every call it received.
class FakeFontManager : public platform::FontManager {
public:
    platform::FontManagerScope scopeForFile(const std::string& path) override {
        std::lock_guard lock(mutex_);
        ++scopeQueries;
        return hidden_.count(path) ? platform::FontManagerScope::None
                                   : platform::FontManagerScope::Persistent;
    }
    bool registerFonts(const std::vector<std::string>& paths, platform::FontManagerScope,
                       std::vector<platform::FontManagerError>*) override {
        std::lock_guard lock(mutex_);
        registerCalls.push_back(paths);
        for (const auto& path : paths)
            hidden_.erase(path);
        return true;
    }
    bool unregisterFonts(const std::vector<std::string>& paths, platform::FontManagerScope,
                         std::vector<platform::FontManagerError>*) override {
        std::lock_guard lock(mutex_);
        unregisterCalls.push_back(paths);
        hidden_.insert(paths.begin(), paths.end());
        return true;
    }
    void setFontsAddedHandler(FontsAddedHandler) override {}
    std::size_t registrationGroup(const std::string& fileName) const override {
        return group ? group(fileName) : 0;
    }
    // The groups of registrationGroup; none: one group.
    std::function<std::size_t(const std::string& fileName)> group;
    void fontFilesDidChange() override {
        std::unique_lock lock(mutex_);
        ++filesChanged;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !holding_; });
    }
    // Makes fontFilesDidChange wait, as a slow cache refresh does, until released.
    void hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        holding_ = false;
        changed_.notify_all();
    }
    // Waits until fontFilesDidChange was called n times.
    bool waitForFilesChanged(int n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return filesChanged >= n; });
    }
    int filesChangedCount() {
        std::lock_guard lock(mutex_);
        return filesChanged;
    }

    void hide(const std::string& path) {
        std::lock_guard lock(mutex_);
        hidden_.insert(path);
    }
    bool isHidden(const std::string& path) {
        std::lock_guard lock(mutex_);
        return hidden_.count(path) != 0;
    }
    std::vector<std::vector<std::string>> registrations() {
        std::lock_guard lock(mutex_);
        return registerCalls;
    }
    std::vector<std::vector<std::string>> unregistrations() {
        std::lock_guard lock(mutex_);
        return unregisterCalls;
    }

    int scopeQueries = 0;
    int filesChanged = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool holding_ = false;
    std::set<std::string> hidden_;
    std::vector<std::vector<std::string>> registerCalls;
    std::vector<std::vector<std::string>> unregisterCalls;
};

}  // namespace tavo::test
