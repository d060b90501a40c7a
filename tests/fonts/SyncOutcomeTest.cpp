// How a synchronization run tells its progress and its end to observers.
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FontFixture.h"
#include "fontid/FontIdReader.h"
#include "fonts/SyncObserver.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

// What the controller tells its observers; calls come from its queues.
class RecordingSyncObserver : public SyncObserver {
public:
    void syncDownloadsPlanned(long count) override {
        std::lock_guard lock(mutex);
        planned.push_back(count);
    }
    void syncFontDownloaded(const std::string& name, const std::string& path) override {
        std::lock_guard lock(mutex);
        downloaded.emplace_back(name, path);
    }
    void syncEnded(const SyncOutcome& outcome) override {
        std::lock_guard lock(mutex);
        outcomes.push_back(outcome);
    }
    std::vector<SyncOutcome> ended() {
        std::lock_guard lock(mutex);
        return outcomes;
    }
    void reset() {
        std::lock_guard lock(mutex);
        planned.clear();
        downloaded.clear();
        outcomes.clear();
    }

    std::mutex mutex;
    std::vector<long> planned;
    std::vector<std::pair<std::string, std::string>> downloaded;
    std::vector<SyncOutcome> outcomes;
};

class SyncOutcomeTest : public FontFixture {
protected:
    void SetUp() override {
        FontFixture::SetUp();
        if (HasFatalFailure())
            return;
        controller->syncObservers().add(observer);
    }

    void runOnce() {
        auto c = controller;
        queue->sync([c] { c->syncSettingedFontActiveDeactiveOnMembersSite(); });
        ASSERT_TRUE(MainQueue::main().runUntil([&] { return !observer->ended().empty(); }, 20s));
        settle();
    }

    std::shared_ptr<RecordingSyncObserver> observer = std::make_shared<RecordingSyncObserver>();
};

TEST_F(SyncOutcomeTest, ACompletedRunCountsEachFontOnce) {
    runOnce();
    const auto ended = observer->ended();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].result, SyncResult::Completed);
    EXPECT_EQ(ended[0].planned, 3);
    EXPECT_EQ(ended[0].downloaded, 3);
    EXPECT_EQ(ended[0].left, 0);
    EXPECT_EQ(observer->planned, (std::vector<long>{3}));
    ASSERT_EQ(observer->downloaded.size(), 3u);
    for (const auto& [name, path] : observer->downloaded) {
        EXPECT_FALSE(name.empty());
        EXPECT_TRUE(fontid::FontIdReader::read(path)) << path;
    }

    // Nothing to do: completed at once, nothing downloaded.
    observer->reset();
    runOnce();
    ASSERT_EQ(observer->ended().size(), 1u);
    EXPECT_EQ(observer->ended()[0].result, SyncResult::Completed);
    EXPECT_EQ(observer->ended()[0].planned, 0);
    EXPECT_EQ(observer->ended()[0].downloaded, 0);
}

TEST_F(SyncOutcomeTest, ARefusedListFailsWithTheReason) {
    addFault({{"path", "/api/v1/install-fonts"}, {"status", 500}});
    runOnce();
    const auto ended = observer->ended();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].result, SyncResult::Failed);
    EXPECT_NE(ended[0].reason.find("font list"), std::string::npos) << ended[0].reason;
    EXPECT_EQ(ended[0].downloaded, 0);
    EXPECT_TRUE(observer->planned.empty()) << "no chain was planned";
}

TEST_F(SyncOutcomeTest, AFontThatCannotBeFetchedGivesUpNamingIt) {
    const auto fonts = accountFonts();
    addFault({{"path", "/api/v1/fonts/" + *fonts[0].fontId}, {"status", 500}});
    runOnce();
    const auto ended = observer->ended();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].result, SyncResult::GaveUp);
    EXPECT_NE(ended[0].reason.find(*fonts[0].fontId), std::string::npos) << ended[0].reason;
    EXPECT_NE(ended[0].reason.find("500"), std::string::npos) << ended[0].reason;
    EXPECT_EQ(ended[0].left, ended[0].planned - ended[0].downloaded);
    EXPECT_GE(ended[0].left, 1);
}

TEST_F(SyncOutcomeTest, AStopEndsTheRunAsCancelled) {
    controller->stop();
    runOnce();
    ASSERT_EQ(observer->ended().size(), 1u);
    EXPECT_EQ(observer->ended()[0].result, SyncResult::Cancelled);
    EXPECT_FALSE(controller->syncGate().inFontSynchroizing());
}

TEST_F(SyncOutcomeTest, AStopDuringTheChainEndsItAsCancelledAndFreesTheGate) {
    const auto fonts = accountFonts();
    addFault({{"path", "/api/v1/fonts/*"}, {"delayMs", 300}, {"count", -1}});
    auto c = controller;
    queue->sync([c] { c->syncSettingedFontActiveDeactiveOnMembersSite(); });
    ASSERT_EQ(observer->planned, (std::vector<long>{3}));
    controller->stop();
    ASSERT_TRUE(MainQueue::main().runUntil([&] { return !observer->ended().empty(); }, 20s));
    settle();
    const auto ended = observer->ended();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].result, SyncResult::Cancelled);
    EXPECT_EQ(ended[0].left, 3 - ended[0].downloaded);
    EXPECT_FALSE(controller->syncGate().inFontSynchroizing()) << "the next start may run";
}

}  // namespace
}  // namespace tavo::test
