#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Layout.h"
#include "support/Sandbox.h"

namespace tavo::platform {
namespace {

struct Place {
    const char* name;
    std::string Layout::*member;
    const char* linuxValue;
    const char* macOSValue;
    bool absolute;
};

const std::vector<Place>& places() {
    static const std::vector<Place> table = {
        {"applicationRoot", &Layout::applicationRoot, "/opt/Oskavelle", "/Applications/Oskavelle",
         true},
        {"autostartEntry", &Layout::autostartEntry, "/etc/xdg/autostart/oskavelle.TAVO.desktop",
         "/Library/LaunchAgents/oskavelle.TAVO.plist", true},
        {"usersHomes", &Layout::usersHomes, "/home", "/Users", true},
        {"userArea", &Layout::userArea, ".local/share/Oskavelle/TAVO",
         "Library/Application Support/Oskavelle/TAVO", false},
        {"userLogs", &Layout::userLogs, ".local/state/Oskavelle/Logs", "Library/Logs", false},
        {"userFonts", &Layout::userFonts, ".local/share/Oskavelle/TAVO/Fonts", "Library/Fonts",
         false},
        {"userFontLinks", &Layout::userFontLinks, ".local/share/fonts/Oskavelle", "", false},
        {"userFontConfig", &Layout::userFontConfig, ".config/fontconfig/conf.d", "", false},
        {"machineFonts", &Layout::machineFonts, "/usr/local/share/fonts", "/Library/Fonts", true},
        {"systemFonts", &Layout::systemFonts, "/usr/share/fonts", "/System/Library/Fonts", true},
        {"polkitActions", &Layout::polkitActions, "/usr/share/polkit-1/actions", "", true},
    };
    return table;
}

TEST(LayoutTest, PlatformTablesHoldTheirPlaces) {
    const Layout linuxPlaces = Layout::linuxLayout();
    const Layout macOS = Layout::macOSLayout();
    for (const Place& p : places()) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(linuxPlaces.*p.member, p.linuxValue);
        EXPECT_EQ(macOS.*p.member, p.macOSValue);
    }
    EXPECT_FALSE(linuxPlaces.inSandbox());
    EXPECT_FALSE(macOS.inSandbox());
}

TEST(LayoutTest, RootedAtMovesOnlyTheAbsolutePlaces) {
    for (const Layout& base : {Layout::linuxLayout(), Layout::macOSLayout()}) {
        const Layout rooted = base.rootedAt("/tmp/box");
        EXPECT_TRUE(rooted.inSandbox());
        EXPECT_EQ(rooted.sandboxRoot, "/tmp/box");
        for (const Place& p : places()) {
            SCOPED_TRACE(p.name);
            if (p.absolute && !(base.*p.member).empty())
                EXPECT_EQ(rooted.*p.member, "/tmp/box" + base.*p.member);
            else
                EXPECT_EQ(rooted.*p.member, base.*p.member);
        }
    }
}

class LayoutSandboxTest : public test::SandboxTest {};

TEST_F(LayoutSandboxTest, CurrentLayoutLiesUnderTheSandboxRoot) {
    EXPECT_EQ(sandboxRoot(), sandbox.root());
    const Layout current = Layout::current();
    EXPECT_EQ(current.sandboxRoot, sandbox.root());
    EXPECT_EQ(current.applicationRoot, sandbox.root() + "/opt/Oskavelle");
    EXPECT_EQ(current.usersHomes, sandbox.root() + "/home");
    EXPECT_EQ(current.autostartEntry, sandbox.root() + "/etc/xdg/autostart/oskavelle.TAVO.desktop");
    EXPECT_EQ(current.userArea, ".local/share/Oskavelle/TAVO");
}

TEST_F(LayoutSandboxTest, SwitchingTheRootSwitchesTheLayout) {
    setSandboxRoot("/srv/other");
    EXPECT_EQ(Layout::current().machineFonts, "/srv/other/usr/local/share/fonts");

    // Outside a sandbox the places are the platform's own (nothing is touched here).
    setSandboxRoot("");
    const Layout plain = Layout::current();
    EXPECT_FALSE(plain.inSandbox());
    EXPECT_EQ(plain.applicationRoot, Layout::linuxLayout().applicationRoot);
    EXPECT_EQ(plain.systemFonts, Layout::linuxLayout().systemFonts);

    setSandboxRoot(sandbox.root());
    EXPECT_EQ(Layout::current().sandboxRoot, sandbox.root());
}

}  // namespace
}  // namespace tavo::platform
