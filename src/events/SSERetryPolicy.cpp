#include "events/SSERetryPolicy.h"

namespace tavo {

Clock::SystemTime SSERetryPolicy::referenceMoment(Clock::SystemTime now) {
    return now - std::chrono::seconds(kLastAttemptWindow);
}

SSERetryDecision SSERetryPolicy::decide(const Input& input, std::mt19937& random) {
    SSERetryDecision decision;
    if (!input.hasError && input.httpStatus == 200) {
        decision.rule = SSERetryDecision::Rule::ClosedByServer;
        decision.reason = kReasonClosedByServer;
        decision.delay = kFirstRetryDelay;
        return decision;
    }
    decision.reason = kReasonLostConnection;
    const auto awakeSince = input.now - std::chrono::seconds(kAwakeWindow);
    if (input.hasError && input.awakenTimestamp && *input.awakenTimestamp > awakeSince &&
        !input.awakeRetryUsed) {
        decision.rule = SSERetryDecision::Rule::AwakeFromSleep;
        decision.reason = kReasonAwakesFromSleep;
        decision.delay = kFirstRetryDelay;
    } else if (input.lastRetryTimestamp && *input.lastRetryTimestamp < referenceMoment(input.now)) {
        decision.rule = SSERetryDecision::Rule::LastAttemptLongAgo;
        decision.delay = kFirstRetryDelay;
    } else {
        decision.rule = SSERetryDecision::Rule::FollowingRetry;
        std::uniform_int_distribution<int> spread(kFollowingRetryMinimum, kFollowingRetryMaximum);
        decision.delay = spread(random);
    }
    return decision;
}

}  // namespace tavo
