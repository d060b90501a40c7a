#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <thread>

#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/CryptorUtil.h"
#include "foundation/Log.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;
using namespace tavo;
using tavo::test::Sandbox;

class ConfigTest : public tavo::test::SandboxTest {};

TEST_F(ConfigTest, CreatingTheUserConfigurationKeepsOnlyTheUpdateState) {
    EXPECT_FALSE(Config::userConfig());
    Config::createConfigPlist(std::nullopt);  // creates the folder chain too
    auto config = Config::userConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ(*plistGet<PlistData>(*config, kConfigDeviceKey), PlistData{});
    EXPECT_EQ(*plistGet<std::string>(*config, kConfigHelpPageURL), TAVO_HELP_URL);
    EXPECT_EQ(*plistGet<bool>(*config, kConfigForcedUpdate), false);

    (*config)[kConfigSpecifiedVersion] = "2.2.0";
    (*config)[kConfigUpdateVersion] = "2.3.0";
    (*config)[kConfigForcedUpdate] = true;
    (*config)[kConfigGenerationCurrentVersion] = "2.1.0";
    (*config)[kConfigGenerationPreviousVersion] = "2.0.0";
    (*config)[kConfigGenerationLatestVersion] = "9.9.9";
    (*config)[kConfigDeviceId] = *CryptorUtil::encryptString("device-1");
    (*config)[kConfigRefreshTokens] = *CryptorUtil::encryptString("refresh");
    (*config)[kConfigMailAddress] = *CryptorUtil::encryptString("a@example.com");
    (*config)[kConfigLastEventID] = "41";
    (*config)[kConfigScheduledDate] = Clock::current().systemNow();
    ASSERT_TRUE(Config::writeToUserConfig(*config, true, nullptr));

    const auto key = *CryptorUtil::encryptString("device-key");
    Config::createConfigPlist(key);
    const auto fresh = *Config::userConfig();
    EXPECT_EQ(*plistGet<std::string>(fresh, kConfigSpecifiedVersion), "2.2.0");
    EXPECT_EQ(*plistGet<std::string>(fresh, kConfigUpdateVersion), "2.3.0");
    EXPECT_EQ(*plistGet<bool>(fresh, kConfigForcedUpdate), true);
    EXPECT_EQ(*plistGet<std::string>(fresh, kConfigGenerationCurrentVersion), "2.1.0");
    EXPECT_EQ(*plistGet<std::string>(fresh, kConfigGenerationPreviousVersion), "2.0.0");
    EXPECT_EQ(*plistGet<std::string>(fresh, kConfigGenerationLatestVersion), "");
    EXPECT_EQ(*plistGet<std::string>(fresh, kConfigDeviceId), "");
    EXPECT_EQ(*plistGet<std::string>(fresh, kConfigRefreshTokens), "");
    EXPECT_EQ(Config::decryptedValue(fresh, kConfigDeviceKey), "device-key");
    for (const char* gone : {kConfigMailAddress, kConfigLastEventID, kConfigScheduledDate})
        EXPECT_EQ(fresh.count(gone), 0u) << gone;
}

