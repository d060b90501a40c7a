#include <gtest/gtest.h>

#include <any>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "service/OVError.h"
#include "service/ResultCodes.h"
#include "support/Sandbox.h"

using namespace tavo;

namespace {

// Records every "errorEvent" posted while it lives.
class ErrorEvents {
public:
    ErrorEvents() {
        token_ = NotificationCenter::defaultCenter().addObserver(
            kOVErrorNotificationKeyErrorEvent, [this](const Notification& notification) {
                received.push_back(notification.userInfo);
                threads.push_back(std::this_thread::get_id());
            });
    }
    ~ErrorEvents() { NotificationCenter::defaultCenter().removeObserver(token_); }
    ErrorEvents(const ErrorEvents&) = delete;
    ErrorEvents& operator=(const ErrorEvents&) = delete;

    std::string text(std::size_t index, const char* key) const {
        const std::any& value = received.at(index).at(key);
        const auto* text = std::any_cast<std::string>(&value);
        return text ? *text : "<not a string>";
    }

    std::vector<UserInfo> received;
    std::vector<std::thread::id> threads;

private:
    NotificationCenter::Token token_ = 0;
};

class OVErrorTest : public test::SandboxTest {
protected:
    test::LogCapture log{sandbox.home() + "/logs/TAVO.log"};
    ErrorEvents events;
};

}  // namespace

TEST_F(OVErrorTest, SuccessAndTwoFactorAreAcceptedSilently) {
    EXPECT_TRUE(OVError::checkApiError(std::nullopt, kHttpResponceCodeSucceeded, "ok"));
    EXPECT_TRUE(OVError::checkApiError(std::nullopt, kHttpResponceCodeTwoFARequired, std::nullopt));
    EXPECT_TRUE(events.received.empty());
    EXPECT_EQ(log.text().find("[ERROR]"), std::string::npos) << log.text();
}

TEST_F(OVErrorTest, RefusedResultsAreReportedOnTheCallingThread) {
    struct Case {
        std::optional<std::int64_t> code;
        std::optional<std::string> message;
        const char* codeText;
        const char* messageText;
    };
    const Case cases[] = {
        {kHttpResponceCodeRefreshTokenExpired, "refresh token expired", "1008",
         "refresh token expired"},
        {kHttpResponceCodeAccessTokenExpired, std::nullopt, "1007", "(unknown)"},
        {std::nullopt, std::nullopt, "-1", "(unknown)"},
        {kHttpResponceCodeInternalServerError, "", "2000", ""},
    };
    for (const auto& c : cases) {
        const std::size_t before = events.received.size();
        EXPECT_FALSE(OVError::checkApiError(std::nullopt, c.code, c.message)) << c.codeText;
        ASSERT_EQ(events.received.size(), before + 1) << c.codeText;
        EXPECT_EQ(events.threads.back(), std::this_thread::get_id());
        EXPECT_EQ(events.text(before, kOVErrorUserInfoKeyCode), c.codeText);
        EXPECT_EQ(events.text(before, kOVErrorUserInfoKeyMessage), c.messageText);
        EXPECT_EQ(events.text(before, kOVErrorUserInfoKeyError), "nil");
    }
    EXPECT_NE(log.text().find("[ERROR] "), std::string::npos);
    EXPECT_NE(log.text().find(" code=1008, message=refresh token expired\n"), std::string::npos)
        << log.text();
}

TEST_F(OVErrorTest, TransportErrorWinsOverAnyResultCode) {
    const Error error{-1001, "NSURLErrorDomain", "The request timed out."};
    EXPECT_FALSE(OVError::checkApiError(error, kHttpResponceCodeSucceeded, "ok"));
    ASSERT_EQ(events.received.size(), 1u);
    EXPECT_EQ(events.text(0, kOVErrorUserInfoKeyCode), "-1001");
    EXPECT_EQ(events.text(0, kOVErrorUserInfoKeyMessage), "The request timed out.");
    const auto* carried = std::any_cast<Error>(&events.received[0].at(kOVErrorUserInfoKeyError));
    ASSERT_NE(carried, nullptr);
    EXPECT_EQ(carried->code, -1001);
    EXPECT_EQ(carried->domain, "NSURLErrorDomain");
    EXPECT_NE(log.text().find("code=-1001, message=An network error occurs.: Description(api): [" +
                              error.text() + "]"),
              std::string::npos)
        << log.text();
}

TEST_F(OVErrorTest, DebugLinesFrameTheJudgement) {
    ASSERT_TRUE(Log::defaultLog().applyLogMode(kLogModeDebug));
    OVError::checkApiError(std::nullopt, 1002, "authentication failed");
    const std::string text = log.text();
    const auto start = text.find(" start\n");
    const auto judged = text.find("error is nil: code:[1002] message:[authentication failed]");
    const auto end = text.find(" end\n");
    ASSERT_NE(start, std::string::npos) << text;
    ASSERT_NE(judged, std::string::npos) << text;
    ASSERT_NE(end, std::string::npos) << text;
    EXPECT_LT(start, judged);
    EXPECT_LT(judged, end);
}
