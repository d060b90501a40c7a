// What the entries of the status menu do. The page addresses come from the
// service; they are fetched on the global queue so that the tray never
// waits for the network, and opened from there.
#include "foundation/ConcurrentQueue.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/Bundle.h"
#include "platform/StatusItem.h"
#include "platform/Workspace.h"
#include "resident/AppDelegate.h"
#include "resident/ResidentNames.h"
#include "service/ApiClient.h"
#include "service/ContractsApi.h"
#include "service/CustomerApi.h"
#include "service/FontsApi.h"
#include "service/NoticeApi.h"
#include "service/OVError.h"
#include "update/ProgramController.h"

namespace tavo {

namespace {

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

void AppDelegate::menuItemActivated(int tag) {
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

void AppDelegate::openPageInBackground(
    const char* name, std::function<std::optional<std::string>(ApiClient&)> fetch) {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    const std::string page = name;
    globalQueue().async([weak, page, fetch = std::move(fetch)] {
        auto self = weak.lock();
        if (!self)
            return;
        const auto url = fetch(self->client());
        if (!url) {
            WLog("The %@ page address could not be fetched", page);
            return;
        }
        if (self->env_.workspace)
            self->env_.workspace->openURL(*url);
    });
}

void AppDelegate::account() {
    ILog("Start AppDelegate account");
    openPageInBackground("account", [](ApiClient& client) {
        return pageAddress(client, [](ApiClient& c, std::optional<Error>* error) {
            return ContractsApi(c).getScreensHomeUrlWithError(error);
        });
    });
    if (isRedBadge.exchange(false))
        setStatusIcon(kStatusIconLogin);
    ILog("End AppDelegate account");
}

void AppDelegate::font() {
    ILog("Start AppDelegate font");
    openPageInBackground("font list", [](ApiClient& client) {
        return pageAddress(client, [](ApiClient& c, std::optional<Error>* error) {
            return FontsApi(c).getScreensFontListUrlWithError(error);
        });
    });
    ILog("End AppDelegate font");
}

void AppDelegate::info() {
    ILog("Start AppDelegate info");
    openPageInBackground("notice", [](ApiClient& client) {
        return pageAddress(client, [](ApiClient& c, std::optional<Error>* error) {
            return NoticeApi(c).getScreensNoticeUrlWithError(error);
        });
    });
    if (isRedBadge.exchange(false)) {
        setStatusIcon(kStatusIconLogin);
        submitToMainQueue([](AppDelegate& self) {
            if (self.env_.statusItem)
                self.env_.statusItem->setItemTitle(kMenuTagNoticeInfo,
                                                   localized("Notice information"));
        });
    }
    ILog("End AppDelegate info");
}

void AppDelegate::syncfont() {
    ILog("Start AppDelegate Synchronizing Font");
    startSynchronization("Skip manual performing font synchronization because of already running",
                         "Perfroming font synchronization at manual",
                         "Manual performing font synchronization");
    ILog("End AppDelegate Synchronizing Font");
}

void AppDelegate::logout() {
    ILog("Start AppDelegate logout");
    if (env_.windows && env_.windows->runModalConfirm(localized("Logout confirm"),
                                                      localized("Logout confirm dialog")) ==
                            platform::kDialogResultCode)
        performLogout(false);
    ILog("End AppDelegate logout");
}

void AppDelegate::optionupdate() {
    ILog("Start AppDelegate optionupdate");
    if (env_.programController)
        env_.programController->confirmationDialogForOptionalUpdate();
    ILog("End AppDelegate optionupdate");
}

void AppDelegate::showversion() {
    ILog("Start AppDelegate showversion");
    const std::string text = format("Ver. %@", platform::Bundle::mainBundle()->shortVersion());
    TAVO_DLOG("showing string: [%@]", text);
    if (env_.windows)
        env_.windows->runModalAlert(text, localized("TAVO Desktop Application"));
    ILog("End AppDelegate showversion");
}

void AppDelegate::helppage() {
    ILog("Start AppDelegate helppage");
    if (openingHelpPage.exchange(true)) {
        ILog("Improgress for help page");
        ILog("End AppDelegate helppage");
        return;
    }
    ILog("Fetching the help page url to server");
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    globalQueue().async([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        self->updateHelpURL([weak](const std::string& url) {
            if (auto self = weak.lock()) {
                self->submitToMainQueue([url](AppDelegate& self) {
                    ILog("Opening help page URL: %@", url);
                    if (self.env_.workspace)
                        self.env_.workspace->openURL(url);
                    self.openingHelpPage = false;
                });
            }
        });
    });
    ILog("End AppDelegate helppage");
}

void AppDelegate::updateHelpURL(const std::function<void(const std::string&)>& completion) {
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
    CustomerApi api(client());
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