TEST_F(ConfigTest, UserConfigurationIsPrivate) {
    Config::createConfigPlist(std::nullopt);
    struct stat st {};
    ASSERT_EQ(stat(Config::userConfigPath()->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(Config::writeToUserConfig(*Config::userConfig(), false, nullptr));
    ASSERT_EQ(stat(Config::userConfigPath()->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ConfigTest, FontListIsNeverOverwritten) {
    Config::createFontPlist();
    ASSERT_TRUE(Config::fontList());
    EXPECT_TRUE(Config::fontList()->empty());

    PlistDict list{{"123", PlistDict{{kFontFileName, "a.otf"}}}};
    ASSERT_TRUE(Config::writeFontList(list));
    Config::createFontPlist();
    EXPECT_EQ(*Config::fontList(), list);

    // An unreadable list reads as missing and still is not replaced.
    Sandbox::writeFile(*Config::fontListPath(), "not a plist");
    EXPECT_FALSE(Config::fontList());
    Config::createFontPlist();
    EXPECT_EQ(Sandbox::readFile(*Config::fontListPath()), "not a plist");
}

TEST_F(ConfigTest, UnreadableUserConfigurationReadsAsMissing) {
    Sandbox::writeFile(*Config::userConfigPath(), "<plist><dict><key>x</key>");
    EXPECT_FALSE(Config::userConfig());
    Sandbox::writeFile(*Config::userConfigPath(), "<plist version=\"1.0\"><array/></plist>");
    EXPECT_FALSE(Config::userConfig());  // not a dictionary
}

TEST_F(ConfigTest, WriteFailureIsReported) {
    EXPECT_FALSE(Config::writeToUserConfig(PlistDict{}, true, nullptr));  // no folder yet
    EXPECT_FALSE(Sandbox::exists(*Config::userConfigPath()));
}

TEST_F(ConfigTest, EncryptedAndPlainValues) {
    PlistDict dict{{"plain", ""},
                   {"secret", *CryptorUtil::encryptString("tok")},
                   {"broken", PlistData(16, 7)},
                   {"number", 3}};
    EXPECT_EQ(Config::decryptedValue(dict, "plain"), "");
    EXPECT_EQ(Config::decryptedValue(dict, "secret"), "tok");
    EXPECT_FALSE(Config::decryptedValue(dict, "broken"));
    EXPECT_FALSE(Config::decryptedValue(dict, "number"));
    EXPECT_FALSE(Config::decryptedValue(dict, "absent"));
}

TEST_F(ConfigTest, ServerAddressesFromTheServerConfiguration) {
    EXPECT_EQ(Config::deliveServerName(), TAVO_API_ENDPOINT);
    Sandbox::writeFile(
        *Config::serverConfigPath(),
        PlistValue(PlistDict{{kServerDeliveServerName, "https://api.example.com"}}).toXml());
    EXPECT_EQ(Config::deliveServerName(), "https://api.example.com");
    EXPECT_EQ(Config::noticeServerName(), TAVO_SSE_ENDPOINT);
}

TEST_F(ConfigTest, ConcurrentUpdatesOfDifferentKeysAreNeverLost) {
    EXPECT_FALSE(
        Config::updateUserConfig([](PlistDict&) {}));  // nothing to update, nothing created
    EXPECT_FALSE(Config::userConfig());
    Config::createConfigPlist(std::nullopt);
    constexpr int kRounds = 100;
    auto bump = [](const char* key) {
        for (int i = 0; i < kRounds; ++i)
            Config::updateUserConfig([key](PlistDict& config) {
                const auto* n = plistGet<std::int64_t>(config, key);
                config[key] = (n ? *n : 0) + 1;
            });
    };
    std::thread a(bump, "A"), b(bump, "B");
    a.join();
    b.join();
    const auto config = *Config::userConfig();
    EXPECT_EQ(*plistGet<std::int64_t>(config, "A"), kRounds);
    EXPECT_EQ(*plistGet<std::int64_t>(config, "B"), kRounds);
}

// A reader that finds no usable file says why: missing (the normal state
// before a sign-in, not logged), unreadable or no property list (an error
// line naming the file). What the callers get is unchanged: none.
TEST_F(ConfigTest, AFailedReadSaysWhichFileAndWhy) {
    tavo::test::LogCapture log(sandbox.path("/config.log"));
    const std::string path = *Config::userConfigPath();
    Error error;
    EXPECT_FALSE(Config::userConfig(&error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.description.find(path), std::string::npos) << error.text();

    Sandbox::writeFile(path, "this is no property list");
    error = Error{};
    EXPECT_FALSE(Config::userConfig(&error));
    EXPECT_NE(error.description.find(path), std::string::npos) << error.text();
    EXPECT_NE(error.description.find("not a property list"), std::string::npos) << error.text();
    EXPECT_FALSE(Config::userConfig());

    Sandbox::writeFile(path, PlistValue(PlistArray{PlistValue("a")}).toXml());
    EXPECT_FALSE(Config::userConfig(&error));
    EXPECT_NE(error.description.find("not a dictionary"), std::string::npos) << error.text();

    fs::remove(path);
    fs::create_directories(path);  // a folder where the file should be
    EXPECT_FALSE(Config::userConfig(&error));
    EXPECT_EQ(error.code, EISDIR) << error.text();
    fs::remove(path);

    const std::string font = *Config::fontListPath();
    Sandbox::writeFile(font, "<plist><dict><key>1</key>");
    EXPECT_FALSE(Config::fontList(&error));
    EXPECT_NE(error.description.find(font), std::string::npos) << error.text();
    EXPECT_FALSE(Config::serverConfig(&error));  // absent: no line
    EXPECT_EQ(error.code, ENOENT);

    std::vector<std::string> errors;
    std::istringstream in(log.text());
    for (std::string line; std::getline(in, line);)
        if (line.find("[ERROR]") != std::string::npos)
            errors.push_back(line);
    ASSERT_EQ(errors.size(), 5u) << log.text();
    EXPECT_NE(errors[0].find(path), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("not a property list"), std::string::npos) << errors[0];
    EXPECT_NE(errors[3].find("Is a directory"), std::string::npos) << errors[3];
    EXPECT_NE(errors[4].find(font), std::string::npos) << errors[4];
    EXPECT_EQ(log.text().find("No such file"), std::string::npos) << log.text();
}

TEST_F(ConfigTest, AFileTheUserMayNotReadIsReportedWithTheSystemsReason) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    Config::createConfigPlist(std::nullopt);
    const std::string path = *Config::userConfigPath();
    ::chmod(path.c_str(), 0);
    Error error;
    EXPECT_FALSE(Config::userConfig(&error));
    EXPECT_EQ(error.code, EACCES) << error.text();
    EXPECT_NE(error.text().find("Permission denied"), std::string::npos) << error.text();
}
