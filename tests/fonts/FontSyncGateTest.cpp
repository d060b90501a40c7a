// The gate that lets one synchronization run at a time.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "fonts/FontSyncGate.h"

namespace tavo::test {
namespace {

TEST(FontSyncGateTest, OneHoldAtATimeReleasedByItsScope) {
    FontSyncGate gate;
    EXPECT_FALSE(gate.inFontSynchroizing());
    {
        FontSyncGate::Hold hold = gate.tryAcquire();
        ASSERT_TRUE(hold);
        EXPECT_TRUE(gate.inFontSynchroizing());
        EXPECT_FALSE(gate.tryAcquire()) << "a second starter skips";
        EXPECT_TRUE(gate.inFontSynchroizing()) << "a refused try takes nothing away";
    }
    EXPECT_FALSE(gate.inFontSynchroizing());
    EXPECT_TRUE(gate.tryAcquire());
}

TEST(FontSyncGateTest, AMovedHoldReleasesOnceWhereItEnds) {
    FontSyncGate gate;
    FontSyncGate::Hold first = gate.tryAcquire();
    FontSyncGate::Hold moved = std::move(first);
    first.release();  // holds nothing any more: no effect
    EXPECT_TRUE(gate.inFontSynchroizing());
    // Across threads, as a starter hands it to the serial queue.
    std::thread([hold = std::move(moved)]() mutable { hold.release(); }).join();
    EXPECT_FALSE(gate.inFontSynchroizing());
    FontSyncGate::Hold again = gate.tryAcquire();
    EXPECT_TRUE(again);
    again = FontSyncGate::Hold();  // assigning over a hold releases it
    EXPECT_FALSE(gate.inFontSynchroizing());
}

TEST(FontSyncGateTest, TheChainKeepsTheHoldUntilItGivesItBack) {
    FontSyncGate gate;
    EXPECT_FALSE(gate.chainHolds());
    gate.handToChain(gate.tryAcquire());
    EXPECT_TRUE(gate.chainHolds());
    EXPECT_TRUE(gate.inFontSynchroizing());
    EXPECT_FALSE(gate.tryAcquire());

    FontSyncGate::Hold back = gate.takeChainHold();
    EXPECT_TRUE(back);
    EXPECT_FALSE(gate.chainHolds());
    EXPECT_FALSE(gate.takeChainHold()) << "given back once";
    back.release();
    EXPECT_FALSE(gate.inFontSynchroizing());
}

TEST(FontSyncGateTest, TheChangeHandlerHearsEachTakingAndFreeing) {
    FontSyncGate gate;
    std::vector<bool> heard;
    gate.setChangeHandler([&](bool held) { heard.push_back(held); });
    {
        FontSyncGate::Hold hold = gate.tryAcquire();
        EXPECT_FALSE(gate.tryAcquire()) << "a refused try changes nothing";
        gate.handToChain(std::move(hold));
    }
    EXPECT_EQ(heard, (std::vector<bool>{true})) << "handed to the chain, still held";
    gate.takeChainHold().release();
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));

    gate.setChangeHandler({});
    gate.tryAcquire();
    EXPECT_EQ(heard.size(), 2u);
}

TEST(FontSyncGateTest, AHoldOutlivingItsGateIsHarmless) {
    FontSyncGate::Hold hold;
    {
        FontSyncGate gate;
        hold = gate.tryAcquire();
    }
    hold.release();
    EXPECT_FALSE(hold);
}

}  // namespace
}  // namespace tavo::test
