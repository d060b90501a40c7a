// Font-download and update-copy progress in the status item: the batch
// arithmetic, the status line, the working animation and the notices at the
// end of a batch. Everything here runs on the main thread.
#include "fonts/FontManagementController.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationUtil.h"
#include "platform/StatusItem.h"
#include "resident/AppDelegate.h"
#include "resident/ResidentNames.h"
#include "service/ApiClient.h"

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

}  // namespace

// ---- status line and animation

std::string AppDelegate::setFontDownLoadNameList(const std::string& text) const {
    if (text.empty() || fontNameList.empty())
        return {};
    const std::string names = characterCount(fontNameList) <= kFontNameListShown
                                  ? fontNameList
                                  : firstCharacters(fontNameList, kFontNameListCut) + "...";
    return text + "\n" + names;
}

void AppDelegate::setStatusLine(const std::string& text) {
    if (env_.statusItem)
        env_.statusItem->setItemTitle(kMenuTagAccountInfo, text);
}

void AppDelegate::startIconAnimation(std::shared_ptr<Timer>& timer) {
    if (timer)
        return;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    timer = Timer::scheduledTimer(seconds(kIconAnimationInterval), true, [weak] {
        if (auto self = weak.lock())
            self->statusIconUpdateAnimation();
    });
}

void AppDelegate::stopIconAnimation(std::shared_ptr<Timer>& timer) {
    if (timer) {
        timer->invalidate();
        timer.reset();
    }
}

void AppDelegate::statusIconUpdateAnimation() {
    const long frame = ++statusMenuIconAnimationFrameCount;
    if (env_.statusItem)
        env_.statusItem->setImage(format(kStatusIconWorking, frame));
    if (frame >= 3)
        statusMenuIconAnimationFrameCount = 0;
}

// ---- font downloads

void AppDelegate::statusMenuFontDownload(const Notification& notification) {
    if (!MainQueue::isMainThread()) {
        // The batch counters live on the main thread.
        submitToMainQueue(
            [notification](AppDelegate& self) { self.statusMenuFontDownload(notification); });
        return;
    }
    const UserInfo& info = notification.userInfo;
    const std::string* typeface = userInfoText(info, kFMTypeface);
    if (const auto announced = numberValue(info, kFMStartProgress)) {
        startIconAnimation(statusMenuIconAnimationTimer);
        fontNameList = typeface ? *typeface : std::string();
        TAVO_DLOG("currently will be downloading start count: %ld: %@", *announced, fontNameList);
        fontDownloadCount = *announced;
        fontDownloadSumCount = 0;
        fontDownloadErrorSumCount = 0;
        progress = percentage(fontDownloadSumCount, fontDownloadCount);
        setStatusLine(
            setFontDownLoadNameList(format("%@ %ld%%", localized("Font Download"), progress)));
        setFontDownloadComplateList({});
    }
    TAVO_DLOG("font downloading progress: sum = %ld: error = %ld: downloaded = %ld: ",
              fontDownloadSumCount, fontDownloadErrorSumCount, fontDownloadCount);
    if (info.count(kFMProgress) && fontDownloadCount != 0) {
        const std::string name = typeface ? *typeface : std::string();
        if (!name.empty()) {
            auto finished = fontDownloadComplateList();
            if (std::find(finished.begin(), finished.end(), name) == finished.end()) {
                finished.push_back(name);
                setFontDownloadComplateList(finished);
                ++fontDownloadSumCount;
                TAVO_DLOG("increased downloaded sum count: %ld: %@", fontDownloadSumCount, name);
                progress = percentage(fontDownloadSumCount, fontDownloadCount);
                TAVO_DLOG("progress rate: %ld", progress);
                setStatusLine(setFontDownLoadNameList(
                    format("%@ %ld%%", localized("Font Download"), progress)));
            }
        } else {
            TAVO_DLOG("assume error because of font downloading with empty display name");
            ++fontDownloadErrorSumCount;
        }
        if (fontDownloadSumCount + fontDownloadErrorSumCount == fontDownloadCount) {
            if (fontDownloadErrorSumCount > 0) {
                ELog("code=%@, message=%@", "MSG_E2012", "failed font download");
                NotificationUtil::deliverNotificationWithSubtile(localized("Failed font download"));
            }
            fontDownloadSumCount = 0;
            fontDownloadCount = 0;
            stopIconAnimation(statusMenuIconAnimationTimer);
            if (!statusMenuIconAnimationTimerP && env_.statusItem)
                env_.statusItem->setImage(kStatusIconFinish);
            fontDownLoadNotification();
        }
    }
    if (info.count(kFMCopyErrorOccurred)) {
        stopIconAnimation(statusMenuIconAnimationTimer);
        stopIconAnimation(statusMenuIconAnimationTimerP);
        ELog("code=%@, message=%@", "MSG_E2012", "failed font download");
        // "<font>: <failure>", so the name and the text read apart.
        const std::string font = env_.fontController->chainState().downloadFontName();
        NotificationUtil::deliverNotificationWithSubtile(
            font.empty() ? localized("Failed font download")
                         : format("%@: %@", font, localized("Failed font download")));
        if (env_.statusItem)
            env_.statusItem->setImage(client().isLoginStatus ? kStatusIconLogin
                                                             : kStatusIconLogout);
        setStatusLine(updateCustomerItem());
    }
}

// ---- update copy

void AppDelegate::statusMenuProgressUpdate(const Notification& notification) {
    if (!MainQueue::isMainThread()) {
        submitToMainQueue(
            [notification](AppDelegate& self) { self.statusMenuProgressUpdate(notification); });
        return;
    }
    const UserInfo& info = notification.userInfo;
    // Font downloads have the status line while they run.
    const auto showLine = [this](const std::string& text) {
        if (!statusMenuIconAnimationTimer)
            setStatusLine(text);
    };
    if (info.count("isCopyStarted")) {
        TAVO_DLOG("Update copy started");
        startIconAnimation(statusMenuIconAnimationTimerP);
        showLine(format("%@ %d%%", localized("Updating..."), 0));
    }
    if (const auto percent =
            info.count("pcProgress") ? numberValue(info, "pcProgress") : std::nullopt) {
        TAVO_DLOG("Update copy in progress: %d", static_cast<int>(*percent));
        showLine(format("%@ %d%%", localized("Updating..."), static_cast<int>(*percent)));
    }
    if (info.count("isCopyFinished")) {
        TAVO_DLOG("Update copy finished");
        stopIconAnimation(statusMenuIconAnimationTimerP);
        if (env_.statusItem)
            env_.statusItem->setImage(kStatusIconFinish);
        showLine(localized("Update completed"));
    }
    if (info.count(kFMCopyErrorOccurred)) {
        stopIconAnimation(statusMenuIconAnimationTimerP);
        if (env_.statusItem)
            env_.statusItem->setImage(client().isLoginStatus ? kStatusIconLogin
                                                             : kStatusIconLogout);
        if (client().isLoginStatus)
            showLine(updateCustomerItem());
    }
}

}  // namespace tavo
