#pragma once

#include <any>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "fontid/FontRecord.h"
#include "fonts/FontChainState.h"
#include "fonts/FontListStore.h"
#include "fonts/FontSyncGate.h"
#include "fonts/FontVersionCache.h"
#include "fonts/SyncObserver.h"
#include "foundation/ConfigKeys.h"
#include "foundation/NotificationCenter.h"
#include "foundation/PlistValue.h"
#include "service/BaseModel.h"

namespace tavo {

class ApiClient;
class DownloadTask;
struct Fonts;
namespace platform {
class FontManager;
}

inline constexpr const char* kFMUpdateProgressNotification = "fmUpdateProgress";
inline constexpr const char* kFMCommonMessageNotification = "fmCommonMessage";
inline constexpr const char* kFMStartProgress = "startProgress";  // int: names in the progress list
inline constexpr const char* kFMProgress = "progress";            // int: 0
inline constexpr const char* kFMTypeface = "typeface";            // std::string
inline constexpr const char* kFMCopyErrorOccurred = "copyErrorOccurred";  // std::string, empty
inline constexpr const char* kFMCommonMessageHeading = "commonMessageHeadingString";
inline constexpr const char* kFMCommonMessageDetail = "commonMessageDetailString";

enum SyncFontAction : int {
    kSyncFontActionActivate = 0,
    kSyncFontActionDeactivate = 1,
    kSyncFontActionUninstall = 2
};

// Keeps the fonts on the machine in step with the fonts of the signed-in
// account: the synchronization run, the download chain, the web-side font
// actions, activation and deactivation through the font manager, and the
// progress list of fonts being downloaded.
//
// The run, the web actions, the finish check and the start of each download
// run on the client's serial queue; activation batches on the global queue;
// the progress list lives on the main queue.
class FontManagementController : public std::enable_shared_from_this<FontManagementController> {
public:
    static FontManagementController& sharedInstance();
    // A controller of its own (tests, tools): its client, its font manager.
    static std::shared_ptr<FontManagementController> create(
        ApiClient& client, std::shared_ptr<platform::FontManager> fontManager);
    ~FontManagementController();

    // ---- synchronization
    // Takes the synchronization gate itself; skips when a run is queued,
    // running or its downloads are pending.
    void syncSettingedFontActiveDeactiveOnMembersSite(const std::any& sender = {});
    // A run for a starter that took the gate: the run releases it when it
    // ends, or hands it to the download chain when fonts are left to fetch.
    void syncSettingedFontActiveDeactiveOnMembersSite(FontSyncGate::Hold hold);
    int getSyncFontAction(const PlistDict& oldFont, const PlistDict& newFont) const;
    bool fontVersionMatched(const std::string& path, const std::string& version);
    std::optional<std::string> getFontFileVersion(const std::string& path);
    double getDiskFreeSize() const;
    bool existsDiskFreeSpaces(double fileSize) const;
    void notifyDiskSpaceInsufficient();
    static PlistDict createFontKeyList(const std::string& fontId = {});
    void fontUninstallationRemovedServer(long limit, long offset);
    std::vector<std::string> checkDedicatedFont(const std::vector<std::string>& paths) const;
    void checkFinishedSynchronizing();
    // Who hears how each run goes and how it ends (tavoctl, the tray, tests).
    SyncObservers& syncObservers() { return syncObservers_; }

    // ---- the progress list (main queue)
    void appendDownloadDisplayFont(const std::string& name);
    // Several names entering at once (a page of a run): one notification.
    void appendDownloadDisplayFonts(const std::vector<std::string>& names);
    void removeDownloadDisplayFont(const std::string& name);
    void clearDownloadDisplayFont();
    // From any thread: names enter the list on the main queue.
    void showDownloadDisplayFonts(std::vector<std::string> names);
    // From any thread: a file arrived, and its name leaves the list with a
    // progress notice. Arrivals close together share one main-queue item.
    void downloadArrived(std::string name);
    std::vector<std::string> downloadDisplayFontNames() const;

    // ---- web-side actions (the event's user information, "jsonData")
    void activateFontOnWeb(const UserInfo& userInfo);
    void deactivateFontOnWeb(const UserInfo& userInfo);
    static std::optional<nlohmann::json> getNotificationData(const UserInfo& userInfo);

    // ---- download chain
    void downloadFont();
    // The program ends: a run requests no further page and the chain starts
    // no further download. The transfers in flight are the client's to end
    // (ApiClient::stopTransfers); a client whose transfers were stopped
    // stops the controller as well.
    void stop() { stopRequested_ = true; }
    bool stopRequested() const;

    // ---- activation and deactivation
    void fontActivate(const std::vector<std::string>& paths);
    void fontDeactivate(const std::vector<std::string>& paths);
    void fontRemove(const std::vector<std::string>& paths);
    void setVendorFontPaths();
    void deactivateFromAvailableFonts(const std::vector<std::string>& paths);
    void processPeriodicConfirmationFontDeactivationLogout();

    // Caches of deactivateFromAvailableFonts and setVendorFontPaths.
    std::optional<PlistDict> fontList;
    std::vector<std::string> activeFontPaths;
    std::vector<std::string> contents;
    std::vector<std::string> vendorFontPaths;

    // ---- state shared with the starters and the status menu
    FontSyncGate& syncGate() { return syncGate_; }
    FontChainState& chainState() { return chainState_; }

    // ---- seams
    FontListStore& store() { return store_; }
    ApiClient& apiClient() const { return client_; }
    std::shared_ptr<platform::FontManager> fontManager() const;
    // Free bytes of the user's volume; tests replace the measurement.
    void setDiskFreeSizeProvider(std::function<std::optional<double>()> provider);
    // Waits until the activation batches and font-manager passes submitted
    // so far have run.
    void waitForActivationBatches();

private:
    friend class FontDownloadDelegate;

