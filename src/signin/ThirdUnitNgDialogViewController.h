#pragma once

#include <set>
#include <string>
#include <vector>

#include "signin/SignInPage.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace tavo::signin {

// Identifiers of the device table's columns, and its row height.
inline constexpr const char* kIconsDevicesColumn = "IconsDevicesUseImage";
inline constexpr const char* kDeviceNameColumn = "DeviceNameUseLabel";
inline constexpr const char* kLogoutColumn = "LogoutButton";
inline constexpr const char* kDeviceUserColumn = "DeviceUserLabel";
inline constexpr const char* kDeviceSystemColumn = "DeviceSystemLabel";
inline constexpr int kTableRowHeight = 24;
// Values of deviceActiveArray.
inline constexpr const char* kActive = "Active";
inline constexpr const char* kInActive = "InActive";

// The device-limit page: the account's devices, each of which the user may
// log out, then Next takes this machine into use.
class ThirdUnitNgDialogViewController : public SignInPage {
    Q_OBJECT

public:
    explicit ThirdUnitNgDialogViewController(std::shared_ptr<SignInSession> session,
                                             QWidget* parent = nullptr);

    // One entry per device, in the order the service lists them.
    const std::vector<std::string>& deviceNameArray() const { return deviceNameArray_; }
    const std::vector<std::string>& deviceIDArray() const { return deviceIDArray_; }
    const std::vector<std::string>& deviceActiveArray() const { return deviceActiveArray_; }
    // Each row shows its host, user and system apart.
    const std::vector<DeviceEntry>& devices() const { return devices_; }

    int numberOfRowsInTableView() const { return static_cast<int>(deviceNameArray_.size()); }
    // Rebuilds the table's rows from the arrays.
    void reloadData();

    // tag: the row of the button.
    void logoutButtonClicked(int tag);
    void nextButtonClicked();

protected:
    void viewDidLoad() override;
    void viewDidDisappear() override;

private:
    void setDevices(const std::vector<DeviceEntry>& devices);
    void fillRow(int row);

    QLabel* logoImage_;
    QLabel* subTitleLabel_;
    QLabel* descriptionLabel_;
    QLabel* deviceManagementLabel_;
    QTableWidget* deviceTableView_;
    QLabel* changeDeviceDescriptionLabel_;
    QPushButton* nextButton_;

    std::vector<std::string> deviceNameArray_;
    std::vector<std::string> deviceIDArray_;
    std::vector<std::string> deviceActiveArray_;
    std::vector<DeviceEntry> devices_;
    std::set<int> releasing_;  // rows whose release request runs
};

}  // namespace tavo::signin
