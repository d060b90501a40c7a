// The device-limit page: the account's devices, logging one out, and Next.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

#include "SignInGuiFixture.h"
#include "signin/SignInFlow.h"
#include "signin/ThirdUnitNgDialogViewController.h"

namespace tavo::test {
namespace {

class DeviceLimitPageTest : public SignInGuiFixture {
protected:
    // Signs in to the account that uses all its devices and waits for its
    // three devices to be listed.
    void reachDevicePage() {
        openWindow();
        signInWith(kLimitMail, kPassword);
        ASSERT_TRUE(waitForPage(signin::kSegueThirdUnitNgDialog));
        table = element<QTableWidget>("DeviceTableView");
        ASSERT_NE(table, nullptr);
        ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 3; }));
    }

    QPushButton* rowButton(int row) const {
        return qobject_cast<QPushButton*>(table->cellWidget(row, table->columnCount() - 1));
    }
    // Host, user and system, each in a column of its own.
    QString rowName(int row) const {
        return table->item(row, 1)->text() + " " + table->item(row, 2)->text();
    }
    QString rowSystem(int row) const { return table->item(row, 3)->text(); }
    QColor activeColor() const { return table->palette().color(QPalette::Active, QPalette::Text); }
    QColor greyColor() const { return table->palette().color(QPalette::Disabled, QPalette::Text); }
    QColor rowColor(int row) const { return table->item(row, 1)->foreground().color(); }

    QTableWidget* table = nullptr;
};

TEST_F(DeviceLimitPageTest, ReleasingTheSecondDeviceGreysOnlyItsRow) {
    reachDevicePage();
    EXPECT_EQ(window->windowTitle(), text("Device management"));
    EXPECT_TRUE(sessionState.isWindowAppear(kWindowAppearThirdUnitNgDialog));
    EXPECT_FALSE(client.refreshToken().value_or("").empty());  // the 1005 answer's tokens
    EXPECT_EQ(rowName(0), "office-mac ada");
    EXPECT_EQ(rowName(1), "studio-mac ada");
    EXPECT_EQ(rowName(2), "home-mac ada");
    EXPECT_EQ(rowSystem(0), "Mac 13.4");
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(table->rowHeight(row), signin::kTableRowHeight);
        EXPECT_FALSE(table->item(row, 0)->icon().isNull());
        ASSERT_NE(rowButton(row), nullptr);
        EXPECT_EQ(rowButton(row)->text(), text("Logout"));
        EXPECT_TRUE(rowButton(row)->isEnabled());
        EXPECT_EQ(rowColor(row), activeColor());
        // The platform's button, not one painted by a style sheet.
        EXPECT_TRUE(rowButton(row)->styleSheet().isEmpty());
    }

    QTest::mouseClick(rowButton(1), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return rowButton(1)->text() == text("Logged out"); }));
    EXPECT_FALSE(rowButton(1)->isEnabled());
    EXPECT_TRUE(rowButton(1)->isFlat());
    EXPECT_EQ(rowColor(1), greyColor());
    EXPECT_NE(greyColor(), activeColor());
    for (int row : {0, 2}) {
        SCOPED_TRACE(row);
        EXPECT_EQ(rowButton(row)->text(), text("Logout"));
        EXPECT_TRUE(rowButton(row)->isEnabled());
        EXPECT_EQ(rowColor(row), activeColor());
    }
    const auto released = requests("/api/v1/device/out-of-use");
    ASSERT_EQ(released.size(), 1u);
    EXPECT_NE(released[0]["body"].get<std::string>().find("DEVICE0000000002"), std::string::npos);
    auto* page = qobject_cast<signin::ThirdUnitNgDialogViewController*>(this->page());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->deviceActiveArray(),
              (std::vector<std::string>{signin::kActive, signin::kInActive, signin::kActive}));

    click("NextButton");
    ASSERT_TRUE(waitForPage(signin::kSegueLoginCompletion));
    EXPECT_EQ(loginSuccessCount, 1);
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearThirdUnitNgDialog));
}

TEST_F(DeviceLimitPageTest, FailedReleaseIsToldAndTheDeviceStaysInUse) {
    reachDevicePage();
    addFault({{"path", "/api/v1/device/out-of-use"},
              {"status", 400},
              {"body", R"({"code":1001,"message":"unknown device"})"},
              {"count", 1}});
    ModalAnswer alert;
    answerNextModal(&alert, 0);
    QTest::mouseClick(rowButton(0), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return alert.answered; }));
    EXPECT_EQ(alert.text, localized("Logout of the device"));
    EXPECT_EQ(alert.informativeText, localized("Failed logout the device"));
    ASSERT_TRUE(waitUntil([&] { return rowButton(0)->isEnabled(); }));
    EXPECT_EQ(rowButton(0)->text(), text("Logout"));
    EXPECT_EQ(rowColor(0), activeColor());
}

TEST_F(DeviceLimitPageTest, NextWaitsForARunningRelease) {
    reachDevicePage();
    addFault({{"path", "/api/v1/device/out-of-use"}, {"delayMs", 400}, {"count", 1}});
    QTest::mouseClick(rowButton(0), Qt::LeftButton);
    EXPECT_FALSE(button("NextButton")->isEnabled());
    auto* page = qobject_cast<signin::ThirdUnitNgDialogViewController*>(this->page());
    ASSERT_NE(page, nullptr);
    page->nextButtonClicked();  // even when called directly, Next waits
    ASSERT_TRUE(waitUntil([&] { return rowButton(0)->text() == text("Logged out"); }));
    EXPECT_TRUE(button("NextButton")->isEnabled());
    EXPECT_TRUE(requests("/api/v1/device/in-use").empty());
}

TEST_F(DeviceLimitPageTest, NextRefusedGoesBackToSignInAndABrokenNextClosesTheWindow) {
    reachDevicePage();
    // Still at the limit: the service refuses and the user starts over, told
    // why, with the address already filled in.
    click("NextButton");
    ASSERT_TRUE(waitForPage(signin::kSegueLogin));
    EXPECT_TRUE(sessionState.isWindowAppear(kWindowAppearLogin));
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearThirdUnitNgDialog));
    ASSERT_NE(button("LoginButton"), nullptr);
    EXPECT_EQ(element<QLineEdit>("MailAdreesTextField")->text().toStdString(), kLimitMail);
    QLabel* reason = label("ErrorMessageLabel");
    ASSERT_NE(reason, nullptr);
    EXPECT_FALSE(reason->isHidden());
    EXPECT_TRUE(reason->text().contains(QStringLiteral("maximum number of devices")))
        << reason->text().toStdString();

    // A refusal without words of its own gets the page's text.
    signInWith(kLimitMail, kPassword);
    ASSERT_TRUE(waitForPage(signin::kSegueThirdUnitNgDialog));
    addFault({{"path", "/api/v1/device/in-use"},
              {"status", 400},
              {"body", R"({"code":1005})"},
              {"count", 1}});
    click("NextButton");
    ASSERT_TRUE(waitForPage(signin::kSegueLogin));
    EXPECT_EQ(label("ErrorMessageLabel")->text(), text("Device limit still reached"));
    EXPECT_FALSE(label("ErrorMessageLabel")->isHidden());

    signInWith(kLimitMail, kPassword);
    ASSERT_TRUE(waitForPage(signin::kSegueThirdUnitNgDialog));
    addFault({{"path", "/api/v1/device/in-use"}, {"drop", true}, {"count", 1}});
    click("NextButton");
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearThirdUnitNgDialog));
    EXPECT_EQ(loginSuccessCount, 0);
}

}  // namespace
}  // namespace tavo::test
