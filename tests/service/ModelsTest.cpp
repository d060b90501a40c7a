#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "service/AccountModels.h"
#include "service/AuthModels.h"
#include "service/ClientAppsModels.h"
#include "service/FontModels.h"
#include "support/Sandbox.h"

using namespace tavo;
using Json = nlohmann::json;
using namespace std::string_literals;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Every test logs into its own sandbox.
class ModelsTest : public test::SandboxTest {
protected:
    // The log lines that contain the text.
    std::vector<std::string> linesWith(const std::string& text) {
        std::vector<std::string> found;
        for (const auto& line : lines(log.text()))
            if (line.find(text) != std::string::npos)
                found.push_back(line);
        return found;
    }

    // A log file of its own for one case of a table.
    std::string caseLog(int index) { return sandbox.home() + "/logs/case" + std::to_string(index); }

    test::LogCapture log{sandbox.home() + "/logs/TAVO.log"};
};

std::string nested(int depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

}  // namespace

TEST_F(ModelsTest, LoginEnvelopeDecodesTokensAndLogsTheSuccessLine) {
    auto base = LoginBase::initWithJson(
        R"({"code":0,"message":"ok","data":{"accessToken":"a","refreshToken":"r"}})",
        "/api/v1/login");
    EXPECT_EQ(base.code, 0);
    EXPECT_EQ(base.message, "ok");
    ASSERT_TRUE(base.data);
    EXPECT_EQ(base.data->accessToken, "a");
    EXPECT_EQ(base.data->refreshToken, "r");
    EXPECT_EQ(base.resultCode(), kHttpResponceCodeSucceeded);

    auto found = linesWith("Response /api/v1/login");
    ASSERT_EQ(found.size(), 1u) << log.text();
    EXPECT_NE(found[0].find("[INFO]"), std::string::npos);
    EXPECT_TRUE(found[0].ends_with(" Response /api/v1/login message=ok")) << found[0];
}

TEST_F(ModelsTest, ResultLineNamesTheCodeOfFailuresWhereverTheMessageStands) {
    struct Case {
        const char* body;
        const char* line;  // expected result line, or empty for none
    };
    const Case cases[] = {
        {R"({"message":"locked","code":1004})", "Response /p code=1004, message=locked"},
        {R"({"code":1004,"message":"locked"})", "Response /p code=1004, message=locked"},
        {R"({"code":100,"message":"two factor"})", "Response /p message=two factor"},
        {R"({"code":2000})", "Response /p code=2000, message=(null)"},
        {R"({"code":1001,"message":7})", "Response /p code=1001, message=7"},
        {R"({"message":"no code"})", ""},
        {R"({"code":"0","message":"text code"})", ""},
    };
    int index = 0;
    for (const auto& c : cases) {
        test::LogCapture capture{caseLog(++index)};
        TokenBase::initWithJson(c.body, "/p");
        // Members of the wrong kind ("code":"0") have warnings of their own.
        std::vector<std::string> found;
        for (auto& line : lines(capture.text()))
            if (line.find(" left out: ") == std::string::npos)
                found.push_back(std::move(line));
        if (*c.line == '\0') {
            EXPECT_TRUE(found.empty()) << c.body << " logged " << capture.text();
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << c.body;
        EXPECT_TRUE(found[0].ends_with(std::string(" ") + c.line)) << found[0];
    }
}

TEST_F(ModelsTest, DevicesKeepTheirOrderAndSkipElementsThatAreNoObjects) {
    auto base = DevicesBase::initWithJson(
        R"({"code":0,"data":[{"deviceId":"d1"},{"deviceId":"d2"}]})", "/api/v1/devices");
    ASSERT_TRUE(base.data);
    ASSERT_EQ(base.data->size(), 2u);
    EXPECT_EQ((*base.data)[0].deviceId, "d1");
    EXPECT_EQ((*base.data)[1].deviceId, "d2");
    EXPECT_FALSE((*base.data)[0].hostname);

    ASSERT_TRUE(Log::defaultLog().applyLogMode(kLogModeDebug));
    auto mixed = DevicesBase::initWithJson(
        R"({"code":0,"data":[{"deviceId":"d1","hostname":"h","osUserName":"u","osType":"Linux",
            "osVersion":"6","userDeviceId":"ud"},5,null,"x",[],{"deviceId":"d2"}]})",
        "/api/v1/devices");
    ASSERT_TRUE(mixed.data);
    ASSERT_EQ(mixed.data->size(), 2u);
    const Devices& first = (*mixed.data)[0];
    EXPECT_EQ(first.userDeviceId, "ud");
    EXPECT_EQ(first.hostname, "h");
    EXPECT_EQ(first.osUserName, "u");
    EXPECT_EQ(first.osType, "Linux");
    EXPECT_EQ(first.osVersion, "6");
    EXPECT_EQ((*mixed.data)[1].deviceId, "d2");
    EXPECT_EQ(linesWith("data left out").size(), 4u) << log.text();

    auto empty = DevicesBase::initWithJson(R"({"code":0,"data":[]})", "/api/v1/devices");
    ASSERT_TRUE(empty.data);
    EXPECT_TRUE(empty.data->empty());
}

