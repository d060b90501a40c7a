#pragma once

#include <string>

#include "platform/qt/widgets/BaseViewController.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace tavo::widgets {

// The frame every page of the installer and the uninstaller shares: logo,
// "ver.<version>", a subtitle, then the page's own controls, under the
// program's one window title (a localization key).
class ProgramPage : public BaseViewController {
    Q_OBJECT

public:
    ProgramPage(const std::string& version, const char* windowTitle, QWidget* parent = nullptr);

    QLabel* subTitleLabel() const { return subTitleLabel_; }

protected:
    void viewDidLoad() override;
    // A status line titled by the localized key over a progress bar from 0
    // to 100, both in the page.
    struct Progress {
        QLabel* status;
        QProgressBar* bar;
    };
    Progress addProgress(const std::string& statusKey);
    // A push button titled by the localized key, in a row of its own.
    QPushButton* addButton(const std::string& key, const char* objectName);
    QVBoxLayout* pageLayout() const { return layout_; }
    static QString text(const std::string& key);

private:
    const char* windowTitle_;
    QLabel* subTitleLabel_;
    QVBoxLayout* layout_;
};

}  // namespace tavo::widgets
