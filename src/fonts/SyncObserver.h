#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavo {

// How a synchronization run ended.
enum class SyncResult {
    Completed,  // the account's fonts are on the machine, none left to fetch
    Failed,     // the account's font list could not be used: nothing was changed
    GaveUp,     // a font could not be downloaded; the next run fetches the rest
    Cancelled,  // the program ends; the next run fetches the rest
};

const char* syncResultName(SyncResult result);

struct SyncOutcome {
    SyncResult result = SyncResult::Completed;
    std::string reason;   // why it failed or gave up; empty otherwise
    long planned = 0;     // fonts the run left for its download chain
    long downloaded = 0;  // fonts installed since the run began
    long left = 0;        // fonts still to download when it ended
};

// What a synchronization tells while it goes on. Calls come from the
// controller's queues (the serial queue, the downloads' delegate queue):
// an observer keeps them short and guards its own state.
class SyncObserver {
public:
    virtual ~SyncObserver() = default;
    // The run wrote the account's list: its chain is to fetch count fonts.
    virtual void syncDownloadsPlanned(long count) { (void)count; }
    // A font of the chain is installed at path.
    virtual void syncFontDownloaded(const std::string& displayName, const std::string& path) {
        (void)displayName;
        (void)path;
    }
    // Once a run, when it is over in any way.
    virtual void syncEnded(const SyncOutcome& outcome) = 0;
};

// The observers of one controller, held weakly: an observer that is gone
// is dropped.
class SyncObservers {
public:
    void add(const std::shared_ptr<SyncObserver>& observer);
    void remove(const std::shared_ptr<SyncObserver>& observer);

    void downloadsPlanned(long count);
    void fontDownloaded(const std::string& displayName, const std::string& path);
    void ended(const SyncOutcome& outcome);

private:
    std::vector<std::shared_ptr<SyncObserver>> alive();

    std::mutex mutex_;
    std::vector<std::weak_ptr<SyncObserver>> observers_;
};

}  // namespace tavo