TEST_F(ModelsTest, FontsPageDecodesEveryMemberAndKeepsContractIdsRaw) {
    auto base = FontsBase::initWithJson(R"({"code":0,"message":"ok","data":{"fonts":[
        {"userFontId":"u1","activateFlg":true,"fontId":"101","displayFontName":"Sans Bold",
         "fileName":"Sans-Bold.otf","fileSize":123456,"version":"1.002",
         "needFontVersionUpdate":false,"isAvailableFont":true,"isFreemium":false,
         "contractIds":[7,"c-2",null,{"k":1},2.5]},
        {"fontId":"102","activateFlg":0,"contractIds":[]}],"hasNext":true}})",
                                        "/api/v1/install-fonts");
    ASSERT_TRUE(base.data);
    EXPECT_EQ(base.data->hasNext, true);
    ASSERT_TRUE(base.data->fonts);
    ASSERT_EQ(base.data->fonts->size(), 2u);
    const Fonts& font = (*base.data->fonts)[0];
    EXPECT_EQ(font.userFontId, "u1");
    EXPECT_EQ(font.activateFlg, true);
    EXPECT_EQ(font.fontId, "101");
    EXPECT_EQ(font.displayFontName, "Sans Bold");
    EXPECT_EQ(font.fileName, "Sans-Bold.otf");
    EXPECT_EQ(font.fileSize, 123456);
    EXPECT_EQ(font.version, "1.002");
    EXPECT_EQ(font.needFontVersionUpdate, false);
    EXPECT_EQ(font.isAvailableFont, true);
    EXPECT_EQ(font.isFreemium, false);
    EXPECT_EQ(font.contractIds, Json::parse(R"([7,"c-2",null,{"k":1},2.5])"));
    const Fonts& second = (*base.data->fonts)[1];
    EXPECT_EQ(second.activateFlg, false);
    EXPECT_EQ(second.contractIds, Json::array());
    EXPECT_FALSE(second.fileName);
    EXPECT_FALSE(second.contractIds->is_null());
}

