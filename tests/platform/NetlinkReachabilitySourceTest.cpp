#include <gtest/gtest.h>
#include <sched.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/NetlinkReachabilitySource.h"

namespace tavo::platform {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kReachable = kReachabilityFlagsReachable;
// Longer than the watcher takes to settle after a burst of changes.
constexpr auto kWatcherPause = 300ms;
constexpr unsigned kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned kRouteReject = 0x0200;  // RTF_REJECT

// Whether the calling thread's network namespace has a default route, read
// from procfs rather than over netlink.
bool procfsHasDefaultRoute() {
    std::ifstream ipv4("/proc/thread-self/net/route");
    std::string line;
    std::getline(ipv4, line);  // the heading
    while (std::getline(ipv4, line)) {
        std::istringstream fields(line);
        std::string device, destination, gateway, flags, refs, use, metric, mask;
        fields >> device >> destination >> gateway >> flags >> refs >> use >> metric >> mask;
        const unsigned bits = std::stoul(flags, nullptr, 16);
        if (destination == "00000000" && mask == "00000000" && (bits & kRouteUp) &&
            !(bits & kRouteReject))
            return true;
    }
    std::ifstream ipv6("/proc/thread-self/net/ipv6_route");
    while (std::getline(ipv6, line)) {
        std::istringstream fields(line);
        std::string destination, prefix, source, sourcePrefix, nextHop, metric, refs, use, flags;
        fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >> refs >>
            use >> flags;
        const unsigned bits = std::stoul(flags, nullptr, 16);
        if (destination == std::string(32, '0') && prefix == "00" && (bits & kRouteUp) &&
            !(bits & kRouteReject))
            return true;
    }
    return false;
}

// Runs body on a thread of its own inside a fresh network namespace: a
// loopback link that is down and no routes at all. Threads the body starts
// live there too, and nothing outside changes. False when the machine does
// not allow it.
bool inFreshNetworkNamespace(const std::function<void()>& body) {
    bool entered = false;
    std::thread thread([&] {
        if (unshare(CLONE_NEWNET) != 0)
            return;
        entered = true;
        body();
    });
    thread.join();
    return entered;
}

// Runs `ip` with arguments in the calling thread's network namespace.
bool ip(const std::string& arguments) {
    const std::string command =
        "PATH=\"$PATH:/usr/sbin:/sbin\" ip " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

bool haveIpTool() {
    return std::system("PATH=\"$PATH:/usr/sbin:/sbin\" command -v ip >/dev/null 2>&1") == 0;
}

std::optional<std::uint32_t> flagsFor(const std::string& host) {
    return NetlinkReachabilitySource(ReachabilityTarget{host, 0}).currentFlags();
}

// The flags a source reports, in order.
class Recorder {
public:
    std::function<void(std::uint32_t)> callback() {
        return [this](std::uint32_t flags) {
            std::lock_guard lock(mutex_);
            seen_.push_back(flags);
            changed_.notify_all();
        };
    }
    // Waits (bounded) until count reports have arrived; returns them all.
    std::vector<std::uint32_t> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 10s, [&] { return seen_.size() >= count; });
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint32_t> seen_;
};

const std::vector<std::string> kLoopbackHosts = {
    "127.0.0.1", "127.8.9.10", "::1", "[::1]", "::ffff:127.0.0.1", "localhost", "LocalHost.",
};

TEST(NetlinkReachabilitySourceTest, LoopbackIsAlwaysReachable) {
    for (const auto& host : kLoopbackHosts)
        EXPECT_EQ(flagsFor(host), kReachable) << host;

    // Even with the loopback link down and no route at all.
    const bool entered = inFreshNetworkNamespace([] {
        for (const auto& host : kLoopbackHosts)
            EXPECT_EQ(flagsFor(host), kReachable) << "fresh namespace: " << host;
    });
    if (!entered)
        GTEST_SKIP() << "no network namespace of our own (needs CAP_SYS_ADMIN)";
}

TEST(NetlinkReachabilitySourceTest, InternetFollowsTheDefaultRoute) {
    EXPECT_EQ(flagsFor(""), procfsHasDefaultRoute() ? kReachable : 0u);
}

TEST(NetlinkReachabilitySourceTest, TargetsWithoutRoutesAreUnreachable) {
    const bool entered = inFreshNetworkNamespace([] {
        ASSERT_FALSE(procfsHasDefaultRoute());
        EXPECT_EQ(flagsFor(""), 0u);
        EXPECT_EQ(flagsFor("192.0.2.10"), 0u);
        EXPECT_EQ(flagsFor("2001:db8::5"), 0u);
        // The resolver's server is out of reach here, so the name fails fast.
        EXPECT_EQ(flagsFor("tavo-reachability-test.invalid"), 0u);
    });
    if (!entered)
        GTEST_SKIP() << "no network namespace of our own (needs CAP_SYS_ADMIN)";
}

TEST(NetlinkReachabilitySourceTest, RouteKindsDecideReachability) {
    if (!haveIpTool())
        GTEST_SKIP() << "the ip tool is not installed";
    const bool entered = inFreshNetworkNamespace([] {
        ASSERT_TRUE(ip("link set lo up"));
        ASSERT_TRUE(ip("route add unreachable default"));
        EXPECT_EQ(flagsFor(""), 0u) << "an unreachable default route";
        ASSERT_TRUE(ip("route replace blackhole default"));
        EXPECT_EQ(flagsFor(""), 0u) << "a blackhole default route";
        ASSERT_TRUE(ip("route replace prohibit default"));
        EXPECT_EQ(flagsFor(""), 0u) << "a prohibit default route";
        ASSERT_TRUE(ip("route add default dev lo table 100"));
        EXPECT_EQ(flagsFor(""), 0u) << "a default route outside the main table";

        ASSERT_TRUE(ip("route replace default dev lo"));
        EXPECT_EQ(flagsFor(""), kReachable);
        EXPECT_EQ(flagsFor("192.0.2.10"), kReachable);
        EXPECT_EQ(flagsFor("2001:db8::5"), 0u) << "no IPv6 route";

        ASSERT_TRUE(ip("route add blackhole 198.51.100.0/24"));
        ASSERT_TRUE(ip("route add unreachable 203.0.113.0/24"));
        ASSERT_TRUE(ip("route add prohibit 192.0.2.128/25"));
        EXPECT_EQ(flagsFor("198.51.100.7"), 0u);
        EXPECT_EQ(flagsFor("203.0.113.7"), 0u);
        EXPECT_EQ(flagsFor("192.0.2.200"), 0u);
        EXPECT_EQ(flagsFor("192.0.2.10"), kReachable);

        ASSERT_TRUE(ip("route del default"));
        EXPECT_EQ(flagsFor(""), 0u);
        ASSERT_TRUE(ip("-6 route add default dev lo"));
        EXPECT_EQ(flagsFor(""), kReachable) << "an IPv6 default route";
        EXPECT_EQ(flagsFor("2001:db8::5"), kReachable);
        EXPECT_EQ(flagsFor("192.0.2.10"), 0u);
    });
    if (!entered)
        GTEST_SKIP() << "no network namespace of our own (needs CAP_SYS_ADMIN)";
}

TEST(NetlinkReachabilitySourceTest, WatcherReportsOnlyChanges) {
    if (!haveIpTool())
        GTEST_SKIP() << "the ip tool is not installed";
    const bool entered = inFreshNetworkNamespace([] {
        NetlinkReachabilitySource source(ReachabilityTarget{});
        Recorder recorder;
        ASSERT_TRUE(source.start(recorder.callback()));
        // Changes that leave the flags as they are report nothing. The pause
        // only lets the watcher take them apart from what follows.
        ASSERT_TRUE(ip("link set lo up"));
        ASSERT_TRUE(ip("route add 10.9.0.0/16 dev lo"));
        std::this_thread::sleep_for(kWatcherPause);
        // The default route's arrival and loss are reported once each.
        ASSERT_TRUE(ip("route add default dev lo"));
        EXPECT_EQ(recorder.waitFor(1), std::vector<std::uint32_t>{kReachable});
        ASSERT_TRUE(ip("route del default"));
        EXPECT_EQ(recorder.waitFor(2), (std::vector<std::uint32_t>{kReachable, 0}));
        ASSERT_TRUE(ip("link set lo down"));
        ASSERT_TRUE(ip("link set lo up"));
        ASSERT_TRUE(ip("-6 route add default dev lo"));
        EXPECT_EQ(recorder.waitFor(3), (std::vector<std::uint32_t>{kReachable, 0, kReachable}));
        ASSERT_TRUE(ip("route add 10.10.0.0/16 dev lo"));
        std::this_thread::sleep_for(kWatcherPause);
        EXPECT_EQ(recorder.waitFor(3).size(), 3u);
        source.stop();
    });
    if (!entered)
        GTEST_SKIP() << "no network namespace of our own (needs CAP_SYS_ADMIN)";
}

TEST(NetlinkReachabilitySourceTest, StoppingFromTheCallbackDoesNotHang) {
    if (!haveIpTool())
        GTEST_SKIP() << "the ip tool is not installed";
    const bool entered = inFreshNetworkNamespace([] {
        auto source = std::make_shared<NetlinkReachabilitySource>(ReachabilityTarget{"192.0.2.1"});
        Recorder recorder;
        auto record = recorder.callback();
        std::weak_ptr<NetlinkReachabilitySource> weak = source;
        ASSERT_TRUE(source->start([weak, record](std::uint32_t flags) {
            if (auto self = weak.lock())
                self->stop();
            record(flags);
        }));
        ASSERT_TRUE(ip("link set lo up"));
        ASSERT_TRUE(ip("route add default dev lo"));
        EXPECT_EQ(recorder.waitFor(1), std::vector<std::uint32_t>{kReachable});
        // Stopping again is harmless, and the source can start once more.
        source->stop();
        EXPECT_TRUE(source->start(recorder.callback()));
        source.reset();  // destroyed while started
    });
    if (!entered)
        GTEST_SKIP() << "no network namespace of our own (needs CAP_SYS_ADMIN)";
}

TEST(NetlinkReachabilitySourceTest, StartsAndStopsRepeatedly) {
    for (const std::string host : {"", "127.0.0.1", "192.0.2.1", "localhost"}) {
        NetlinkReachabilitySource source(ReachabilityTarget{host, 443});
        for (int round = 0; round < 20; ++round) {
            ASSERT_TRUE(source.start([](std::uint32_t) {})) << host;
            EXPECT_TRUE(source.start([](std::uint32_t) {})) << "already started: " << host;
            source.stop();
            source.stop();
        }
        EXPECT_TRUE(source.currentFlags().has_value()) << host;
        ASSERT_TRUE(source.start([](std::uint32_t) {}));
        // The destructor stops the watcher.
    }
}

}  // namespace
}  // namespace tavo::platform
