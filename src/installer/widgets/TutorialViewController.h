#pragma once

#include <memory>

#include "installer/widgets/InstallContext.h"
#include "platform/qt/widgets/BaseViewController.h"

class QLabel;
class QPushButton;

namespace tavo::installer {

// The last page of a first install: a picture of where TAVO's icon
// appears in the tray, and a close button that ends the program.
class TutorialViewController : public widgets::BaseViewController {
    Q_OBJECT

public:
    static constexpr const char* kImageName = "img_mac";

    explicit TutorialViewController(std::shared_ptr<InstallContext> context,
                                    QWidget* parent = nullptr);
    void closeButtonClicked();
    QLabel* pictureLabel() const { return picture_; }
    QPushButton* closeButton() const { return closeButton_; }

protected:
    void viewDidLoad() override;
    void viewDidDisappear() override;

private:
    std::shared_ptr<InstallContext> context_;
    QLabel* picture_;
    QPushButton* closeButton_;
};

}  // namespace tavo::installer