TEST_F(ModelsTest, EveryEnvelopeFillsItsDeclaredMembers) {
    auto auth = Auth2FactBase::initWithJson(
        R"({"code":0,"data":{"accessToken":"a2","refreshToken":"r2"}})", "/p");
    ASSERT_TRUE(auth.data);
    EXPECT_EQ(auth.data->accessToken, "a2");
    EXPECT_EQ(auth.data->refreshToken, "r2");

    auto token = TokenBase::initWithJson(R"({"code":0,"data":{"accessToken":"t"}})", "/p");
    ASSERT_TRUE(token.data);
    EXPECT_EQ(token.data->accessToken, "t");

    auto refresh = RefreshTokenBase::initWithJson(
        R"({"code":0,"data":{"accessToken":"a3","refreshToken":"r3"}})", "/p");
    ASSERT_TRUE(refresh.data);
    EXPECT_EQ(refresh.data->accessToken, "a3");
    EXPECT_EQ(refresh.data->refreshToken, "r3");

    auto deviceId = DeviceIdBase::initWithJson(R"({"code":0,"data":{"deviceId":"dev"}})", "/p");
    ASSERT_TRUE(deviceId.data);
    EXPECT_EQ(deviceId.data->deviceId, "dev");

    auto device = DeviceBase::initWithJson(
        R"({"code":0,"data":{"accessToken":"a4","refreshToken":"r4"}})", "/p");
    ASSERT_TRUE(device.data);
    EXPECT_EQ(device.data->accessToken, "a4");
    EXPECT_EQ(device.data->refreshToken, "r4");

    auto customer = CustomerBase::initWithJson(
        R"({"code":0,"data":{"mailAddress":"m@x","lastName":"L","firstName":"F"}})", "/p");
    ASSERT_TRUE(customer.data);
    EXPECT_EQ(customer.data->mailAddress, "m@x");
    EXPECT_EQ(customer.data->lastName, "L");
    EXPECT_EQ(customer.data->firstName, "F");

    auto screens = ScreensBase::initWithJson(R"({"code":0,"data":{"url":"http://h/p"}})", "/p");
    ASSERT_TRUE(screens.data);
    EXPECT_EQ(screens.data->url, "http://h/p");

    auto notice = NoticeBase::initWithJson(
        R"({"code":0,"data":{"total":3,"existsLatestNotice":true}})", "/p");
    ASSERT_TRUE(notice.data);
    EXPECT_EQ(notice.data->total, 3);
    EXPECT_EQ(notice.data->existsLatestNotice, true);

    auto apps = ClientAppsBase::initWithJson(
        R"({"code":0,"data":{"appId":"TAVO","version":"2.1.1","url":"http://h/u.zip",
            "isForcedUpdate":true}})",
        "/p");
    ASSERT_TRUE(apps.data);
    EXPECT_EQ(apps.data->appId, "TAVO");
    EXPECT_EQ(apps.data->version, "2.1.1");
    EXPECT_EQ(apps.data->url, "http://h/u.zip");
    EXPECT_EQ(apps.data->isForcedUpdate, true);

    auto logout = LogoutBase::initWithJson(R"({"code":1007,"message":"expired","data":{}})", "/p");
    EXPECT_EQ(logout.code, 1007);
    EXPECT_EQ(logout.message, "expired");
    EXPECT_EQ(logout.resultCode(), kHttpResponceCodeAccessTokenExpired);
}

TEST_F(ModelsTest, UnknownMembersAreIgnoredAndMissingOnesStayUnset) {
    auto base = LoginBase::initWithJson(
        R"({"code":0,"extra":{"deep":[1,2]},"data":{"accessToken":"a","AccessToken":"x","other":1}})",
        "/p");
    EXPECT_FALSE(base.message);
    ASSERT_TRUE(base.data);
    EXPECT_EQ(base.data->accessToken, "a");
    EXPECT_FALSE(base.data->refreshToken);

    auto bare = LoginBase::initWithJson(R"({})", "/p");
    EXPECT_EQ(bare, LoginBase{});
    EXPECT_EQ(bare.resultCode(), kHttpResponceCodeUndefinedValue);
}

TEST_F(ModelsTest, BodiesThatAreNoObjectLeaveEverythingUnset) {
    struct Case {
        std::optional<std::string> body;
        const char* logged;  // expected log text, or empty for none
    };
    const Case cases[] = {
        {std::nullopt, ""},
        {std::string(), "Response /p: empty json string"},
        {std::string("null"), ""},
        {std::string("[]"), ""},
        {std::string(R"([{"code":0}])"), ""},
        {std::string("0"), ""},
        {std::string(R"("text")"), ""},
        {std::string("true"), ""},
        {std::string("{"), "Response /p: Failed serialization of json string: Description: ["},
        {std::string(R"({"code":0)"), "Failed serialization of json string"},
        {std::string(R"({"code":0} {})"), "Failed serialization of json string"},
        {std::string(R"({"code":0,})"), "Failed serialization of json string"},
        {std::string("   "), "Failed serialization of json string"},
        {std::string("{\"code\":0,\"message\":\"\xff\xfe\"}"), "Failed serialization"},
        {std::string("\xc3\x28"), "Failed serialization"},
        {"{\"code\":0,\"message\":\"a\0b\"}"s, "Failed serialization"},
        {std::string(R"({"code":1e999})"), "Failed serialization"},
    };
    int index = 0;
    for (const auto& c : cases) {
        test::LogCapture capture{caseLog(++index)};
        ASSERT_TRUE(Log::defaultLog().applyLogMode(kLogModeDebug));
        auto base = FontsBase::initWithJson(c.body, "/p");
        EXPECT_EQ(base, FontsBase{}) << c.body.value_or("(none)");
        EXPECT_EQ(base.resultCode(), kHttpResponceCodeUndefinedValue);
        std::string text = capture.text();
        if (*c.logged == '\0') {
            EXPECT_EQ(text.find("Response /p"), std::string::npos) << text;
            continue;
        }
        EXPECT_NE(text.find(c.logged), std::string::npos) << text;
        if (text.find("Failed serialization") != std::string::npos) {
            EXPECT_NE(text.find("Received raw json: ["), std::string::npos) << text;
        }
    }
}

