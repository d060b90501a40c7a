// The reconnection delays: 5 seconds after a clean end, after the first
// failure since a recent wake, or when the last attempt lies more than 480
// seconds back; otherwise 10 to 299 seconds.
#include <gtest/gtest.h>

#include "events/SSERetryPolicy.h"

namespace tavo {
namespace {

using Rule = SSERetryDecision::Rule;
using std::chrono::seconds;

class SSERetryPolicyTest : public ::testing::Test {
protected:
    SSERetryPolicy::Input failure(bool hasError, long status) {
        SSERetryPolicy::Input input;
        input.hasError = hasError;
        input.httpStatus = status;
        input.now = now;
        input.lastRetryTimestamp = now - seconds(60);
        return input;
    }
    SSERetryDecision decide(const SSERetryPolicy::Input& input) {
        return SSERetryPolicy::decide(input, random);
    }

    Clock::SystemTime now = std::chrono::system_clock::now();
    std::mt19937 random{7};
};

TEST_F(SSERetryPolicyTest, ACleanEndByTheServerRetriesAfterFiveSeconds) {
    const auto decision = decide(failure(false, 200));
    EXPECT_EQ(decision.rule, Rule::ClosedByServer);
    EXPECT_EQ(decision.delay, 5);
    EXPECT_EQ(decision.reason, "closed connection by server");
}

TEST_F(SSERetryPolicyTest, TheFirstFailureTwoMinutesAfterAWakeRetriesAtOnceAndOnlyTheFirst) {
    auto input = failure(true, 0);
    input.awakenTimestamp = now - seconds(120);
    auto decision = decide(input);
    EXPECT_EQ(decision.rule, Rule::AwakeFromSleep);
    EXPECT_EQ(decision.delay, 5);
    EXPECT_EQ(decision.reason, "awakes from sleep");

    input.awakeRetryUsed = true;  // the second failure after the same wake
    decision = decide(input);
    EXPECT_EQ(decision.rule, Rule::FollowingRetry);
    EXPECT_GE(decision.delay, 10);
    EXPECT_LE(decision.delay, 299);
    EXPECT_EQ(decision.reason, "lost connection");
}

TEST_F(SSERetryPolicyTest, AWakeCountsOnlyWithAnErrorAndWithinItsWindow) {
    auto input = failure(false, 503);  // a refused answer is no lost connection
    input.awakenTimestamp = now - seconds(10);
    EXPECT_EQ(decide(input).rule, Rule::FollowingRetry);
    input = failure(true, 0);
    input.awakenTimestamp = now - seconds(SSERetryPolicy::kAwakeWindow + 1);
    EXPECT_EQ(decide(input).rule, Rule::FollowingRetry);
}

TEST_F(SSERetryPolicyTest, AnAttemptMoreThan480SecondsBackRetriesAfterFiveSeconds) {
    auto input = failure(true, 0);
    input.lastRetryTimestamp = now - seconds(481);
    auto decision = decide(input);
    EXPECT_EQ(decision.rule, Rule::LastAttemptLongAgo);
    EXPECT_EQ(decision.delay, 5);
    EXPECT_EQ(decision.reason, "lost connection");

    input.lastRetryTimestamp = now - seconds(480);  // exactly 480: not "before"
    EXPECT_EQ(decide(input).rule, Rule::FollowingRetry);
    input.lastRetryTimestamp.reset();  // never attempted
    EXPECT_EQ(decide(input).rule, Rule::FollowingRetry);
}

TEST_F(SSERetryPolicyTest, FollowingRetriesSpreadOverTenTo299Seconds) {
    int lowest = 1000;
    int highest = 0;
    for (int i = 0; i < 20000; ++i) {
        const int delay = decide(failure(true, 200)).delay;
        lowest = std::min(lowest, delay);
        highest = std::max(highest, delay);
    }
    EXPECT_EQ(lowest, 10);
    EXPECT_EQ(highest, 299);
}

}  // namespace
}  // namespace tavo
