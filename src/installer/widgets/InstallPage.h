#pragma once

#include <memory>
#include <string>

#include "installer/widgets/InstallContext.h"
#include "platform/qt/widgets/BaseViewController.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tavo::installer {

// The frame every page of the installer shares: logo, "ver.<version>",
// a subtitle, then the page's own controls, under the one window title.
class InstallPage : public widgets::BaseViewController {
    Q_OBJECT

public:
    static constexpr const char* kWindowTitle = "Install of TAVO desktop application";

    InstallPage(std::shared_ptr<InstallContext> context, QWidget* parent = nullptr);

    QLabel* subTitleLabel() const { return subTitleLabel_; }

protected:
    void viewDidLoad() override;
    // A push button titled by the localized key, in a row of its own.
    QPushButton* addButton(const std::string& key, const char* objectName);
    QVBoxLayout* pageLayout() const { return layout_; }
    static QString text(const std::string& key);

    std::shared_ptr<InstallContext> context_;

private:
    QLabel* subTitleLabel_;
    QVBoxLayout* layout_;
};

}  // namespace tavo::installer