TEST_F(ModelsTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    auto refused = LoginBase::initWithJson(deep, "/p");
    EXPECT_EQ(refused, LoginBase{});
    EXPECT_EQ(linesWith("nesting deeper than 64 levels").size(), 1u);

    auto inside = LoginBase::initWithJson(
        R"({"code":0,"data":{"accessToken":"a"},"x":)" + std::string(100000, '{') + "}", "/p");
    EXPECT_EQ(inside, LoginBase{});

    // The envelope is the first level, so 63 more fit.
    auto atLimit = LoginBase::initWithJson(
        R"({"code":0,"x":)" + nested(BaseModel::kMaximumJsonDepth - 1) + "}", "/p");
    EXPECT_EQ(atLimit.code, 0);
    auto overLimit = LoginBase::initWithJson(
        R"({"code":0,"x":)" + nested(BaseModel::kMaximumJsonDepth) + "}", "/p");
    EXPECT_FALSE(overLimit.code);
}

TEST_F(ModelsTest, ValuesAreHeldOnlyByFieldsOfTheirKind) {
    struct Case {
        const char* data;
        std::optional<std::int64_t> total;
        std::optional<bool> existsLatestNotice;
    };
    const Case cases[] = {
        {R"({"total":3,"existsLatestNotice":true})", 3, true},
        {R"({"total":-5,"existsLatestNotice":false})", -5, false},
        {R"({"total":3.0,"existsLatestNotice":1})", 3, true},
        {R"({"total":1e3,"existsLatestNotice":0})", 1000, false},
        {R"({"total":true,"existsLatestNotice":2})", 1, true},
        {R"({"total":false,"existsLatestNotice":0.0})", 0, false},
        {R"({"total":2.5,"existsLatestNotice":0.5})", std::nullopt, true},
        {R"({"total":"3","existsLatestNotice":"true"})", std::nullopt, std::nullopt},
        {R"({"total":null,"existsLatestNotice":null})", std::nullopt, std::nullopt},
        {R"({"total":{},"existsLatestNotice":[]})", std::nullopt, std::nullopt},
        {R"({"total":[3],"existsLatestNotice":{"v":true}})", std::nullopt, std::nullopt},
        {R"({"total":9223372036854775807})", INT64_MAX, std::nullopt},
        {R"({"total":-9223372036854775808})", INT64_MIN, std::nullopt},
        {R"({"total":18446744073709551615})", std::nullopt, std::nullopt},
        {R"({"total":1e300})", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        auto base =
            NoticeBase::initWithJson(std::string(R"({"code":0,"data":)") + c.data + "}", "/p");
        ASSERT_TRUE(base.data) << c.data;
        EXPECT_EQ(base.data->total, c.total) << c.data;
        EXPECT_EQ(base.data->existsLatestNotice, c.existsLatestNotice) << c.data;
    }
}

TEST_F(ModelsTest, MembersOfAnotherKindLeaveTheFieldUnset) {
    struct Case {
        const char* body;
        std::optional<std::int64_t> code;
        bool hasData;
    };
    // A result code must be a whole number: "0" or 0.5 is no success.
    const Case cases[] = {
        {R"({"code":"0","data":{}})", std::nullopt, true},
        {R"({"code":0.5})", std::nullopt, false},
        {R"({"code":1007.0})", 1007, false},
        {R"({"code":null,"data":null})", std::nullopt, false},
        {R"({"code":0,"data":[{"url":"u"}]})", 0, false},
        {R"({"code":0,"data":"http://h"})", 0, false},
        {R"({"code":0,"data":{"url":5}})", 0, true},
        {R"({"code":0,"data":{"url":{"href":"u"}}})", 0, true},
        {R"({"code":0,"message":["m"],"data":{"url":null}})", 0, true},
    };
    for (const auto& c : cases) {
        auto base = ScreensBase::initWithJson(c.body, "/p");
        EXPECT_EQ(base.code, c.code) << c.body;
        EXPECT_EQ(base.data.has_value(), c.hasData) << c.body;
        EXPECT_FALSE(base.message) << c.body;
        if (base.data) {
            EXPECT_FALSE(base.data->url) << c.body;
        }
    }

    auto devices = DevicesBase::initWithJson(R"({"code":0,"data":{"deviceId":"d1"}})", "/p");
    EXPECT_FALSE(devices.data);
    auto fonts = FontsBase::initWithJson(
        R"({"code":0,"data":{"fonts":{"fontId":"1"},"hasNext":"yes"}})", "/p");
    ASSERT_TRUE(fonts.data);
    EXPECT_FALSE(fonts.data->fonts);
    EXPECT_FALSE(fonts.data->hasNext);
    auto contracts = FontsBase::initWithJson(
        R"({"code":0,"data":{"fonts":[{"contractIds":"c1"},{"contractIds":null},null]}})", "/p");
    ASSERT_TRUE(contracts.data && contracts.data->fonts);
    ASSERT_EQ(contracts.data->fonts->size(), 2u);
    EXPECT_FALSE((*contracts.data->fonts)[0].contractIds);
    EXPECT_FALSE((*contracts.data->fonts)[1].contractIds);
}

// A page the server got wrong is named in the normal log: which member, of
// which kind, and what it should have been.
TEST_F(ModelsTest, AMemberOfTheWrongKindIsNamedInTheLog) {
    const auto page = FontsBase::initWithJson(
        R"({"code":0,"data":{"fonts":"none","hasNext":"yes"}})", "/api/v1/install-fonts");
    ASSERT_TRUE(page.data);
    EXPECT_FALSE(page.data->fonts);
    const auto fonts = linesWith("member fonts left out");
    ASSERT_EQ(fonts.size(), 1u) << log.text();
    EXPECT_NE(fonts[0].find("[WARN]"), std::string::npos) << fonts[0];
    EXPECT_NE(fonts[0].find("/api/v1/install-fonts"), std::string::npos) << fonts[0];
    EXPECT_NE(fonts[0].find("a string where an array is expected"), std::string::npos) << fonts[0];
    const auto hasNext = linesWith("member hasNext left out");
    ASSERT_EQ(hasNext.size(), 1u) << log.text();
    EXPECT_NE(hasNext[0].find("a string where a boolean is expected"), std::string::npos)
        << hasNext[0];

    FontsBase::initWithJson(R"({"code":0,"data":{"fonts":[{"fileSize":"12"},7],"hasNext":false}})",
                            "/api/v1/install-fonts");
    const auto size = linesWith("member fileSize left out");
    ASSERT_EQ(size.size(), 1u) << log.text();
    EXPECT_NE(size[0].find("a string where an integer is expected"), std::string::npos) << size[0];
    const auto element = linesWith("member fonts left out");
    ASSERT_EQ(element.size(), 2u) << log.text();
    EXPECT_NE(element[1].find("a number where an object is expected"), std::string::npos)
        << element[1];
}

TEST_F(ModelsTest, RepeatedMemberKeepsItsLastValue) {
    auto base =
        TokenBase::initWithJson(R"({"code":1007,"code":0,"data":{"accessToken":"t"}})", "/p");
    EXPECT_EQ(base.code, 0);
}

TEST(ModelsExport, DecodedModelsEncodeBackToWhatWasUnderstood) {
    const std::string body = R"({"code":0,"message":"ok","extra":1,"data":{"fonts":[
        {"fontId":"7","activateFlg":true,"fileSize":1024,"contractIds":["c-1",2],"unknown":"x"}],
        "hasNext":false}})";
    const auto fonts = FontsBase::initWithJson(body, "/api/v1/install-fonts");
    const auto json = BaseModel::toJson(fonts);
    EXPECT_EQ(json, nlohmann::json::parse(R"({"code":0,"message":"ok","data":{"fonts":[
        {"fontId":"7","activateFlg":true,"fileSize":1024,"contractIds":["c-1",2]}],"hasNext":false}})"));
    EXPECT_EQ(FontsBase::initWithJson(json.dump(), "/x"), fonts);
    EXPECT_EQ(BaseModel::toJson(LogoutBase::initWithJson(std::nullopt, "/x")),
              nlohmann::json::object());
}
