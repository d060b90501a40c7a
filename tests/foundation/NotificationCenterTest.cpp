#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NotificationCenter.h"

namespace tavo {
namespace {

using Token = NotificationCenter::Token;

TEST(NotificationCenterTest, DefaultCenterIsOneInstance) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}

TEST(NotificationCenterTest, DeliversByNameInOrderOfAdditionWithUserInfo) {
    NotificationCenter center;
    std::vector<std::string> calls;
    center.addObserver("fmUpdateProgress", [&](const Notification& n) {
        calls.push_back("first:" + std::any_cast<std::string>(n.userInfo.at("typeface")));
    });
    center.addObserver("pcUpdateProgress", [&](const Notification&) { calls.push_back("other"); });
    center.addObserver("", [&](const Notification& n) { calls.push_back("all:" + n.name); });
    center.addObserver("fmUpdateProgress", [&](const Notification& n) {
        calls.push_back("second:" +
                        std::to_string(std::any_cast<double>(n.userInfo.at("progress"))));
    });

    center.post("fmUpdateProgress", {{"typeface", std::string("Serif")}, {"progress", 0.5}});
    EXPECT_EQ(calls,
              (std::vector<std::string>{"first:Serif", "all:fmUpdateProgress", "second:0.500000"}));
    calls.clear();
    center.post("loginSuccess");
    EXPECT_EQ(calls, std::vector<std::string>{"all:loginSuccess"});
}

TEST(NotificationCenterTest, ObserversRunSynchronouslyOnThePostingThread) {
    NotificationCenter center;
    std::thread::id observedOn;
    bool delivered = false;
    center.addObserver("serverSentEvent", [&](const Notification&) {
        observedOn = std::this_thread::get_id();
        delivered = true;
    });
    std::thread::id postedOn;
    std::thread poster([&] {
        postedOn = std::this_thread::get_id();
        center.post("serverSentEvent", {{"open", true}});
        EXPECT_TRUE(delivered);  // before post() returned
    });
    poster.join();
    EXPECT_EQ(observedOn, postedOn);
}

TEST(NotificationCenterTest, RemovedObserverIsNotCalledAgain) {
    NotificationCenter center;
    int calls = 0;
    const Token token = center.addObserver("errorEvent", [&](const Notification&) { ++calls; });
    center.post("errorEvent");
    center.removeObserver(token);
    center.removeObserver(token);  // twice is harmless
    center.post("errorEvent");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, RemovalDuringAPostSkipsTheRemovedObserver) {
    NotificationCenter center;
    std::vector<std::string> calls;
    Token self = 0;
    Token later = 0;
    self = center.addObserver("n", [&](const Notification&) {
        calls.push_back("self");
        center.removeObserver(self);
        center.removeObserver(later);
    });
    later = center.addObserver("n", [&](const Notification&) { calls.push_back("later"); });
    center.post("n");
    center.post("n");
    EXPECT_EQ(calls, std::vector<std::string>{"self"});
}

TEST(NotificationCenterTest, ObserverMayAddObserversAndPostFromItsCallback) {
    NotificationCenter center;
    std::vector<std::string> calls;
    center.addObserver("outer", [&](const Notification&) {
        calls.push_back("outer");
        center.addObserver("outer", [&](const Notification&) { calls.push_back("added"); });
        center.post("inner");
    });
    center.addObserver("inner", [&](const Notification&) { calls.push_back("inner"); });
    center.post("outer");
    // An observer added during a post waits for the next one.
    EXPECT_EQ(calls, (std::vector<std::string>{"outer", "inner"}));
}

TEST(NotificationCenterTest, ConcurrentPostsAndRegistrationsAreSafe) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    center.addObserver("tick", [&](const Notification&) { delivered.fetch_add(1); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                const Token token = center.addObserver("tick", [](const Notification&) {});
                center.post("tick");
                center.removeObserver(token);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(delivered.load(), 600);
}

}  // namespace
}  // namespace tavo
