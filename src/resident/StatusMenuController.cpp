// The tray: building the status item, opening and closing its menu, its
// icon and badge, what follows a completed sign-in, and what the entries of
// the menu do. The page addresses come from the service; they are fetched on
// the global queue so that the tray never waits for the network, and opened
// from there.
#include "resident/StatusMenuController.h"

#include "foundation/ConcurrentQueue.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/Bundle.h"
#include "platform/StatusItem.h"
#include "platform/UserNotificationCenter.h"
#include "platform/Workspace.h"
#include "resident/ResidentNames.h"
#include "resident/ResidentQueues.h"
#include "resident/StatusProgress.h"
#include "resident/WeakCall.h"
#include "service/ApiClient.h"
#include "service/ContractsApi.h"
#include "service/CustomerApi.h"
#include "service/FontsApi.h"
#include "service/NoticeApi.h"
#include "service/OVError.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"

namespace tavo {

namespace {

constexpr int kFirstMenuTag = kMenuTagAccountInfo;
constexpr const char* kSyncWorkingImage = "QXRStatusBarItemIconworking_1";
constexpr int kLastMenuTag = kMenuTagUpdate;

// The page address of an accepted answer; none otherwise.
template <typename Fetch>
std::optional<std::string> pageAddress(ApiClient& client, Fetch fetch) {
    std::optional<Error> error;
    const auto result = fetch(client, &error);
    if (!OVError::checkApiError(error, result.code, result.message) || !result.data ||
        !result.data->url || result.data->url->empty())
        return std::nullopt;
    return result.data->url;
}

}  // namespace

StatusMenuController::StatusMenuController(Context context)
    : context_(std::move(context)), customerItem_(context_.client) {}

void StatusMenuController::setAllItemsHidden(bool hidden) {
    for (int tag = kFirstMenuTag; tag <= kLastMenuTag; ++tag)
        context_.statusItem->setItemHidden(tag, hidden);
}

void StatusMenuController::showSynchronizing(bool running) {
    if (!context_.statusItem)
        return;
    context_.statusItem->setItemEnabled(kMenuTagSyncFont, !running);
    context_.statusItem->setItemImage(kMenuTagSyncFont, running ? kSyncWorkingImage : "");
}

void StatusMenuController::synchronizingChanged() {
    // The gate is read again on the main queue, so calls that arrive out of
    // order still leave the entry as the gate is now.
    submitToMainQueue(shared_from_this(), [](StatusMenuController& self) {
        self.showSynchronizing(self.links_.isSynchronizing && self.links_.isSynchronizing());
    });
}

void StatusMenuController::tellBrowserFailed(const std::string& url) {
    WLog("No browser could be opened on %@", url);
    if (auto center = platform::UserNotificationCenter::defaultCenter())
        center->deliver({kClientAppName, localized("No browser opened"), url});
}

void StatusMenuController::setStatusLine(const std::string& text) {
    if (context_.statusItem)
        context_.statusItem->setItemTitle(kMenuTagAccountInfo, text);
}

void StatusMenuController::setStatusItem() {
    if (!context_.statusItem)
        return;
    std::weak_ptr<StatusMenuController> weak = weak_from_this();
    context_.statusItem->setDelegate({
        [weak] {
            if (auto self = weak.lock())
                self->menuWillOpen();
        },
        [weak] {
            if (auto self = weak.lock())
                self->menuDidClose();
        },
        [weak](int tag) {
            if (auto self = weak.lock())
                self->menuItemActivated(tag);
        },
    });
    context_.statusItem->setTitle(kClientAppName);
    const bool optionalUpdate =
        context_.programController && context_.programController->isAvailableOptionalUpdate();
    TAVO_DLOG("isAvailableOptionalUpdate = %@", optionalUpdate ? "YES" : "NO");
    context_.statusItem->setItemHidden(kMenuTagUpdate, !optionalUpdate);
    TAVO_DLOG("menuItemUpdate.hidden = %@", optionalUpdate ? "NO" : "YES");
    if (optionalUpdate)
        isRedBadge_ = true;
    if (!context_.client.isLoginStatus)
        context_.statusItem->setImage(kStatusIconLogout);
    else if (appUpdated_)
        context_.statusItem->setImage(kStatusIconFinish);
    else if (isRedBadge_)
        context_.statusItem->setImage(kStatusIconNotified);
    else
        context_.statusItem->setImage(kStatusIconLogin);
}

void StatusMenuController::menuWillOpen() {
    ILog("Opening menu");
    if (!context_.statusItem)
        return;
    auto& item = *context_.statusItem;
    const bool windowShown = context_.sessionState.isWindowAppear(kWindowAppearAnything);
    TAVO_DLOG("isWindowAppear = %d", windowShown ? 1 : 0);
    if (windowShown) {
        ILog("Already opened");
        setAllItemsHidden(true);
        // An empty menu would show nothing: the open window comes forward.
        if (context_.windows)
            context_.windows->raiseOpenWindow();
        return;
    }
    if (!context_.client.isLoginStatus) {
        ILog("Opening menu while signed out: showing the sign-in window");
        setAllItemsHidden(true);
        item.setImage(kStatusIconLogout);
        if (context_.windows)
            context_.windows->showSignInWindow();
        return;
    }
    ILog("Opening menu while signed in");
    setAllItemsHidden(false);

    StatusProgress& progress = *context_.progress;
    const bool animating = progress.isAnimating();
    const bool downloadComplete = progress.isDownloadCompleteStatus();
    if (isRedBadge_) {
        if (downloadComplete)
            item.setImage(kStatusIconLogin);
    } else if (downloadComplete || !animating) {
        item.setImage(kStatusIconLogin);
    }

    const bool updating = context_.programController && context_.programController->isStartUpdate();
    const bool optionalUpdate =
        context_.programController && context_.programController->isAvailableOptionalUpdate();
    item.setItemHidden(kMenuTagLogout, updating);
    showSynchronizing(links_.isSynchronizing && links_.isSynchronizing());
    item.setItemHidden(kMenuTagUpdate, updating || !optionalUpdate);

    if (appUpdated_) {
        submitToMainQueue(shared_from_this(), [](StatusMenuController& self) {
            self.setStatusLine(localized("Update completed"));
            self.appUpdated_ = false;
        });
    } else if (!animating && !downloadComplete) {
        // The stored account line at once; the server's, should it differ,
        // as soon as it has answered, so the menu never waits for the network.
        submitToMainQueue(shared_from_this(), [](StatusMenuController& self) {
            self.setStatusLine(self.customerItem_.updateCustomerItem());
            if (!self.context_.client.isOnlineStatus())
                return;
            std::weak_ptr<StatusMenuController> weak = self.weak_from_this();
            globalQueue().async([weak] {
                auto self = weak.lock();
                if (!self || !self->customerItem_.getCustomerItemByServer())
                    return;
                submitToMainQueue(self, [](StatusMenuController& self) {
                    // A download or update that began meanwhile owns the line.
                    if (!self.context_.progress->isAnimating())
                        self.setStatusLine(self.customerItem_.updateCustomerItem());
                });
            });
        });
    }
    progress.setDownloadCompleteStatus(false);
}

void StatusMenuController::menuDidClose() {
    if (context_.statusItem)
        context_.statusItem->setImage(context_.client.isLoginStatus ? kStatusIconLogin
                                                                    : kStatusIconLogout);
}

void StatusMenuController::openMenu() {
    TAVO_DLOG("start");
    ILog("Signed in: the status menu follows the account");
    context_.client.isLoginStatus = true;
    callIfSet(links_.settingScheduleCheckUserRereshToken);
    TAVO_DLOG("calling connectNotifications");
    if (context_.programController)
        context_.programController->connectNotifications();
    setStatusIcon(appUpdated_ ? kStatusIconFinish
                              : (isRedBadge_ ? kStatusIconNotified : kStatusIconLogin));
    callIfSet(links_.startSynchronization,
              "Skip authenticated performing font synchronization because of already running",
              "Perfroming font synchronization at authentication",
              "Authenticated performing font synchronization");
    TAVO_DLOG("end");
}

void StatusMenuController::setStatusIcon(const std::string& imageName) {
    if (MainQueue::isMainThread()) {
        if (context_.statusItem)
            context_.statusItem->setImage(imageName);
        return;
    }
    submitToMainQueue(shared_from_this(),
                      [imageName](StatusMenuController& self) { self.setStatusIcon(imageName); });
}

void StatusMenuController::setStatusItemEnabled(bool enabled) {
    if (MainQueue::isMainThread()) {
        if (context_.statusItem)
            context_.statusItem->setEnabled(enabled);
        return;
    }
    submitToMainQueue(shared_from_this(), [enabled](StatusMenuController& self) {
        self.setStatusItemEnabled(enabled);
    });
}

void StatusMenuController::setNoticeInfoTitle(const std::string& title) {
    submitToMainQueue(shared_from_this(), [title](StatusMenuController& self) {
        if (self.context_.statusItem)
            self.context_.statusItem->setItemTitle(kMenuTagNoticeInfo, title);
    });
}

void StatusMenuController::raiseNoticeBadge() {
    setStatusIcon(appUpdated_ ? kStatusIconFinish : kStatusIconNotified);
    isRedBadge_ = true;
}

void StatusMenuController::showSignedOut() {
    submitToMainQueue(shared_from_this(), [](StatusMenuController& self) {
        self.context_.progress->stopIconAnimations();
        if (self.context_.statusItem)
            self.context_.statusItem->setImage(kStatusIconLogout);
    });
}

// ---- the entries

void StatusMenuController::menuItemActivated(int tag) {
    switch (tag) {
        case kMenuTagAccount:
            return account();
        case kMenuTagFontPage:
            return font();
        case kMenuTagSyncFont:
            return syncfont();
        case kMenuTagNoticeInfo:
            return info();
        case kMenuTagShowVersion:
            return showversion();
        case kMenuTagHelpURL:
            return helppage();
        case kMenuTagLogout:
            return logout();
        case kMenuTagUpdate:
            return optionupdate();
        default:
            TAVO_DLOG("menu entry %d has no action", tag);
    }
}

void StatusMenuController::openPageInBackground(
    const char* name, std::function<std::optional<std::string>(ApiClient&)> fetch) {
    std::weak_ptr<StatusMenuController> weak = weak_from_this();
    const std::string page = name;
    globalQueue().async([weak, page, fetch = std::move(fetch)] {
        auto self = weak.lock();
        if (!self)
            return;
        const auto url = fetch(self->context_.client);
        if (!url) {
            WLog("The %@ page address could not be fetched", page);
            return;
        }
        if (!self->context_.workspace || !self->context_.workspace->openURL(*url))
            tellBrowserFailed(*url);
    });
}

void StatusMenuController::account() {
    ILog("Start AppDelegate account");
    openPageInBackground("account", [](ApiClient& client) {
        return pageAddress(client, [](ApiClient& c, std::optional<Error>* error) {
            return ContractsApi(c).getScreensHomeUrlWithError(error);
        });
    });
    if (isRedBadge_.exchange(false))
        setStatusIcon(kStatusIconLogin);
    ILog("End AppDelegate account");
}

void StatusMenuController::font() {
    ILog("Start AppDelegate font");
    openPageInBackground("font list", [](ApiClient& client) {
        return pageAddress(client, [](ApiClient& c, std::optional<Error>* error) {
            return FontsApi(c).getScreensFontListUrlWithError(error);
        });
    });
    ILog("End AppDelegate font");
}

void StatusMenuController::info() {
    ILog("Start AppDelegate info");
    openPageInBackground("notice", [](ApiClient& client) {
        return pageAddress(client, [](ApiClient& c, std::optional<Error>* error) {
            return NoticeApi(c).getScreensNoticeUrlWithError(error);
        });
    });
    if (isRedBadge_.exchange(false)) {
        setStatusIcon(kStatusIconLogin);
        setNoticeInfoTitle(localized("Notice information"));
    }
    ILog("End AppDelegate info");
}

void StatusMenuController::syncfont() {
    ILog("Start AppDelegate Synchronizing Font");
    if (links_.startSynchronization &&
        links_.startSynchronization(
            "Skip manual performing font synchronization because of already running",
            "Perfroming font synchronization at manual", "Manual performing font synchronization"))
        showSynchronizing(true);
    ILog("End AppDelegate Synchronizing Font");
}

void StatusMenuController::logout() {
    ILog("Start AppDelegate logout");
    if (context_.windows && context_.windows->runModalConfirm(localized("Logout confirm"),
                                                              localized("Logout confirm dialog")) ==
                                platform::kDialogResultCode)
        callIfSet(links_.performLogout, false);
    ILog("End AppDelegate logout");
}

void StatusMenuController::optionupdate() {
    ILog("Start AppDelegate optionupdate");
    if (context_.programController)
        context_.programController->confirmationDialogForOptionalUpdate();
    ILog("End AppDelegate optionupdate");
}

void StatusMenuController::showversion() {
    ILog("Start AppDelegate showversion");
    const std::string text = format("Ver. %@", platform::Bundle::mainBundle()->shortVersion());
    TAVO_DLOG("showing string: [%@]", text);
    // The box also names the build and the service the application is for.
    const std::string build = platform::Bundle::mainBundle()->version();
    const std::string about = (build.empty() ? text : format("%@ (build %@)", text, build)) + "\n" +
                              localized("Service name");
    if (context_.windows)
        context_.windows->runAboutBox(about, localized("TAVO Desktop Application"));
    ILog("End AppDelegate showversion");
}

void StatusMenuController::helppage() {
    ILog("Start AppDelegate helppage");
    if (openingHelpPage_.exchange(true)) {
        ILog("Improgress for help page");
        ILog("End AppDelegate helppage");
        return;
    }
    ILog("Fetching the help page url to server");
    std::weak_ptr<StatusMenuController> weak = weak_from_this();
    globalQueue().async([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        self->updateHelpURL([weak](const std::string& url) {
            if (auto self = weak.lock()) {
                submitToMainQueue(self, [url](StatusMenuController& self) {
                    ILog("Opening help page URL: %@", url);
                    if (!self.context_.workspace || !self.context_.workspace->openURL(url))
                        tellBrowserFailed(url);
                    self.openingHelpPage_ = false;
                });
            }
        });
    });
    ILog("End AppDelegate helppage");
}

void StatusMenuController::updateHelpURL(
    const std::function<void(const std::string&)>& completion) {
    const auto config = Config::userConfig();
    std::string current;
    if (config)
        if (const auto* stored = plistGet<std::string>(*config, kConfigHelpPageURL))
            current = *stored;
    if (current.empty()) {
        ILog("Detected empty help url string in configuration: %@",
             Config::userConfigPath().value_or("(none)"));
        current = TAVO_HELP_URL;
    }
    CustomerApi api(context_.client);
    std::optional<Error> error;
    const auto result = api.getScreensHelpUrlWithError(&error);
    std::string candidate = current;
    if (OVError::checkApiError(error, result.code, result.message)) {
        const std::string received = result.data && result.data->url ? *result.data->url : "";
        ILog("Received help url: %@ ", received.empty() ? std::string("(empty)") : received);
        if (!received.empty())
            candidate = received;
    }
    if (candidate == current) {
        ILog("Not update help url, still %@", current);
    } else {
        ILog("Update help url %@ from %@", candidate, current);
        current = candidate;
    }
    Config::updateUserConfig(
        [&](PlistDict& dict) { dict[kConfigHelpPageURL] = PlistValue(current); });
    completion(current);
}

}  // namespace tavo
