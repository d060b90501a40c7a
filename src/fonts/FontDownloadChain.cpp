// The download chain: one font file at a time until no record is "downloading".
#include <algorithm>
#include <functional>
#include <utility>

#include "fonts/FontDownloadDelegate.h"
#include "fonts/FontManagementController.h"
#include "foundation/ConcurrentQueue.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/FontManager.h"
#include "service/ApiClient.h"
#include "service/FontsApi.h"

namespace tavo {

namespace {

std::string recordText(const PlistDict& record, const char* key) {
    const auto* value = plistGet<std::string>(record, key);
    return value ? *value : std::string();
}

}  // namespace

void FontManagementController::downloadFont() {
    auto self = shared_from_this();
    auto work = [self] { self->startNextDownload(); };
    if (auto queue = client_.serialDispatchQueue())
        queue->async(std::move(work));
    else
        work();
}

void FontManagementController::startNextDownload() {
    if (chainState_.isFontDownloading)
        return;
    if (stopRequested()) {
        // The program ends: the run this chain belongs to ends here.
        if (syncGate_.takeChainHold())
            syncEnded(SyncResult::Cancelled);
        return;
    }
    ILog("Attempt to download font");
    const auto key = nextChainDownload(false);
    registerCompletedGroup();
    if (logging::debugEnabled() && key)
        TAVO_DLOG(": isDownloading=%d: fontId=%@", 1, *key);
    if (!key) {
        chainStopped();
        return;
    }
    // Set before the task starts: its end may be reported at once.
    chainState_.isFontDownloading = true;
    startDownload(*key);
    queueNextDownload();
}

void FontManagementController::startNextDownloadAhead() {
    if (takeQueuedDownload())
        return;
    if (chainAhead_ || deferredGiveUp_ || stopRequested())
        return;
    ILog("Attempt to download font");
    const auto key = nextChainDownload(true);
    if (!key)
        return;  // the chain stops once the arrived file is installed
    if (logging::debugEnabled())
        TAVO_DLOG(": isDownloading=%d: fontId=%@", 1, *key);
    // The chain stays "downloading" from one task to the next.
    chainAhead_ = true;
    chainState_.retryDownloadFont = 0;
    startDownload(*key);
}

void FontManagementController::startDownload(const std::string& key) {
    std::string name = store_.recordText(key, kFontDisplayFontName);
    chainState_.setDownloadFontName(name);
    chainTask_ = FontsApi(client_).downloadFontsAsyncWithFontId(
        key, std::make_shared<FontDownloadDelegate>(weak_from_this(), std::move(name)));
}

void FontManagementController::queueNextDownload() {
    // The next font waits behind the transfer in flight and starts on its
    // thread the moment that file is in, before this queue hears of it.
    if (queued_ || !chainTask_ || deferredGiveUp_ || stopRequested())
        return;
    auto next = takePlannedDownload(true);  // the current font is on its way
    if (!next)
        return;
    std::string name = store_.recordText(next->key, kFontDisplayFontName);
    auto task = FontsApi(client_).queueFontDownloadAfter(
        *chainTask_, next->key, std::make_shared<FontDownloadDelegate>(weak_from_this(), name),
        &FontDownloadDelegate::bringsFontFile);
    if (!task) {  // too late: the current transfer is over
        chainPlan_.push_front(std::move(*next));
        return;
    }
    queued_ = QueuedDownload{std::move(*next), std::move(name), std::move(task)};
}

bool FontManagementController::takeQueuedDownload() {
    if (!queued_)
        return false;
    QueuedDownload queued = std::move(*queued_);
    queued_.reset();
    if (!queued.task->hasStarted()) {
        // The answer it waited for did not let it start: it goes later.
        chainPlan_.push_front(std::move(queued.planned));
        return false;
    }
    ILog("Attempt to download font");
    if (logging::debugEnabled())
        TAVO_DLOG(": isDownloading=%d: fontId=%@", 1, queued.planned.key);
    beginPlannedDownload(std::move(queued.planned));
    chainState_.setDownloadFontName(queued.name);
    chainTask_ = std::move(queued.task);
    chainAhead_ = true;
    chainState_.retryDownloadFont = 0;
    return true;
}

void FontManagementController::registerCompletedGroup() {
    // A group is complete: its fonts become visible while the next group
    // downloads.
    if (std::exchange(groupCompleted_, false))
        scheduleMaintenance(false);
}

void FontManagementController::fontInstalled(const std::string& path, const PlistDict& record,
                                             const fontid::FontRecord& identification) {
    // The file is in: the font after the one in flight is queued now, not
    // once the rest of this end is handled, so that it is there before the
    // transfer in flight is over.
    if (chainAhead_)
        queueNextDownload();
    versions_.remember(path, identification);
    const bool* activate = plistGet<bool>(record, kFontActivate);
    {
        std::lock_guard lock(mutex_);
        installedSinceStop_ = true;
        if (activate && *activate)
            installedActivePaths_.push_back(path);
    }
    ++runDownloaded_;
    syncObservers_.fontDownloaded(recordText(record, kFontDisplayFontName), path);
}

std::optional<std::string> FontManagementController::nextChainDownload(bool currentArrived) {
    // A font still "downloading" after its attempt (a renewed token) goes
    // again, as the least key did before fonts were grouped.
    if (!currentArrived && chainCurrent_ && store_.isDownloading(chainCurrent_->key))
        return chainCurrent_->key;
    auto next = takePlannedDownload(currentArrived);
    if (!next)
        return std::nullopt;
    beginPlannedDownload(std::move(*next));
    return chainCurrent_->key;
}

std::optional<FontManagementController::PlannedDownload>
FontManagementController::takePlannedDownload(bool skipCurrent) {
    for (int pass = 0; pass < 2; ++pass) {
        while (!chainPlan_.empty()) {
            PlannedDownload next = std::move(chainPlan_.front());
            chainPlan_.pop_front();
            // The current file is still "downloading" in a new plan.
            const bool current = skipCurrent && chainCurrent_ && next.key == chainCurrent_->key;
            if (!current && store_.isDownloading(next.key))
                return next;
        }
        if (pass == 0)
            planChainDownloads();  // including fonts that became "downloading" meanwhile
    }
    return std::nullopt;
}

void FontManagementController::beginPlannedDownload(PlannedDownload next) {
    if (chainCurrent_ && chainCurrent_->group != next.group)
        groupCompleted_ = true;
    chainCurrent_ = std::move(next);
}

void FontManagementController::planChainDownloads() {
    const auto manager = fontManager();
    for (auto& [key, fileName] : store_.downloadingFileNames())
        chainPlan_.push_back({manager->registrationGroup(fileName), std::move(key)});
    std::stable_sort(
        chainPlan_.begin(), chainPlan_.end(),
        [](const PlannedDownload& a, const PlannedDownload& b) { return a.group < b.group; });
}

void FontManagementController::chainStopped() {
    chainPlan_.clear();
    chainCurrent_.reset();
    chainTask_.reset();
    scheduleMaintenance(true);
    // The list goes to disk while the fonts are being registered: they
    // become visible without waiting for the write.
    store_.flush();
}

void FontManagementController::scheduleMaintenance(bool chainEnded) {
    bool startPass = false;
    {
        std::lock_guard lock(mutex_);
        // A pass on the way owes the chain's end its report of changed files.
        const bool installed = std::exchange(installedSinceStop_, false);
        const bool owed = chainEnded && std::exchange(filesChangedOwed_, false);
        if (!chainEnded && installed)
            filesChangedOwed_ = true;
        if (installed || owed) {
            maintenancePending_ = true;
            maintenanceFilesChanged_ = maintenanceFilesChanged_ || chainEnded;
            // A completed group is a batch of its own; the ends of chains
            // waiting for a pass share one.
            auto& batches = maintenanceBatches_;
            auto& paths = installedActivePaths_;
            if (chainEnded && !batches.empty() && !batches.back().sealed)
                batches.back().paths.insert(batches.back().paths.end(), paths.begin(), paths.end());
            else if (!paths.empty())
                batches.push_back({!chainEnded, paths});
            paths.clear();
            // A pass in progress takes these up when it is done.
            if (!maintenanceRunning_) {
                maintenanceRunning_ = true;
                ++batchesInFlight_;
                startPass = true;
            }
        }
    }
    // Off the serial queue: bringing the font manager's caches up to date
    // may take a while for a large folder (fontconfig reads every file of a
    // folder that changed), and the next event should not wait. Chains that
    // end meanwhile share the next pass. The groups a long chain completes on
    // its way give way to its transfers.
    if (startPass) {
        auto self = shared_from_this();
        (chainEnded ? globalQueue() : backgroundQueue()).async([self] {
            self->runFontManagerMaintenance();
        });
    }
}

void FontManagementController::runFontManagerMaintenance() {
    for (;;) {
        std::vector<std::string> activate;
        bool filesChanged = false;
        {
            std::lock_guard lock(mutex_);
            if (!std::exchange(maintenancePending_, false)) {
                maintenanceRunning_ = false;
                --batchesInFlight_;
                batchesDone_.notify_all();
                return;
            }
            if (!maintenanceBatches_.empty()) {
                activate = std::move(maintenanceBatches_.front().paths);
                maintenanceBatches_.pop_front();
            }
            // The chain's end goes with its last batch.
            if (maintenanceBatches_.empty())
                filesChanged = std::exchange(maintenanceFilesChanged_, false);
            else
                maintenancePending_ = true;
        }
        auto manager = fontManager();
        // Once a chain has ended, not for each group it registered on the way.
        if (filesChanged)
            manager->fontFilesDidChange();
        // A file replaced in place keeps the registration of the old one: a
        // font hidden before and wanted active now is registered again. The
        // files are ours and new, so they go in one call without asking
        // the font manager about each.
        if (activate.empty())
            continue;
        std::vector<platform::FontManagerError> errors;
        if (!manager->registerFonts(activate, platform::FontManagerScope::Persistent, &errors))
            for (const auto& error : errors)
                ILog("Failed to activate font by following reason.\n%@",
                     format("%@: %@ (%ld)", error.path, error.description, error.code));
    }
}

void FontManagementController::downloadFinished(DownloadOutcome outcome,
                                                const std::string& reason) {
    auto self = shared_from_this();
    // The chain's flags change on the serial queue, in the same item that
    // goes on: no one sees the chain idle while its next step is pending.
    // The download reports there already: it goes on at once.
    auto work = [self, outcome, reason] { self->chainStep(outcome, reason); };
    if (auto queue = client_.serialDispatchQueue(); queue && !queue->isCurrent())
        queue->async(std::move(work));
    else
        work();
    if (outcome == DownloadOutcome::Next)
        checkFinishedSynchronizing();
}

void FontManagementController::chainStep(DownloadOutcome outcome, std::string reason) {
    // The file that arrived is recorded now: the group the next download
    // left behind is complete.
    registerCompletedGroup();
    // One queued behind the download that ended, and started, is the
    // chain's from now on. Once the next download is under way, what is
    // queued waits behind that one, whose transfer is not over yet.
    if (!chainAhead_)
        takeQueuedDownload();
    if (std::exchange(chainAhead_, false)) {
        // The next download is under way already. A file that could not be
        // installed ends the chain once that download is over, without
        // installing what it brings.
        if (outcome == DownloadOutcome::GiveUp)
            deferredGiveUp_ = reason;
        else
            queueNextDownload();
        return;
    }
    if (auto owed = std::exchange(deferredGiveUp_, std::nullopt);
        owed && outcome != DownloadOutcome::Cancelled) {
        outcome = DownloadOutcome::GiveUp;
        reason = std::move(*owed);
    }
    chainState_.isFontDownloading = false;
    switch (outcome) {
        case DownloadOutcome::Next:
            chainState_.retryDownloadFont = 0;
            startNextDownload();
            return;
        case DownloadOutcome::RetryAfterRenewal: {
            // The renewal is a network call: on the serial queue, not on the
            // main thread where it would freeze the menu.
            chainState_.retryDownloadFont = 1;
            std::optional<Error> error;
            FontsApi(client_).getScreensFontListUrlWithError(&error);
            startNextDownload();
            return;
        }
        case DownloadOutcome::Cancelled:
            // The program ends: the chain stops without a notice; the fonts
            // still "downloading" are fetched by the next synchronization.
            chainState_.retryDownloadFont = 0;
            chainStopped();
            if (syncGate_.takeChainHold())
                syncEnded(SyncResult::Cancelled);
            return;
        case DownloadOutcome::GiveUp: {
            auto self = shared_from_this();
            MainQueue::main().async([self] {
                self->clearDownloadDisplayFont();
                NotificationCenter::defaultCenter().post(kFMUpdateProgressNotification,
                                                         {{kFMCopyErrorOccurred, std::string()}});
            });
            chainState_.retryDownloadFont = 0;
            chainStopped();
            // The synchronization is over; its fonts still "downloading"
            // are fetched by the next one.
            if (syncGate_.takeChainHold())
                syncEnded(SyncResult::GaveUp, reason);
            return;
        }
    }
}

}  // namespace tavo
