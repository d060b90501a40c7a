#pragma once

#include <QWidget>
#include <string>

namespace tavo::widgets {

// The base of every page of a FlowWindow: it controls the buttons of its
// window's title bar and hears when it comes into the window (viewDidLoad)
// and when it leaves it, by a segue or because the window closes
// (viewDidDisappear). Main thread only.
class BaseViewController : public QWidget {
    Q_OBJECT

public:
    explicit BaseViewController(QWidget* parent = nullptr);

    // The identifier the window created the page under ("loginscreen",
    // "toLoginCompletion"...); empty for a page made by hand.
    const std::string& storyboardIdentifier() const { return storyboardIdentifier_; }
    void setStoryboardIdentifier(std::string identifier);

    // The close, minimise and zoom buttons of the page's window. Changing
    // them on a shown window shows it again with the new buttons.
    void windowCloseButtonEnabled(bool enabled);
    void windowMiniaturizeButtonEnabled(bool enabled);
    void windowZoomButtonEnabled(bool enabled);
    // Hides (or shows again) all three buttons, keeping their settings.
    void windowButtonHidden(bool hidden);

    void closeWindow();
    // Ends the application: the main queue's loop returns.
    static void terminate();

    // Goes to the page of the identifier in the same window; a page the
    // window does not know is logged and nothing changes.
    void performSegueWithIdentifier(const std::string& identifier);

    // Called by the window, each at most once per page.
    void loadView();
    void disappear();
    bool isViewLoaded() const { return loaded_; }
    // Gives the keyboard to the field a user types in first; nothing for a
    // page without one.
    virtual void focusFirstField() {}

protected:
    // The page is in its window: set texts, window title and buttons.
    virtual void viewDidLoad() {}
    // The page has left its window, or the window has closed.
    virtual void viewDidDisappear() {}

private:
    std::string storyboardIdentifier_;
    bool loaded_ = false;
    bool disappeared_ = false;
};

}  // namespace tavo::widgets
