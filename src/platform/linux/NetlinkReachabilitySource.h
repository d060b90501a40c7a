#pragma once

#include <memory>
#include <mutex>
#include <thread>

#include "platform/ReachabilitySource.h"

namespace tavo::platform {

// Reachability from the kernel's routing tables over rtnetlink. The internet
// connection is reachable while the main table holds a usable default route
// (IPv4 or IPv6); a host is reachable when the kernel has a unicast or local
// route to its address (a name is resolved on every check, with a bounded
// wait); loopback addresses and "localhost" always are. Reachable means the
// reachable flag and nothing else. The port of a target plays no part.
//
// While started, a thread of its own listens to link, address and route
// changes, checks again after each burst of them and reports the flags when
// they differ from the last ones it saw.
class NetlinkReachabilitySource : public ReachabilitySource {
public:
    explicit NetlinkReachabilitySource(ReachabilityTarget target);
    ~NetlinkReachabilitySource() override;

    NetlinkReachabilitySource(const NetlinkReachabilitySource&) = delete;
    NetlinkReachabilitySource& operator=(const NetlinkReachabilitySource&) = delete;

    // A source for target: the factory the programs install.
    static std::shared_ptr<ReachabilitySource> create(const ReachabilityTarget& target);

    std::optional<std::uint32_t> currentFlags() override;
    // False when the kernel's change messages cannot be subscribed to; true
    // at once when already started.
    bool start(std::function<void(std::uint32_t flags)> onChange) override;
    // Returns once the thread has ended (at once when called from onChange).
    void stop() override;

private:
    struct Target;
    struct Watch;

    static void run(std::shared_ptr<Target> target, std::shared_ptr<Watch> watch);

    std::shared_ptr<Target> target_;  // shared with the watching thread
    std::mutex mutex_;
    std::shared_ptr<Watch> watch_;
    std::thread thread_;
};

}  // namespace tavo::platform
