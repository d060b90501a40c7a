#include "signin/ThirdUnitNgDialogViewController.h"

#include <QBrush>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <utility>

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/qt/Images.h"
#include "platform/qt/widgets/AlertUtil.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"

namespace tavo::signin {

namespace {

constexpr int kPageWidth = 460;
constexpr int kDeviceManagementSize = 12;
constexpr int kLogoutButtonSize = 10;
constexpr int kIconColumnWidth = 32;
constexpr int kLogoutColumnWidth = 110;
constexpr int kVisibleRows = 5;
constexpr const char* kDeviceIconName = "icon_mac";

enum Column {
    kIconColumn = 0,
    kNameColumn = 1,
    kUserColumn = 2,
    kSystemColumn = 3,
    kButtonColumn = 4,
    kColumnCount = 5
};

}  // namespace

ThirdUnitNgDialogViewController::ThirdUnitNgDialogViewController(
    std::shared_ptr<SignInSession> session, QWidget* parent)
    : SignInPage(std::move(session), parent) {
    logoImage_ = makeLogo();
    subTitleLabel_ = makeTitle();
    descriptionLabel_ = makeLabel("DescriptionLabel");
    deviceManagementLabel_ = makeSubtitle("DeviceManagementLabel", kDeviceManagementSize);
    changeDeviceDescriptionLabel_ = makeLabel("ChangeDeviceDescriptionLabel");
    nextButton_ = makeButton("NextButton");

    deviceTableView_ = new QTableWidget(0, kColumnCount, this);
    deviceTableView_->setObjectName(QStringLiteral("DeviceTableView"));
    const char* columns[kColumnCount] = {kIconsDevicesColumn, kDeviceNameColumn, kDeviceUserColumn,
                                         kDeviceSystemColumn, kLogoutColumn};
    for (int column = 0; column < kColumnCount; ++column) {
        auto* header = new QTableWidgetItem;
        header->setData(Qt::UserRole, QString::fromUtf8(columns[column]));
        deviceTableView_->setHorizontalHeaderItem(column, header);
    }
    deviceTableView_->horizontalHeader()->hide();
    deviceTableView_->verticalHeader()->hide();
    deviceTableView_->verticalHeader()->setMinimumSectionSize(kTableRowHeight);
    deviceTableView_->verticalHeader()->setDefaultSectionSize(kTableRowHeight);
    deviceTableView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    deviceTableView_->horizontalHeader()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    for (int column : {kUserColumn, kSystemColumn})
        deviceTableView_->horizontalHeader()->setSectionResizeMode(column,
                                                                   QHeaderView::ResizeToContents);
    deviceTableView_->setColumnWidth(kIconColumn, kIconColumnWidth);
    deviceTableView_->setColumnWidth(kButtonColumn, kLogoutColumnWidth);
    deviceTableView_->setIconSize(QSize(kTableRowHeight - 6, kTableRowHeight - 6));
    deviceTableView_->setShowGrid(false);
    deviceTableView_->setSelectionMode(QAbstractItemView::NoSelection);
    deviceTableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    deviceTableView_->setFocusPolicy(Qt::NoFocus);
    deviceTableView_->setFixedHeight(kTableRowHeight * kVisibleRows + 2);

    auto* layout = makeColumn(logoImage_, subTitleLabel_, kPageWidth);
    layout->addWidget(descriptionLabel_);
    layout->addSpacing(8);
    layout->addWidget(deviceManagementLabel_);
    layout->addWidget(deviceTableView_);
    layout->addWidget(changeDeviceDescriptionLabel_);
    layout->addSpacing(8);
    layout->addWidget(nextButton_);

    connect(nextButton_, &QPushButton::clicked, this, [this] { nextButtonClicked(); });
}

void ThirdUnitNgDialogViewController::viewDidLoad() {
    ILog("Start ThirdUnitNgWindow");
    session().sessionState().setWindowAppear(kWindowAppearThirdUnitNgDialog);
    request([](SignInFlow& flow) { return flow.devices(); },
            [this](const std::vector<DeviceEntry>& devices) { setDevices(devices); });
    setWindowTitleKey("Device management");
    subTitleLabel_->setText(localizedText("Currently using TAVO two devices"));
    descriptionLabel_->setText(localizedText("Device description"));
    deviceManagementLabel_->setText(localizedText("Devices using TAVO fonts"));
    changeDeviceDescriptionLabel_->setText(localizedText("Device management description"));
    nextButton_->setText(localizedText("Next"));
    reloadData();
}

void ThirdUnitNgDialogViewController::viewDidDisappear() {
    session().sessionState().unsetWindowAppear(kWindowAppearThirdUnitNgDialog);
    ILog("End ThirdUnitNgWindow");
}

void ThirdUnitNgDialogViewController::setDevices(const std::vector<DeviceEntry>& devices) {
    deviceNameArray_.clear();
    deviceIDArray_.clear();
    deviceActiveArray_.clear();
    devices_ = devices;
    for (const DeviceEntry& device : devices) {
        deviceNameArray_.push_back(device.name);
        deviceIDArray_.push_back(device.deviceId);
        deviceActiveArray_.push_back(device.active ? kActive : kInActive);
    }
    reloadData();
}

void ThirdUnitNgDialogViewController::reloadData() {
    const int rows = numberOfRowsInTableView();
    deviceTableView_->setRowCount(rows);
    for (int row = 0; row < rows; ++row)
        fillRow(row);
}

void ThirdUnitNgDialogViewController::fillRow(int row) {
    const bool active = deviceActiveArray_[row] == kActive;

    auto* icon = new QTableWidgetItem;
    icon->setIcon(platform::imageNamed(kDeviceIconName));
    deviceTableView_->setItem(row, kIconColumn, icon);

    // The theme's colours: readable on a dark theme as on a light one.
    const QBrush textColour =
        palette().brush(active ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    const DeviceEntry& device = devices_[row];  // set with the name array, row for row
    const std::pair<int, std::string> cells[] = {{kNameColumn, device.hostname},
                                                 {kUserColumn, device.osUserName},
                                                 {kSystemColumn, device.system}};
    for (const auto& [column, value] : cells) {
        auto* cell = new QTableWidgetItem(QString::fromStdString(value));
        cell->setForeground(textColour);
        deviceTableView_->setItem(row, column, cell);
    }

    auto* button = new QPushButton(active ? localizedText("Logout") : localizedText("Logged out"));
    button->setObjectName(QString::fromUtf8(kLogoutColumn));
    button->setProperty("tag", row);
    button->setFont(boldFont(kLogoutButtonSize));
    button->setAutoDefault(false);
    if (active) {
        button->setEnabled(!releasing_.count(row));
        connect(button, &QPushButton::clicked, this, [this, row] { logoutButtonClicked(row); });
    } else {
        button->setFlat(true);
        button->setEnabled(false);
    }
    deviceTableView_->setCellWidget(row, kButtonColumn, button);
}

void ThirdUnitNgDialogViewController::logoutButtonClicked(int tag) {
    ILog("Start ThirdUnitNgDialogViewController logoutButtonClicked");
    if (tag < 0 || tag >= numberOfRowsInTableView() || deviceActiveArray_[tag] != kActive ||
        releasing_.count(tag)) {
        ILog("End ThirdUnitNgDialogViewController logoutButtonClicked");
        return;
    }
    releasing_.insert(tag);
    nextButton_->setEnabled(false);  // Next waits for the device to be logged out
    if (auto* button = deviceTableView_->cellWidget(tag, kButtonColumn))
        button->setEnabled(false);
    request([target = deviceIDArray_[tag]](SignInFlow& flow) { return flow.releaseDevice(target); },
            [this, tag](bool released) {
                releasing_.erase(tag);
                nextButton_->setEnabled(releasing_.empty());
                if (released) {
                    deviceActiveArray_[tag] = kInActive;
                } else {
                    // The alert runs its own event loop, which may close the window.
                    QPointer<ThirdUnitNgDialogViewController> self(this);
                    widgets::AlertUtil::runModalWithMessage(localized("Failed logout the device"),
                                                            localized("Logout of the device"));
                    if (!self)
                        return;
                }
                reloadData();
                ILog("End ThirdUnitNgDialogViewController logoutButtonClicked");
            });
}

void ThirdUnitNgDialogViewController::nextButtonClicked() {
    ILog("Start ThirdUnitNgDialogViewController nextButtonClicked");
    if (!releasing_.empty()) {
        ILog("End ThirdUnitNgDialogViewController nextButtonClicked");
        return;
    }
    nextButton_->setEnabled(false);
    request([](SignInFlow& flow) { return flow.takeIntoUse(); },
            [this](const StepOutcome& outcome) {
                if (outcome.segue && *outcome.segue == kSegueLogin)
                    session().setReturnReason(outcome.returnReason.value_or(""));
                applyOutcome(outcome, nullptr, nextButton_);
                ILog("End ThirdUnitNgDialogViewController nextButtonClicked");
            });
}

}  // namespace tavo::signin
