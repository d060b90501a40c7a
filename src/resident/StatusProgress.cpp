// Font-download and update-copy progress in the status item: the batch
// arithmetic, the status line, the working animation and the notices at the
// end of a batch. Everything here runs on the main thread.
#include "resident/StatusProgress.h"

#include <algorithm>

#include "fonts/FontManagementController.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationUtil.h"
#include "platform/StatusItem.h"
#include "resident/ResidentNames.h"
#include "resident/ResidentQueues.h"
#include "service/ApiClient.h"
#include "update/UpdateNotifications.h"

namespace tavo {

namespace {

constexpr double kIconAnimationInterval = 0.5;
constexpr std::size_t kFontNameListShown = 20;
constexpr std::size_t kFontNameListCut = 19;

std::optional<long> numberValue(const UserInfo& info, const char* key) {
    const auto it = info.find(key);
    if (it == info.end())
        return std::nullopt;
    if (const auto* i = std::any_cast<int>(&it->second))
        return *i;
    if (const auto* l = std::any_cast<long>(&it->second))
        return *l;
    if (const auto* b = std::any_cast<bool>(&it->second))
        return *b ? 1 : 0;
    return 0;
}

// Percentage of a batch, in single precision as the status line has always
// shown it: 3 fonts give 0, 33, 66 and 100.
long percentage(long done, long announced) {
    if (announced == 0)
        return 0;
    const float step = 100.0f / static_cast<float>(announced);
    return static_cast<long>(static_cast<float>(done) * step);
}

// Code points, not bytes, count as characters.
std::size_t characterCount(const std::string& text) {
    std::size_t n = 0;
    for (const unsigned char c : text)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string firstCharacters(const std::string& text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count)
                return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? separator : std::string()) + parts[i];
    return text;
}

}  // namespace

StatusProgress::StatusProgress(ApiClient& client, const FontChainState& chainState,
                               std::shared_ptr<platform::StatusItem> statusItem)
    : client_(client),
      chainState_(chainState),
      statusItem_(std::move(statusItem)),
      customerItem_(client) {}

StatusProgress::~StatusProgress() {
    // Timers hold this weakly; a destroyed batch needs no more frames.
    stopIconAnimations();
}

std::vector<std::string> StatusProgress::fontDownloadComplateList() const {
    std::lock_guard lock(mutex_);
    return fontDownloadComplateList_;
}

void StatusProgress::setFontDownloadComplateList(std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    fontDownloadComplateList_ = std::move(names);
}

// ---- status line and animation

std::string StatusProgress::setFontDownLoadNameList(const std::string& text) const {
    if (text.empty() || fontNameList_.empty())
        return {};
    const std::string names = characterCount(fontNameList_) <= kFontNameListShown
                                  ? fontNameList_
                                  : firstCharacters(fontNameList_, kFontNameListCut) + "...";
    return text + "\n" + names;
}

void StatusProgress::setStatusLine(const std::string& text) {
    if (statusItem_)
        statusItem_->setItemTitle(kMenuTagAccountInfo, text);
}

void StatusProgress::startIconAnimation(std::shared_ptr<Timer>& timer) {
    if (timer)
        return;
    std::weak_ptr<StatusProgress> weak = weak_from_this();
    timer = Timer::scheduledTimer(seconds(kIconAnimationInterval), true, [weak] {
        if (auto self = weak.lock())
            self->statusIconUpdateAnimation();
    });
}

void StatusProgress::stopIconAnimation(std::shared_ptr<Timer>& timer) {
    if (timer) {
        timer->invalidate();
        timer.reset();
    }
}

void StatusProgress::stopIconAnimations() {
    stopIconAnimation(statusMenuIconAnimationTimer_);
    stopIconAnimation(statusMenuIconAnimationTimerP_);
}

void StatusProgress::statusIconUpdateAnimation() {
    const long frame = ++statusMenuIconAnimationFrameCount_;
    if (statusItem_)
        statusItem_->setImage(format(kStatusIconWorking, frame));
    if (frame >= 3)
        statusMenuIconAnimationFrameCount_ = 0;
}

// ---- font downloads

