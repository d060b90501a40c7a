#pragma once

#include <functional>
#include <string>

namespace tavo::platform {

// What a modal alert returns for its first button (then +1 for the second).
inline constexpr int kDialogResultCode = 1000;

// The application's item in the desktop's status area (the tray) with its
// menu, whose entries are known by tag. Called on the main thread only.
class StatusItem {
public:
    struct Delegate {
        std::function<void()> menuWillOpen;
        std::function<void()> menuDidClose;
        std::function<void(int tag)> itemActivated;
    };

    virtual ~StatusItem() = default;
    virtual void setDelegate(Delegate delegate) = 0;
    virtual void setTitle(const std::string& title) = 0;
    // One of the application's image names ("QXRStatusBarItemIconlogin"...).
    virtual void setImage(const std::string& imageName) = 0;
    virtual std::string image() const = 0;
    // Whether the item's button reacts to the user.
    virtual void setEnabled(bool enabled) = 0;
    virtual void setItemTitle(int tag, const std::string& title) = 0;
    virtual void setItemHidden(int tag, bool hidden) = 0;
    // Whether the entry can be chosen, and the image it shows beside its
    // title (none when empty).
    virtual void setItemEnabled(int /*tag*/, bool /*enabled*/) {}
    virtual void setItemImage(int /*tag*/, const std::string& /*imageName*/) {}
};

// The application's windows and alerts, as the resident application opens
// them. Called on the main thread only.
class Windows {
public:
    virtual ~Windows() = default;
    // Brings the application to the front and shows the sign-in window.
    virtual void showSignInWindow() = 0;
    // Brings the window the application has open to the front, if any.
    virtual void raiseOpenWindow() {}
    // A modal alert with one button.
    virtual void runModalAlert(const std::string& message, const std::string& title) = 0;
    // The About box: the application's logo with the title and the message.
    virtual void runAboutBox(const std::string& message, const std::string& title) {
        runModalAlert(message, title);
    }
    // A modal question with the buttons "Logout" and "Cancel": returns
    // kDialogResultCode for the first, kDialogResultCode + 1 for the second.
    virtual int runModalConfirm(const std::string& message, const std::string& title) = 0;
    // A modal question with two buttons titled primary and secondary:
    // kDialogResultCode for the first, kDialogResultCode + 1 for the second.
    // Where nobody can answer, the second.
    virtual int runModalSelect(const std::string& /*message*/, const std::string& /*title*/,
                               const std::string& /*primary*/, const std::string& /*secondary*/) {
        return kDialogResultCode + 1;
    }
};

}  // namespace tavo::platform
