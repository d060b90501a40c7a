// The window flags and the application's moments of the session state.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "session/SessionState.h"

namespace tavo::test {
namespace {

TEST(SessionStateTest, WindowFlagsTellWhetherAnyWindowIsOpen) {
    SessionState state;
    EXPECT_FALSE(state.isWindowAppear(kWindowAppearAnything));
    EXPECT_TRUE(state.setWindowAppear(kWindowAppearLogin));
    EXPECT_TRUE(state.setWindowAppear(kWindowAppearForceUpdate));
    EXPECT_TRUE(state.isWindowAppear(kWindowAppearAnything));
    EXPECT_TRUE(state.isWindowAppear(kWindowAppearLogin));
    EXPECT_FALSE(state.isWindowAppear(kWindowAppearTwoAuthorization));
    EXPECT_TRUE(state.unsetWindowAppear(kWindowAppearLogin));
    EXPECT_FALSE(state.unsetWindowAppear(kWindowAppearForceUpdate));
    EXPECT_FALSE(state.isWindowAppear(kWindowAppearAnything));
}

TEST(SessionStateTest, WindowsOpeningAndClosingOnManyThreadsLoseNoFlag) {
    SessionState state;
    const std::vector<std::uint32_t> ids{kWindowAppearLogin, kWindowAppearTwoAuthorization,
                                         kWindowAppearThirdUnitNgDialog,
                                         kWindowAppearLoginCompletion};
    std::vector<std::thread> threads;
    for (const auto id : ids)
        threads.emplace_back([&state, id] {
            for (int i = 0; i < 1000; ++i) {
                state.setWindowAppear(id);
                state.unsetWindowAppear(id);
            }
            state.setWindowAppear(id);
        });
    for (auto& thread : threads)
        thread.join();
    for (const auto id : ids)
        EXPECT_TRUE(state.isWindowAppear(id)) << id;
    EXPECT_FALSE(state.isWindowAppear(kWindowAppearForceUpdate));
}

TEST(SessionStateTest, MomentsStartUnknownAndKeepWhatWasSet) {
    SessionState state;
    EXPECT_FALSE(state.isOnlineFirstProcessingExecuted);
    EXPECT_FALSE(state.lastRetryTimestamp());
    EXPECT_FALSE(state.nextRetryTimestamp());
    EXPECT_FALSE(state.awakenTimestamp());
    const auto now = Clock::current().systemNow();
    state.setLastRetryTimestamp(now);
    state.setNextRetryTimestamp(now + std::chrono::seconds(5));
    state.setAwakenTimestamp(now - std::chrono::seconds(5));
    EXPECT_EQ(state.lastRetryTimestamp(), now);
    EXPECT_EQ(state.nextRetryTimestamp(), now + std::chrono::seconds(5));
    EXPECT_EQ(state.awakenTimestamp(), now - std::chrono::seconds(5));
    state.setNextRetryTimestamp(std::nullopt);
    EXPECT_FALSE(state.nextRetryTimestamp());
}

TEST(SessionStateTest, TheProgramHasOne) {
    EXPECT_EQ(&SessionState::sharedInstance(), &SessionState::sharedInstance());
}

}  // namespace
}  // namespace tavo::test
