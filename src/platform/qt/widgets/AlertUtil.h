#pragma once

#include <string>

class QIcon;
class QWidget;

namespace tavo::widgets {

// Modal alerts. Each brings the application's window to the front first.
// Texts are shown as given; only button keys are localized here. Main
// thread only.
class AlertUtil {
public:
    // The title as the alert's text, the message as its informative text,
    // one default button.
    static void runModalWithMessage(const std::string& message, const std::string& title);
    // The same with the application's logo instead of an icon.
    static void runAboutBox(const std::string& message, const std::string& title,
                            const QIcon& logo);
    // The same in the critical style.
    static void runModalWithError(const std::string& message, const std::string& title);
    // Two buttons titled by the localized texts of the keys, the first the
    // default one; window modal on parentWindow when given. Returns
    // platform::kDialogResultCode for the first button, the code + 1 for the
    // second (also when the alert is dismissed with Escape).
    static int runModalWithSelectMessage(const std::string& message, const std::string& title,
                                         const std::string& primaryKey,
                                         const std::string& secondaryKey,
                                         QWidget* parentWindow = nullptr);
    // A question with the buttons "Logout" and "Cancel", Cancel the default.
    static int runModalWithErrorMessage(const std::string& message, const std::string& title,
                                        QWidget* parentWindow = nullptr);
};

}  // namespace tavo::widgets
