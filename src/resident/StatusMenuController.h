#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "resident/CustomerItem.h"

namespace tavo {

class ApiClient;
class ProgramController;
class SessionState;
class StatusProgress;
namespace platform {
class StatusItem;
class Windows;
class Workspace;
}  // namespace platform

// The tray: the status item with its menu, its icon and badge, the account
// line, what each entry does, and what follows a completed sign-in. The
// download and update progress it shows is the StatusProgress it is given.
// Main thread, except where noted. Always owned through a shared_ptr:
// delegate callbacks and queued work hold it weakly.
class StatusMenuController : public std::enable_shared_from_this<StatusMenuController> {
public:
    // What the menu asks of the rest of the application.
    struct Links {
        // Starts a full synchronization unless one is queued or running; the
        // lines name the occasion.
        std::function<bool(const char* skipLine, const char* startLine, const char* runLine)>
            startSynchronization;
        std::function<void(bool forced)> performLogout;
        std::function<void()> settingScheduleCheckUserRereshToken;
        // Whether a synchronization is queued or running.
        std::function<bool()> isSynchronizing;
    };

    struct Context {
        ApiClient& client;
        SessionState& sessionState;
        std::shared_ptr<ProgramController> programController;  // none: no update side
        std::shared_ptr<platform::StatusItem> statusItem;      // none: nothing is shown
        std::shared_ptr<platform::Windows> windows;            // none: no windows
        std::shared_ptr<platform::Workspace> workspace;        // opens web pages
        std::shared_ptr<StatusProgress> progress;
    };

    explicit StatusMenuController(Context context);
    StatusMenuController(const StatusMenuController&) = delete;
    StatusMenuController& operator=(const StatusMenuController&) = delete;

    void setLinks(Links links) { links_ = std::move(links); }

    // ---- the status item and its menu
    void setStatusItem();
    void menuWillOpen();
    void menuDidClose();
    // After a completed sign-in ("loginSuccess").
    void openMenu();
    // Both from any thread: the change is made on the main queue (at once on
    // the main thread).
    void setStatusIcon(const std::string& imageName);
    void setStatusItemEnabled(bool enabled);
    // A synchronization started or ended (any thread): the synchronize entry
    // follows on the main queue, also while the menu stays open.
    void synchronizingChanged();

    // ---- what other controllers change in it (any thread)
    // The notice entry's title (on the main queue).
    void setNoticeInfoTitle(const std::string& title);
    // A new notice: the badge is raised and shown.
    void raiseNoticeBadge();
    // Signed out: no animation, the signed-out icon (on the main queue).
    void showSignedOut();

    // ---- the menu's entries; page addresses are fetched off the main
    // thread, so the tray never waits for the network
    void menuItemActivated(int tag);
    void account();
    void font();
    void syncfont();
    void info();
    void showversion();
    void helppage();
    void logout();
    void optionupdate();
    // The help page address: the server's, else the stored one, else the
    // built-in one; stored for the next time. Blocking.
    void updateHelpURL(const std::function<void(const std::string&)>& completion);

    // ---- state
    // True while the process runs right after a self-update, until the menu
    // has said so once.
    bool appUpdated() const { return appUpdated_; }
    void setAppUpdated(bool value) { appUpdated_ = value; }
    // A new notice or an optional update is waiting.
    bool isRedBadge() const { return isRedBadge_; }
    void setRedBadge(bool value) { isRedBadge_ = value; }
    bool openingHelpPage() const { return openingHelpPage_; }
    CustomerItem& customerItem() { return customerItem_; }

private:
    void setStatusLine(const std::string& text);
    void setAllItemsHidden(bool hidden);
    // The synchronize entry: disabled, with the working image, while a
    // synchronization runs.
    void showSynchronizing(bool running);
    // A page address no browser could be opened on: the user is told it.
    static void tellBrowserFailed(const std::string& url);
    // Fetches a page address off the main thread and opens it.
    void openPageInBackground(const char* name,
                              std::function<std::optional<std::string>(ApiClient&)> fetch);

    Context context_;
    Links links_;
    CustomerItem customerItem_;
    std::atomic<bool> appUpdated_{false};
    std::atomic<bool> isRedBadge_{false};
    std::atomic<bool> openingHelpPage_{false};
};

}  // namespace tavo
