#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/Const.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;
using tavo::Const;
using tavo::test::Sandbox;

class ConstTest : public tavo::test::SandboxTest {};

TEST_F(ConstTest, VersionedApplicationFolders) {
    EXPECT_EQ(Const::applicationDirectoryNameWithVersion(std::nullopt), "TAVO-Ver");
    EXPECT_EQ(Const::applicationDirectoryNameWithVersion("2.1.0"), "TAVO-Ver2.1.0");
    EXPECT_EQ(Const::applicationDirectoryPathWithVersion("2.1.0"),
              sandbox.path("/opt/Oskavelle/TAVO-Ver2.1.0/"));
    EXPECT_EQ(Const::applicationUpdateFileNameWithVersion("2.2.0"), "TAVO-Ver2.2.0.zip");
    EXPECT_EQ(Const::applicationUpdateFileNameWithVersion(std::nullopt), "TAVO-Ver.zip");
    EXPECT_TRUE(Const::applicationDirectoryPrefixEnumerate().empty());

    for (const char* name : {"TAVO-Ver2.0.0", "TAVO-Ver2.1.0", "Other", "TAVO"})
        fs::create_directories(sandbox.path("/opt/Oskavelle/") + name);
    auto names = Const::applicationDirectoryPrefixEnumerate();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"TAVO-Ver2.0.0", "TAVO-Ver2.1.0"}));
}

TEST_F(ConstTest, UserPlacesLieInTheHomeFolder) {
    const std::string area = sandbox.home() + "/.local/share/Oskavelle/TAVO";
    EXPECT_EQ(*Const::applicationUserAreaDirectoryPath(), area);
    EXPECT_EQ(*Const::applicationConfigPlistPath(), area + "/TAVO.config.plist");
    EXPECT_EQ(*Const::applicationFontPlistPath(), area + "/TAVO.font.plist");
    EXPECT_EQ(*Const::applicationServerPlistPath(), area + "/TAVO.server.plist");
    EXPECT_EQ(*Const::getLogModeSettingFilePath(), area + "/.debug.ini");
    EXPECT_EQ(*Const::applicationDownloadFontTempolaryDirectoryPath(), area + "/Download Font");
    EXPECT_EQ(*Const::applicationUpdateFilePathWithVersion("3"), area + "/TAVO-Ver3.zip");
    EXPECT_EQ(*Const::userFontDirectoryPath("bob"),
              sandbox.path("/home/bob/.local/share/Oskavelle/TAVO/Fonts"));
    EXPECT_EQ(Const::appConfigDir("bob"), sandbox.path("/home/bob/.local/share/Oskavelle/TAVO"));
    EXPECT_EQ(Const::applicationLaunchAgentPlistPath(),
              sandbox.path("/etc/xdg/autostart/oskavelle.TAVO.desktop"));
    // A name that is no user's cannot lead outside the homes folder.
    EXPECT_FALSE(Const::applicationConfigPlistPath("../etc"));
    EXPECT_FALSE(Const::userFontDirectoryPath("a/b"));
}

TEST_F(ConstTest, EveryUsersFontFoldersAndFiles) {
    for (const char* user : {"alice", "bob"})
        fs::create_directories(*Const::userFontDirectoryPath(user));
    fs::create_directories(sandbox.path("/home/Shared"));  // no font folder
    auto fonts = Const::allUserFontDirectoryPaths();
    std::sort(fonts.begin(), fonts.end());
    EXPECT_EQ(fonts, (std::vector<std::string>{*Const::userFontDirectoryPath("alice"),
                                               *Const::userFontDirectoryPath("bob")}));

    Sandbox::writeFile(*Const::applicationFontPlistPath("alice"), "x");
    Sandbox::writeFile(*Const::applicationConfigPlistPath("alice"), "x");
    const auto plists = Const::allUserDirectoryPlistPaths();
    ASSERT_EQ(plists.size(), 2u);
    EXPECT_EQ(plists[0], *Const::applicationConfigPlistPath("alice"));
    EXPECT_EQ(plists[1], *Const::applicationFontPlistPath("alice"));
}

TEST(ConstUserAgent, ParsesTheVersionReport) {
    const std::string version = Const::getCurrentAppVersion();
    EXPECT_EQ(Const::userAgent(""), "TAVO/" + version + " (Mac 0.0)");
    EXPECT_EQ(
        Const::userAgent("ProductName:\tmacOS\nProductVersion:\t10.15.7\nBuildVersion:\t19H2\n"),
        "TAVO/" + version + " (Mac 10.15.7.19H2)");
    EXPECT_EQ(Const::userAgent("ProductName:\t\tDebian "
                               "GNU/Linux\nProductVersion:\t\t12\nBuildVersion:\t6.1.0-18-amd64"),
              "TAVO/" + version + " (Mac 12.6.1.0-18-amd64)");
    // Without the tab the whole line counts, as the report's parser always did.
    EXPECT_EQ(Const::userAgent("ProductVersion: 14.1"),
              "TAVO/" + version + " (Mac ProductVersion: 14.1.0)");
}
