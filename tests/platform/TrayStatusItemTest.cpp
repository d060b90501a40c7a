// The tray item: entries by tag, the status line, the delegate, the images,
// and the wait for a tray that is not there yet.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidgetAction>
#include <chrono>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/Localization.h"
#include "platform/GuiTestApplication.h"
#include "platform/qt/Images.h"
#include "platform/qt/TrayStatusItem.h"
#include "support/Sandbox.h"

namespace tavo::platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 10s;

const std::vector<std::string> kImageNames = {"QXRStatusBarItemIconlogin",
                                              "QXRStatusBarItemIconlogout",
                                              "QXRStatusBarItemIconNotified",
                                              "QXRStatusBarItemIconfinish",
                                              "QXRStatusBarItemIconworking_1",
                                              "QXRStatusBarItemIconworking_2",
                                              "QXRStatusBarItemIconworking_3",
                                              "TAVO_logo3",
                                              "icon_mac"};

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class TrayStatusItemTest : public test::QtMainQueueTest {
protected:
    TrayStatusItem::Options trayAlwaysThere() {
        TrayStatusItem::Options options;
        options.trayAvailable = [] { return true; };
        return options;
    }
    test::Sandbox sandbox;
};

TEST_F(TrayStatusItemTest, EntriesCarryTheirTagsAndTitlesInMenuOrder) {
    TrayStatusItem item(trayAlwaysThere());
    std::vector<int> tags;
    for (QAction* entry : item.menu()->actions()) {
        if (!entry->isSeparator())
            tags.push_back(entry->data().toInt());
    }
    EXPECT_EQ(tags, (std::vector<int>{1, 2, 3, 4, 5, 9, 6, 7, 8}));

    const std::vector<std::pair<int, std::string>> titles = {
        {2, "Menu account"},       {3, "Menu font list"}, {4, "Menu synchronize fonts"},
        {5, "Notice information"}, {6, "Menu version"},   {7, "Menu help"},
        {8, "Menu logout"},        {9, "Menu update"}};
    for (const auto& [tag, key] : titles) {
        ASSERT_NE(item.action(tag), nullptr) << tag;
        EXPECT_EQ(item.action(tag)->data().toInt(), tag);
        EXPECT_EQ(item.itemTitle(tag), localized(key)) << tag;
    }
    EXPECT_NE(qobject_cast<QWidgetAction*>(item.action(1)), nullptr);
    EXPECT_EQ(item.action(0), nullptr);
    EXPECT_EQ(item.action(10), nullptr);
    item.setItemTitle(10, "nowhere");  // unknown tags change nothing
    item.setItemHidden(10, true);
}

TEST_F(TrayStatusItemTest, StatusLineShowsBothLinesAsPlainText) {
    TrayStatusItem item(trayAlwaysThere());
    QLabel* line = item.statusLine();
    ASSERT_NE(line, nullptr);
    item.setItemTitle(1, "Font A");
    const int oneLine = line->sizeHint().height();

    item.setItemTitle(1, "Downloading fonts 33%\nFontA,FontB");
    EXPECT_EQ(line->text().toStdString(), "Downloading fonts 33%\nFontA,FontB");
    EXPECT_EQ(item.itemTitle(1), "Downloading fonts 33%\nFontA,FontB");
    EXPECT_GE(line->sizeHint().height(), oneLine + QFontMetrics(line->font()).lineSpacing() - 1);
    // The tray's own menus show the entry's text.
    EXPECT_EQ(item.action(1)->text().toStdString(), "Downloading fonts 33%\nFontA,FontB");

    item.setItemTitle(1, "<b>Smith & Co</b>\nsmith@example.com");
    EXPECT_EQ(line->textFormat(), Qt::PlainText);
    EXPECT_EQ(item.itemTitle(1), "<b>Smith & Co</b>\nsmith@example.com");
}

TEST_F(TrayStatusItemTest, TitlesKeepAmpersandsAndEntriesHide) {
    TrayStatusItem item(trayAlwaysThere());
    item.setItemTitle(5, "Notices (3)");
    EXPECT_EQ(item.itemTitle(5), "Notices (3)");
    item.setItemTitle(5, "R&D notices");
    EXPECT_EQ(item.action(5)->text().toStdString(), "R&&D notices");  // no mnemonic
    EXPECT_EQ(item.itemTitle(5), "R&D notices");

    item.setItemHidden(9, true);
    EXPECT_FALSE(item.action(9)->isVisible());
    item.setItemHidden(9, false);
    EXPECT_TRUE(item.action(9)->isVisible());

    for (int tag = 1; tag <= 9; ++tag)
        item.setItemHidden(tag, true);
    EXPECT_TRUE(item.menu()->isEmpty());  // separators alone show nothing
}

