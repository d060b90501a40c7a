#pragma once

#include <QApplication>
#include <QString>
#include <QWidget>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace tavo::test {

// The one QApplication of a GUI test program, on the offscreen platform, made
// at the first call.
QApplication& guiApplication();

// Runs the event loop until done holds or timeoutMs passes; done's last value.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// The child of parent whose object name is name (searched recursively), or
// null; T narrows the type.
template <typename T = QWidget>
T* child(const QWidget* parent, const char* name) {
    return parent ? parent->findChild<T*>(QString::fromUtf8(name)) : nullptr;
}

// Closes the next modal box that shows by pressing its button at index
// (0: the first added); records the box's texts.
struct ModalAnswer {
    std::string text;
    std::string informativeText;
    std::vector<std::string> buttons;
    std::string defaultButton;
    int icon = 0;              // a QMessageBox::Icon
    int informativeWidth = 0;  // the informative text's width in pixels
    bool answered = false;
};
void answerNextModal(ModalAnswer* answer, int buttonIndex);

// A workspace that opens nothing and remembers the addresses it was asked to
// open (from any thread).
class RecordingWorkspace : public platform::Workspace {
public:
    std::vector<platform::RunningApplication> runningApplications() override { return {}; }
    bool openURL(const std::string& url) override {
        std::lock_guard lock(mutex_);
        urls_.push_back(url);
        return true;
    }
    bool launchApplication(const std::string&, const std::vector<std::string>&) override {
        return false;
    }
    std::vector<std::string> urls() const {
        std::lock_guard lock(mutex_);
        return urls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> urls_;
};

}  // namespace tavo::test
