#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "ApiCommand.h"
#include "ConfigCommand.h"
#include "PathsCommand.h"
#include "SyncCommand.h"
#include "foundation/Config.h"
#include "foundation/CryptorUtil.h"
#include "foundation/Process.h"
#include "refservice/RefService.h"
#include "service/LoginApi.h"
#include "support/Sandbox.h"

using namespace tavo;
using nlohmann::json;

class TavoctlTest : public tavo::test::SandboxTest {};

TEST_F(TavoctlTest, ConfigShowsSecretsMaskedUnlessRevealed) {
    Config::createConfigPlist(*CryptorUtil::encryptString("dk-0123456789"));
    auto config = *Config::userConfig();
    config[kConfigRefreshTokens] = *CryptorUtil::encryptString("rt-secret-token");
    config[kConfigFirstName] = *CryptorUtil::encryptString("Zoë");
    config[kConfigLastName] = *CryptorUtil::encryptString("Ångström");
    ASSERT_TRUE(Config::writeToUserConfig(config, true, nullptr));

    std::ostringstream masked;
    ASSERT_EQ(ctl::runConfigCommand(masked, false), 0);
    const auto doc = json::parse(masked.str());
    const auto& user = doc["userConfig"]["contents"];
    EXPECT_EQ(user[kConfigRefreshTokens], "rt-s…");
    EXPECT_EQ(user[kConfigDeviceKey], "dk-0…");
    EXPECT_EQ(user[kConfigFirstName], "Zoë…");
    EXPECT_EQ(user[kConfigLastName], "Ångs…");  // four characters, not four bytes
    EXPECT_EQ(user[kConfigDeviceId], "");
    EXPECT_EQ(masked.str().find("secret-token"), std::string::npos);
    EXPECT_TRUE(doc["fontList"]["contents"].is_null());
    EXPECT_EQ(doc["userConfig"]["path"], *Config::userConfigPath());

    std::ostringstream revealed;
    ASSERT_EQ(ctl::runConfigCommand(revealed, true), 0);
    EXPECT_EQ(json::parse(revealed.str())["userConfig"]["contents"][kConfigRefreshTokens],
              "rt-secret-token");
}

// "no signed-in user" alone does not help when the file is there but
// cannot be read: the message names the file and the reason.
TEST_F(TavoctlTest, SyncNamesTheUnreadableUserConfigurationAndWhy) {
    const std::string path = *Config::userConfigPath();
    test::Sandbox::writeFile(path, "<plist><dict>");
    std::ostringstream out, err;
    EXPECT_EQ(ctl::runSyncCommand(out, err), 2);
    EXPECT_NE(err.str().find("no signed-in user"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(path + " is not a property list"), std::string::npos) << err.str();
}

TEST_F(TavoctlTest, PathsFollowTheSandboxRoot) {
    std::ostringstream out;
    ASSERT_EQ(ctl::runPathsCommand(out), 0);
    EXPECT_NE(out.str().find("applicationConfigPlistPath: " + sandbox.home() +
                             "/.local/share/Oskavelle/TAVO/TAVO.config.plist\n"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("appBaseDir: " + sandbox.path("/opt/Oskavelle") + "\n"),
              std::string::npos);
}

TEST(TavoctlProgram, RunsInsideTheSandboxRootOfItsEnvironment) {
    const std::string tool = test::bundlesDirectory() + "/TAVO.app/Contents/MacOS/tavoctl";
    // The test program's environment already points TAVO_ROOT at its sandbox.
    const auto result = Process::run(tool, {"paths"});
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitStatus, 0);
    const std::string root = std::getenv("TAVO_ROOT");
    EXPECT_NE(result.standardOutput.find("appBaseDir: " + root + "/opt/Oskavelle\n"),
              std::string::npos)
        << result.standardOutput;
    // The program reads its version from the bundle it lives in.
    EXPECT_NE(result.standardOutput.find(std::string("getCurrentAppVersion: ") + TAVO_VERSION),
              std::string::npos);

    EXPECT_EQ(Process::run(tool, {"nonsense"}).exitStatus, 2);
    EXPECT_EQ(Process::run(tool, {}).exitStatus, 2);
}

class TavoctlApiTest : public tavo::test::SandboxTest {
protected:
    void SetUp() override {
        refservice::ServiceOptions options;
        options.connectionKeepAliveSeconds = 1;  // stops sooner with a client connection open
        options.seed =
            nlohmann::json{{"accounts", {{{"mailAddress", "a@example.com"}, {"password", "pw"}}}}};
        std::string error;
        ASSERT_TRUE(service.start(options, &error)) << error;
        // The server configuration points the tool at this service.
        test::Sandbox::writeFile(*Config::serverConfigPath(),
                                 PlistValue(PlistDict{{kServerDeliveServerName, service.apiUrl()},
                                                      {kServerNoticeServerName, service.sseUrl()}})
                                     .toXml());
    }
    void TearDown() override { service.stop(); }

    int run(const std::vector<std::string>& args, ApiClient& client) {
        out.str("");
        err.str("");
        return ctl::runApiCommand(args, client, out, err);
    }

    refservice::RefService service;
    std::ostringstream out, err;
};

TEST_F(TavoctlApiTest, CallsOperationsAndPrintsTheDecodedEnvelope) {
    ApiClient client;
    ctl::configureClientFromUserConfig(client);
    EXPECT_EQ(client.apiEndpoint(), service.apiUrl());

    ASSERT_EQ(run({"deviceId", "mailAddress=a@example.com", "password=pw", "hostname=h",
                   "osUserName=u", "deviceKey=k"},
                  client),
              0)
        << err.str();
    const auto device = json::parse(out.str());
    client.setDeviceId(device["data"]["deviceId"].get<std::string>());

    ASSERT_EQ(run({"login", "mailAddress=a@example.com", "password=pw"}, client), 0);
    const auto login = json::parse(out.str());
    EXPECT_EQ(login["code"], 0);
    EXPECT_EQ(login["data"]["accessToken"], "****");  // never printed

    EXPECT_EQ(run({"login", "mailAddress=a@example.com", "password=wrong"}, client), 1);
    EXPECT_EQ(json::parse(out.str())["code"], 1002);
    EXPECT_EQ(run({"nonsense"}, client), 2);
    EXPECT_EQ(run({"login", "colour=blue"}, client), 2);
}

TEST_F(TavoctlApiTest, UsesTheStoredCredentials) {
    ApiClient signIn;
    ctl::configureClientFromUserConfig(signIn);
    LoginApi api(signIn);
    const auto device = api.deviceIdWithMailAddress("a@example.com", "pw", "h", "u", "k", nullptr);
    signIn.setDeviceId(device.data->deviceId);
    const auto login = api.loginWithMailAddress("a@example.com", "pw", nullptr);
    Config::createConfigPlist(std::nullopt);
    auto config = *Config::userConfig();
    config[kConfigDeviceId] = *CryptorUtil::encryptString(*device.data->deviceId);
    config[kConfigRefreshTokens] = *CryptorUtil::encryptString(*login.data->refreshToken);
    ASSERT_TRUE(Config::writeToUserConfig(config, true, nullptr));

    ApiClient client;
    ctl::configureClientFromUserConfig(client);
    EXPECT_TRUE(client.accessToken());
    ASSERT_EQ(run({"notice"}, client), 0) << err.str() << out.str();
    EXPECT_EQ(json::parse(out.str())["code"], 0);
}
