#pragma once

#include <memory>
#include <string>

#include "platform/qt/widgets/BaseViewController.h"
#include "uninstaller/widgets/UninstallContext.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tavo::uninstaller {

// The frame every page of the uninstaller shares: logo, "ver.<version>",
// a subtitle, then the page's own controls, under the one window title.
class UninstallPage : public widgets::BaseViewController {
    Q_OBJECT

public:
    static constexpr const char* kWindowTitle = "Uninstall of TAVO desktop application";

    UninstallPage(std::shared_ptr<UninstallContext> context, QWidget* parent = nullptr);

    QLabel* subTitleLabel() const { return subTitleLabel_; }

protected:
    void viewDidLoad() override;
    // A push button titled by the localized key, in a row of its own.
    QPushButton* addButton(const std::string& key, const char* objectName);
    QVBoxLayout* pageLayout() const { return layout_; }
    static QString text(const std::string& key);

    std::shared_ptr<UninstallContext> context_;

private:
    QLabel* subTitleLabel_;
    QVBoxLayout* layout_;
};

}  // namespace tavo::uninstaller
