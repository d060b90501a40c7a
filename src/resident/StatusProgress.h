#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"
#include "foundation/Timer.h"
#include "resident/CustomerItem.h"

namespace tavo {

class ApiClient;
class FontChainState;
namespace platform {
class StatusItem;
}

// Font-download and update-copy progress in the status item: the batch
// arithmetic, the status line, the working animation and the notices at the
// end of a batch. The handlers may be called on any thread; they do their
// work on the main thread, where the batch and the timers live. Always owned
// through a shared_ptr: timers and queued work hold it weakly.
class StatusProgress : public std::enable_shared_from_this<StatusProgress> {
public:
    StatusProgress(ApiClient& client, const FontChainState& chainState,
                   std::shared_ptr<platform::StatusItem> statusItem);
    ~StatusProgress();
    StatusProgress(const StatusProgress&) = delete;
    StatusProgress& operator=(const StatusProgress&) = delete;

    // "fmUpdateProgress" of the download chain.
    void statusMenuFontDownload(const Notification& notification);
    // "pcUpdateProgress" of the update worker.
    void statusMenuProgressUpdate(const Notification& notification);
    // One frame of the working animation (the animation timers' target).
    void statusIconUpdateAnimation();
    // The status line during downloads: text, a line break, the font names
    // cut to 20 characters.
    std::string setFontDownLoadNameList(const std::string& text) const;
    // A batch of downloads has ended: the status line, the icon and the
    // user notification naming the fonts that arrived.
    void fontDownLoadNotification();

    // ---- what the menu and the account state ask (main thread)
    bool isDownloadAnimating() const { return statusMenuIconAnimationTimer_ != nullptr; }
    bool isUpdateAnimating() const { return statusMenuIconAnimationTimerP_ != nullptr; }
    bool isAnimating() const { return isDownloadAnimating() || isUpdateAnimating(); }
    // Raised when a download batch ends, cleared by the next opening of the menu.
    bool isDownloadCompleteStatus() const { return isDownloadCompleteStatus_; }
    void setDownloadCompleteStatus(bool value) { isDownloadCompleteStatus_ = value; }
    // The first online processing starts the animation from its first frame.
    void resetIconAnimationFrame() { statusMenuIconAnimationFrameCount_ = 0; }
    // Stops both animations (logout, shutdown).
    void stopIconAnimations();

    // The finished fonts of the current batch (display names, no duplicates).
    std::vector<std::string> fontDownloadComplateList() const;

private:
    void setStatusLine(const std::string& text);
    void startIconAnimation(std::shared_ptr<Timer>& timer);
    static void stopIconAnimation(std::shared_ptr<Timer>& timer);
    void setFontDownloadComplateList(std::vector<std::string> names);

    ApiClient& client_;
    const FontChainState& chainState_;
    std::shared_ptr<platform::StatusItem> statusItem_;
    CustomerItem customerItem_;

    // The download batch and the animation (main thread only).
    long progress_ = 0;
    long fontDownloadCount_ = 0;
    long fontDownloadSumCount_ = 0;
    long fontDownloadErrorSumCount_ = 0;
    std::string fontNameList_;
    std::shared_ptr<Timer> statusMenuIconAnimationTimer_;   // downloads
    std::shared_ptr<Timer> statusMenuIconAnimationTimerP_;  // update copies
    std::atomic<long> statusMenuIconAnimationFrameCount_{0};
    std::atomic<bool> isDownloadCompleteStatus_{false};

    mutable std::mutex mutex_;
    std::vector<std::string> fontDownloadComplateList_;
};

}  // namespace tavo