TEST_F(TrayStatusItemTest, DelegateHearsOpeningClosingAndEntries) {
    TrayStatusItem item(trayAlwaysThere());
    std::vector<std::string> calls;
    item.setDelegate({[&] { calls.push_back("open"); }, [&] { calls.push_back("close"); },
                      [&](int tag) { calls.push_back("tag " + std::to_string(tag)); }});

    item.menu()->popup(QPoint(10, 10));
    EXPECT_TRUE(item.menu()->isVisible());
    item.menu()->hide();
    for (int tag = 1; tag <= 9; ++tag)
        item.action(tag)->trigger();  // the status line is no action
    EXPECT_EQ(calls, (std::vector<std::string>{"open", "close", "tag 2", "tag 3", "tag 4", "tag 5",
                                               "tag 6", "tag 7", "tag 8", "tag 9"}));

    // A left click on the icon opens the same menu, and so does a right one.
    calls.clear();
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(item.menu()->isVisible());
    item.menu()->hide();
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(item.menu()->isVisible());
    item.menu()->hide();
    // A click soon after the last one comes as a double click.
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(item.menu()->isVisible());
    item.menu()->hide();
    EXPECT_EQ(calls, (std::vector<std::string>{"open", "close", "open", "close", "open", "close"}));
}

TEST_F(TrayStatusItemTest, EveryClickOpensTheMenuAfreshEvenWhenItIsBelievedOpen) {
    TrayStatusItem item(trayAlwaysThere());
    std::vector<std::string> calls;
    item.setDelegate(
        {[&] { calls.push_back("open"); }, [&] { calls.push_back("close"); }, nullptr});
    for (int click = 0; click < 3; ++click) {
        Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Trigger);
        EXPECT_TRUE(item.menu()->isVisible()) << click;
    }
    item.menu()->hide();
    EXPECT_EQ(calls, (std::vector<std::string>{"open", "close", "open", "close", "open", "close"}));
}

TEST_F(TrayStatusItemTest, AMenuLeftWithNothingToShowDoesNotPopUp) {
    TrayStatusItem item(trayAlwaysThere());
    std::vector<std::string> calls;
    // As the application does signed out: every entry hidden, a window shown.
    item.setDelegate({[&] {
                          calls.push_back("open");
                          for (int tag = 1; tag <= 9; ++tag)
                              item.setItemHidden(tag, true);
                      },
                      [&] { calls.push_back("close"); }, nullptr});
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(item.menu()->isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"open", "close"}));

    // Entries shown again: the next click pops the menu up.
    item.setDelegate({[&] {
                          calls.push_back("open");
                          for (int tag = 1; tag <= 9; ++tag)
                              item.setItemHidden(tag, false);
                      },
                      [&] { calls.push_back("close"); }, nullptr});
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(item.menu()->isVisible());
    item.menu()->hide();
    EXPECT_EQ(calls.size(), 4u);
}

TEST_F(TrayStatusItemTest, DisabledItemIgnoresClicksAndGreysItsEntries) {
    TrayStatusItem item(trayAlwaysThere());
    int opened = 0;
    item.setDelegate({[&] { ++opened; }, nullptr, nullptr});
    item.setEnabled(false);
    EXPECT_FALSE(item.isEnabled());
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(item.menu()->isVisible());
    EXPECT_EQ(opened, 0);
    for (int tag = 2; tag <= 9; ++tag)
        EXPECT_FALSE(item.action(tag)->isEnabled()) << tag;
    EXPECT_TRUE(item.action(1)->isEnabled());  // the status line stays readable

    item.setEnabled(true);
    for (int tag = 2; tag <= 9; ++tag)
        EXPECT_TRUE(item.action(tag)->isEnabled()) << tag;
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(opened, 1);
    item.menu()->hide();
}

TEST_F(TrayStatusItemTest, ImageTitleAndUnknownImages) {
    test::LogCapture log(sandbox.path("/tray.log"));
    TrayStatusItem item(trayAlwaysThere());
    EXPECT_FALSE(item.trayIcon()->icon().isNull());  // never an empty icon in the tray
    item.setImage("QXRStatusBarItemIconNotified");
    EXPECT_EQ(item.image(), "QXRStatusBarItemIconNotified");
    const qint64 notified = item.trayIcon()->icon().cacheKey();
    item.setImage("QXRStatusBarItemIconworking_4");
    EXPECT_EQ(item.image(), "QXRStatusBarItemIconworking_4");
    EXPECT_EQ(item.trayIcon()->icon().cacheKey(), notified);  // the icon stays
    EXPECT_NE(log.text().find("no image named [QXRStatusBarItemIconworking_4]"), std::string::npos);

    item.setTitle("TAVO");
    EXPECT_EQ(item.trayIcon()->toolTip().toStdString(), "TAVO");
}

