#include "fonts/SyncObserver.h"

#include <algorithm>

namespace tavo {

const char* syncResultName(SyncResult result) {
    switch (result) {
        case SyncResult::Completed:
            return "completed";
        case SyncResult::Failed:
            return "failed";
        case SyncResult::GaveUp:
            return "gave up";
        case SyncResult::Cancelled:
            return "cancelled";
    }
    return "unknown";
}

void SyncObservers::add(const std::shared_ptr<SyncObserver>& observer) {
    std::lock_guard lock(mutex_);
    observers_.push_back(observer);
}

void SyncObservers::remove(const std::shared_ptr<SyncObserver>& observer) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [&](const std::weak_ptr<SyncObserver>& held) {
        const auto target = held.lock();
        return !target || target == observer;
    });
}

// The calls are made outside the lock: an observer may add or remove.
std::vector<std::shared_ptr<SyncObserver>> SyncObservers::alive() {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_,
                  [](const std::weak_ptr<SyncObserver>& held) { return held.expired(); });
    std::vector<std::shared_ptr<SyncObserver>> targets;
    for (const auto& held : observers_)
        if (auto target = held.lock())
            targets.push_back(std::move(target));
    return targets;
}

void SyncObservers::downloadsPlanned(long count) {
    for (const auto& observer : alive())
        observer->syncDownloadsPlanned(count);
}

void SyncObservers::fontDownloaded(const std::string& displayName, const std::string& path) {
    for (const auto& observer : alive())
        observer->syncFontDownloaded(displayName, path);
}

void SyncObservers::ended(const SyncOutcome& outcome) {
    for (const auto& observer : alive())
        observer->syncEnded(outcome);
}

}  // namespace tavo