void StatusProgress::statusMenuFontDownload(const Notification& notification) {
    if (!MainQueue::isMainThread()) {
        // The batch counters live on the main thread.
        submitToMainQueue(shared_from_this(), [notification](StatusProgress& self) {
            self.statusMenuFontDownload(notification);
        });
        return;
    }
    const UserInfo& info = notification.userInfo;
    const std::string* typeface = userInfoText(info, kFMTypeface);
    if (const auto announced = numberValue(info, kFMStartProgress)) {
        startIconAnimation(statusMenuIconAnimationTimer_);
        fontNameList_ = typeface ? *typeface : std::string();
        TAVO_DLOG("currently will be downloading start count: %ld: %@", *announced, fontNameList_);
        fontDownloadCount_ = *announced;
        fontDownloadSumCount_ = 0;
        fontDownloadErrorSumCount_ = 0;
        progress_ = percentage(fontDownloadSumCount_, fontDownloadCount_);
        setStatusLine(
            setFontDownLoadNameList(format("%@ %ld%%", localized("Font Download"), progress_)));
        setFontDownloadComplateList({});
    }
    TAVO_DLOG("font downloading progress: sum = %ld: error = %ld: downloaded = %ld: ",
              fontDownloadSumCount_, fontDownloadErrorSumCount_, fontDownloadCount_);
    if (info.count(kFMProgress) && fontDownloadCount_ != 0) {
        const std::string name = typeface ? *typeface : std::string();
        if (!name.empty()) {
            auto finished = fontDownloadComplateList();
            if (std::find(finished.begin(), finished.end(), name) == finished.end()) {
                finished.push_back(name);
                setFontDownloadComplateList(finished);
                ++fontDownloadSumCount_;
                TAVO_DLOG("increased downloaded sum count: %ld: %@", fontDownloadSumCount_, name);
                progress_ = percentage(fontDownloadSumCount_, fontDownloadCount_);
                TAVO_DLOG("progress rate: %ld", progress_);
                setStatusLine(setFontDownLoadNameList(
                    format("%@ %ld%%", localized("Font Download"), progress_)));
            }
        } else {
            TAVO_DLOG("assume error because of font downloading with empty display name");
            ++fontDownloadErrorSumCount_;
        }
        if (fontDownloadSumCount_ + fontDownloadErrorSumCount_ == fontDownloadCount_) {
            if (fontDownloadErrorSumCount_ > 0) {
                ELog("code=%@, message=%@", "MSG_E2012", "failed font download");
                NotificationUtil::deliverNotificationWithSubtile(localized("Failed font download"));
            }
            fontDownloadSumCount_ = 0;
            fontDownloadCount_ = 0;
            stopIconAnimation(statusMenuIconAnimationTimer_);
            if (!statusMenuIconAnimationTimerP_ && statusItem_)
                statusItem_->setImage(kStatusIconFinish);
            fontDownLoadNotification();
        }
    }
    if (info.count(kFMCopyErrorOccurred)) {
        stopIconAnimation(statusMenuIconAnimationTimer_);
        stopIconAnimation(statusMenuIconAnimationTimerP_);
        ELog("code=%@, message=%@", "MSG_E2012", "failed font download");
        // "<font>: <failure>", so the name and the text read apart.
        const std::string font = chainState_.downloadFontName();
        NotificationUtil::deliverNotificationWithSubtile(
            font.empty() ? localized("Failed font download")
                         : format("%@: %@", font, localized("Failed font download")));
        if (statusItem_)
            statusItem_->setImage(client_.isLoginStatus ? kStatusIconLogin : kStatusIconLogout);
        setStatusLine(customerItem_.updateCustomerItem());
    }
}

void StatusProgress::fontDownLoadNotification() {
    TAVO_DLOG("start");
    isDownloadCompleteStatus_ = true;
    submitToMainQueue(shared_from_this(), [](StatusProgress& self) {
        if (!self.statusItem_)
            return;
        self.statusItem_->setItemTitle(kMenuTagAccountInfo, localized("Font Download Success"));
        self.statusItem_->setImage(kStatusIconFinish);
    });
    const auto names = fontDownloadComplateList();
    const std::string subtitle = localized("Font Download Success");
    const std::string text =
        std::to_string(names.size()) + localized("Font Count") + "\n" + joined(names, ", ");
    ILog("Delivered Notification: %@", subtitle);
    NotificationUtil::deliverNotificationWithSubtile(subtitle, text);
    TAVO_DLOG("end");
}

// ---- update copy

void StatusProgress::statusMenuProgressUpdate(const Notification& notification) {
    if (!MainQueue::isMainThread()) {
        submitToMainQueue(shared_from_this(), [notification](StatusProgress& self) {
            self.statusMenuProgressUpdate(notification);
        });
        return;
    }
    const UserInfo& info = notification.userInfo;
    // Font downloads have the status line while they run.
    const auto showLine = [this](const std::string& text) {
        if (!statusMenuIconAnimationTimer_)
            setStatusLine(text);
    };
    if (info.count(kPCUserInfoKeyIsCopyStarted)) {
        TAVO_DLOG("Update copy started");
        startIconAnimation(statusMenuIconAnimationTimerP_);
        showLine(format("%@ %d%%", localized("Updating..."), 0));
    }
    if (const auto percent = info.count(kPCUserInfoKeyProgress)
                                 ? numberValue(info, kPCUserInfoKeyProgress)
                                 : std::nullopt) {
        TAVO_DLOG("Update copy in progress: %d", static_cast<int>(*percent));
        showLine(format("%@ %d%%", localized("Updating..."), static_cast<int>(*percent)));
    }
    if (info.count(kPCUserInfoKeyIsCopyFinished)) {
        TAVO_DLOG("Update copy finished");
        stopIconAnimation(statusMenuIconAnimationTimerP_);
        if (statusItem_)
            statusItem_->setImage(kStatusIconFinish);
        showLine(localized("Update completed"));
    }
    if (info.count(kPCUserInfoKeyCopyErrorOccurred)) {
        stopIconAnimation(statusMenuIconAnimationTimerP_);
        if (statusItem_)
            statusItem_->setImage(client_.isLoginStatus ? kStatusIconLogin : kStatusIconLogout);
        if (client_.isLoginStatus)
            showLine(customerItem_.updateCustomerItem());
    }
}

}  // namespace tavo