TEST(Images, EveryImageNameRendersThroughTheSvgEngine) {
    for (const auto& name : kImageNames) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(hasImageNamed(name));
        const QIcon icon = imageNamed(name);
        ASSERT_FALSE(icon.isNull());
        // Without the SVG icon engine an .svg icon gives no pixmap at all.
        const QPixmap fromIcon = icon.pixmap(QSize(64, 64));
        ASSERT_FALSE(fromIcon.isNull());

        const QImage image = pixmapNamed(name, QSize(64, 64)).toImage();
        ASSERT_FALSE(image.isNull());
        EXPECT_LE(image.width(), 64 * image.devicePixelRatio());
        int painted = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                painted += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(painted, image.width() * image.height() / 10);
    }
    const QPixmap logo = pixmapNamed("TAVO_logo3", QSize(300, 300));
    EXPECT_GT(logo.width(), 2 * logo.height());  // a word mark, wider than tall
}

TEST(Images, UnknownNamesGiveNothing) {
    for (const std::string name : {"", "nothing", "../images/TAVO_logo3", "images/icon_mac"}) {
        EXPECT_FALSE(hasImageNamed(name)) << name;
        EXPECT_TRUE(imageNamed(name).isNull()) << name;
        EXPECT_TRUE(pixmapNamed(name, QSize(22, 22)).isNull()) << name;
    }
    EXPECT_TRUE(pixmapNamed("icon_mac", QSize(0, 0)).isNull());
}

// ---- the wait for the tray, at a thousandth of its real pace

class TrayWaitTest : public TrayStatusItemTest {
protected:
    void SetUp() override {
        TrayStatusItemTest::SetUp();
        Clock::setCurrent(std::make_shared<ScaledClock>(0.001));
    }
    void TearDown() override {
        Clock::setCurrent(nullptr);
        TrayStatusItemTest::TearDown();
    }
};

TEST_F(TrayWaitTest, GivesUpAfterItsLimitWithOneLineEach) {
    test::LogCapture log(sandbox.path("/tray.log"));
    int looks = 0;
    TrayStatusItem::Options options;
    options.trayAvailable = [&] {
        ++looks;
        return false;
    };
    TrayStatusItem item(options);
    EXPECT_TRUE(item.isWaitingForTray());
    EXPECT_FALSE(item.isInTray());
    ASSERT_TRUE(main.runUntil([&] { return !item.isWaitingForTray(); }, kPatience));
    EXPECT_EQ(looks, 1 + 60);  // at once, then every 2 s for 2 minutes
    EXPECT_FALSE(item.isInTray());
    EXPECT_FALSE(item.trayIcon()->isVisible());

    const std::string text = log.text();
    EXPECT_EQ(count(text, "The desktop has no tray yet"), 1u) << text;
    EXPECT_EQ(count(text, "INFO"), 1u) << text;
    EXPECT_EQ(count(text,
                    "No tray appeared within 120 s: TAVO runs without its tray icon; sign in with "
                    "`tavoctl login`"),
              1u)
        << text;
    EXPECT_EQ(count(text, "ERROR"), 1u) << text;
}

TEST_F(TrayWaitTest, ShowsTheStateKeptMeanwhileOnceTheTrayAppears) {
    test::LogCapture log(sandbox.path("/tray.log"));
    bool trayUp = false;
    TrayStatusItem::Options options;
    options.trayAvailable = [&] { return trayUp; };
    TrayStatusItem item(options);
    item.setImage("QXRStatusBarItemIconlogin");
    item.setTitle("TAVO");
    item.setItemHidden(9, true);
    item.setItemTitle(1, "Last First\nmail@example.com");

    main.runUntil([] { return false; }, 20ms);  // a few looks find nothing
    EXPECT_TRUE(item.isWaitingForTray());
    trayUp = true;
    ASSERT_TRUE(main.runUntil([&] { return item.isInTray(); }, kPatience));
    EXPECT_FALSE(item.isWaitingForTray());
    EXPECT_TRUE(item.trayIcon()->isVisible());
    EXPECT_EQ(item.image(), "QXRStatusBarItemIconlogin");
    EXPECT_EQ(item.trayIcon()->toolTip().toStdString(), "TAVO");
    EXPECT_FALSE(item.action(9)->isVisible());
    EXPECT_EQ(item.itemTitle(1), "Last First\nmail@example.com");

    const std::string text = log.text();
    EXPECT_EQ(count(text, "The desktop has no tray yet"), 1u) << text;
    EXPECT_EQ(count(text, "The desktop's tray is there now"), 1u) << text;
    EXPECT_EQ(count(text, "ERROR"), 0u) << text;
}

TEST_F(TrayWaitTest, AnItemGoneWhileWaitingStopsLooking) {
    int looks = 0;
    TrayStatusItem::Options options;
    options.trayAvailable = [&] {
        ++looks;
        return false;
    };
    { TrayStatusItem item(options); }
    main.runUntil([] { return false; }, 50ms);
    EXPECT_EQ(looks, 1);
}

}  // namespace
}  // namespace tavo::platform
