#include "installer/widgets/TutorialViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "foundation/Clock.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/qt/Images.h"

namespace tavo::installer {

namespace {
constexpr int kPictureWidth = 480;
constexpr int kPictureHeight = 300;
}  // namespace

TutorialViewController::TutorialViewController(std::shared_ptr<InstallContext> context,
                                               QWidget* parent)
    : BaseViewController(parent), context_(std::move(context)) {
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("TutorialImage"));
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setPixmap(platform::pixmapNamed(kImageName, QSize(kPictureWidth, kPictureHeight)));
    closeButton_ = new QPushButton(QString::fromStdString(localized("Close")), this);
    closeButton_->setObjectName(QStringLiteral("CloseButton"));
    closeButton_->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(closeButton_);
    row->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(picture_);
    layout->addLayout(row);
    connect(closeButton_, &QPushButton::clicked, this, [this] { closeButtonClicked(); });
}

void TutorialViewController::viewDidLoad() {
    ILog("Start TutorialViewController");
    if (QWidget* top = window())
        top->setWindowTitle(QString());
    windowCloseButtonEnabled(false);
    windowMiniaturizeButtonEnabled(false);
    windowZoomButtonEnabled(false);
    windowButtonHidden(true);
}

void TutorialViewController::viewDidDisappear() {
    ILog("End TutorialViewController");
}

void TutorialViewController::closeButtonClicked() {
    ILog("Start TutorialViewController closeButtonClicked");
    closeButton_->setEnabled(false);
    QPointer<TutorialViewController> self = this;
    auto context = context_;
    const auto pause = Clock::current().realDelay(std::chrono::milliseconds(500));
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(pause), this,
                       [self, context] {
                           if (QWidget* top = self ? self->window() : nullptr)
                               top->setGeometry(0, 0, 1, 1);
                           // Two hops through the main queue, then the window
                           // closes and the program ends with it.
                           MainQueue::main().async([self, context] {
                               MainQueue::main().async([self, context] {
                                   if (self)
                                       self->closeWindow();
                                   context->terminate();
                               });
                           });
                       });
    ILog("End TutorialViewController closeButtonClicked");
}

}  // namespace tavo::installer
