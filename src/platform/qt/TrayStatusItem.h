#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "foundation/Clock.h"
#include "platform/StatusItem.h"

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;

namespace tavo {
class Timer;
}

namespace tavo::platform {

// The status item as an icon in the desktop's tray with its menu. Entries
// 1 to 9 carry their tag on the QAction; entry 1 is the status line (two
// lines of text, not clickable). Either click opens the menu at the cursor
// (many panels send only a left click); when the delegate leaves no entry
// to show (it opened a window instead), no menu pops up.
//
// At login the panel often starts after the application: while the desktop
// has no tray, the item keeps its state and looks again every few seconds,
// and shows itself once the tray is there. Main thread only.
class TrayStatusItem : public StatusItem {
public:
    struct Options {
        // Whether the desktop has a tray now; Qt's answer when unset.
        std::function<bool()> trayAvailable;
        // The pause between two looks for the tray, and how long to look.
        Clock::Duration retryInterval = std::chrono::seconds(2);
        Clock::Duration retryLimit = std::chrono::minutes(2);
    };

    TrayStatusItem();
    explicit TrayStatusItem(Options options);
    ~TrayStatusItem() override;
    TrayStatusItem(const TrayStatusItem&) = delete;
    TrayStatusItem& operator=(const TrayStatusItem&) = delete;

    void setDelegate(Delegate delegate) override;
    void setTitle(const std::string& title) override;
    void setImage(const std::string& imageName) override;
    std::string image() const override;
    void setEnabled(bool enabled) override;
    void setItemTitle(int tag, const std::string& title) override;
    void setItemHidden(int tag, bool hidden) override;
    void setItemEnabled(int tag, bool enabled) override;
    void setItemImage(int tag, const std::string& imageName) override;

    // What the item shows, for tests and screenshots.
    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* trayIcon() const { return icon_.get(); }
    // The entry with the tag, or nullptr.
    QAction* action(int tag) const;
    // The entry's title as it was set (mnemonic escapes removed).
    std::string itemTitle(int tag) const;
    // The status line's label (entry 1).
    QLabel* statusLine() const { return statusLine_; }
    bool isEnabled() const { return enabled_; }
    // Whether the icon is in the tray; false while waiting for it.
    bool isInTray() const { return inTray_; }
    bool isWaitingForTray() const { return static_cast<bool>(retryTimer_); }

private:
    void buildMenu();
    void addEntry(int tag, const char* titleKey);
    bool trayAvailable() const;
    void showInTrayOrWait();
    void lookForTray();
    void scheduleLook();
    void showInTray();
    void onTrayClicked();
    // Tells the delegate once that the menu it heard open is closed.
    void tellClosed();
    bool hasVisibleEntry() const;

    Options options_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QLabel* statusLine_ = nullptr;  // owned by the menu's entry 1
    Delegate delegate_;
    std::string image_;
    bool enabled_ = true;
    bool inTray_ = false;
    // The delegate has heard the menu open and not yet close.
    bool menuOpen_ = false;
    bool openingFromClick_ = false;
    int looks_ = 0;
    std::shared_ptr<Timer> retryTimer_;
    // Callbacks of timers hold it weakly: they may fire after the item is gone.
    std::shared_ptr<TrayStatusItem*> self_;
};

}  // namespace tavo::platform
