#pragma once

#include <optional>
#include <random>
#include <string>

#include "foundation/Clock.h"

namespace tavo {

// How long the stream waits before it connects again after a failure, and
// why.
struct SSERetryDecision {
    enum class Rule {
        ClosedByServer,      // the server ended the stream cleanly
        AwakeFromSleep,      // the first failure since the machine woke
        LastAttemptLongAgo,  // the last attempt lies more than 480 seconds back
        FollowingRetry,      // failing again soon after the last attempt
    };
    Rule rule = Rule::FollowingRetry;
    int delay = 0;  // seconds
    std::string reason;
};

class SSERetryPolicy {
public:
    static constexpr int kFirstRetryDelay = 5;
    static constexpr int kLastAttemptWindow = 480;
    // A wake counts as recent for this long; only the first failure after it
    // is retried at once.
    static constexpr int kAwakeWindow = 300;
    static constexpr int kFollowingRetryMinimum = 10;
    static constexpr int kFollowingRetryMaximum = 299;
    static constexpr const char* kReasonClosedByServer = "closed connection by server";
    static constexpr const char* kReasonLostConnection = "lost connection";
    static constexpr const char* kReasonAwakesFromSleep = "awakes from sleep";

    struct Input {
        bool hasError = false;
        long httpStatus = 0;  // 0: no answer arrived
        Clock::SystemTime now;
        std::optional<Clock::SystemTime> awakenTimestamp;
        std::optional<Clock::SystemTime> lastRetryTimestamp;
        // The wake of awakenTimestamp has already given its quick retry.
        bool awakeRetryUsed = false;
    };

    static SSERetryDecision decide(const Input& input, std::mt19937& random);
    // now minus 480 seconds: attempts before it are long ago.
    static Clock::SystemTime referenceMoment(Clock::SystemTime now);
};

}  // namespace tavo