    FontManagementController(ApiClient& client, std::shared_ptr<platform::FontManager> fontManager);

    // One account font of a synchronization page; false when the rest of
    // the page must be skipped for want of disk space.
    struct SyncLists;
    bool syncAccountFont(const Fonts& font, PlistDict& list, SyncLists& lists,
                         const std::string& folder);
    // The end of a run that wrote nothing: the failure notice, the gate free.
    void synchronizationFailed(FontSyncGate::Hold& hold, const std::vector<std::string>& shown,
                               const std::string& reason);
    // Tells the observers how the run ended.
    void syncEnded(SyncResult result, const std::string& reason = {});
    void runActivationBatch(std::vector<std::string> paths, bool activate);
    // How a download task ended (on the downloads' delegate queue).
    enum class DownloadOutcome { Next, RetryAfterRenewal, GiveUp, Cancelled };
    void downloadFinished(DownloadOutcome outcome, const std::string& reason = {});
    // A file of the chain is in the font folder and its record says
    // installed; the font after the download in flight is queued behind it.
    void fontInstalled(const std::string& path, const PlistDict& record,
                       const fontid::FontRecord& identification);
    void startNextDownload();
    // The file of the current download arrived and is about to be
    // installed: the next download starts meanwhile, one transfer still
    // at a time.
    void startNextDownloadAhead();
    // Whether the chain gives up once the download in flight is over; what
    // that download brings is not installed.
    bool chainGivingUp() const { return deferredGiveUp_.has_value(); }
    void startDownload(const std::string& key);
    // Queues the next font behind the download in flight, to start on its
    // transfer thread as soon as that file is in.
    void queueNextDownload();
    // A queued download that started becomes the current one (true); one
    // that did not goes back to the plan.
    bool takeQueuedDownload();
    // The chain's step after a download ended, on the serial queue.
    void chainStep(DownloadOutcome outcome, std::string reason);
    // The next font of the chain, group by group of the font manager; the
    // installed fonts of a group are registered when the next group begins
    // (registerCompletedGroup), once the last file of the group is recorded.
    // currentArrived: the current font is being installed, not fetched again.
    std::optional<std::string> nextChainDownload(bool currentArrived);
    struct PlannedDownload;
    // The next font of the plan still "downloading"; skipCurrent: the
    // current one is not among them.
    std::optional<PlannedDownload> takePlannedDownload(bool skipCurrent);
    void beginPlannedDownload(PlannedDownload next);
    void registerCompletedGroup();
    void planChainDownloads();
    // Hands the fonts installed so far to a font-manager pass; at a chain's
    // end the pass also tells the font manager that files changed.
    void scheduleMaintenance(bool chainEnded);
    // No record is "downloading" any more, or the chain gave up.
    void chainStopped();
    // Brings the font manager up to date with the files the chains
    // installed, one pass after another while chains keep ending.
    void runFontManagerMaintenance();

    ApiClient& client_;
    std::shared_ptr<platform::FontManager> fontManager_;
    FontSyncGate syncGate_;
    FontChainState chainState_;
    FontListStore store_;
    mutable FontVersionCache versions_;  // a cache: filled by const lookups too

    mutable std::mutex mutex_;
    // Newest first; a name leaves its place in one step, as each font of a
    // long chain arrives.
    std::list<std::string> downloadDisplayFontNames_;
    std::unordered_map<std::string, std::list<std::string>::iterator> downloadDisplayFontPlaces_;
    // The arrivals whose main-queue item has not run yet (under mutex_); none
    // once names entered the list after them, which must not overtake them.
    std::shared_ptr<std::vector<std::string>> arrivals_;
    std::function<std::optional<double>()> diskFreeSize_;
    std::vector<std::string> installedActivePaths_;  // since the chain last stopped
    bool installedSinceStop_ = false;
    // For the passes: one batch per group a chain completed, registered
    // apart even when a pass takes up several.
    struct MaintenanceBatch {
        bool sealed;  // a completed group: nothing joins it
        std::vector<std::string> paths;
    };
    std::deque<MaintenanceBatch> maintenanceBatches_;
    bool maintenancePending_ = false;
    bool maintenanceFilesChanged_ = false;  // the next pass calls fontFilesDidChange
    bool filesChangedOwed_ = false;         // by a pass of a chain still running
    bool maintenanceRunning_ = false;
    std::atomic<int> batchesInFlight_{0};
    std::atomic<bool> stopRequested_{false};
    std::condition_variable batchesDone_;
    SyncObservers syncObservers_;
    std::atomic<long> runPlanned_{0};     // of the run in progress
    std::atomic<long> runDownloaded_{0};  // since the run began

    // The chain's order (serial queue only).
    struct PlannedDownload {
        std::size_t group;
        std::string key;
    };
    std::deque<PlannedDownload> chainPlan_;
    std::optional<PlannedDownload> chainCurrent_;
    std::shared_ptr<DownloadTask> chainTask_;  // the current download's
    struct QueuedDownload {
        PlannedDownload planned;
        std::string name;  // in the progress list
        std::shared_ptr<DownloadTask> task;
    };
    std::optional<QueuedDownload> queued_;       // behind the current download
    bool groupCompleted_ = false;                // the next download began a new group
    bool chainAhead_ = false;                    // the next download started before this one ended
    std::optional<std::string> deferredGiveUp_;  // the reason the chain gives up
};

}  // namespace tavo
