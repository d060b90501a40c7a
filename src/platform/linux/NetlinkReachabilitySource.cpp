#include "platform/linux/NetlinkReachabilitySource.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "foundation/Log.h"
#include "platform/linux/HostResolver.h"
#include "platform/linux/IpAddress.h"
#include "platform/linux/NetlinkRoutes.h"

namespace tavo::platform {

namespace {

// How long a check waits for a host name's addresses.
constexpr auto kResolveWait = std::chrono::milliseconds(2000);
// Changes come in bursts (a link going down takes its addresses and routes
// with it): the check waits until the messages have been quiet this long,
// for at most kSettleRounds rounds.
constexpr int kSettleMilliseconds = 100;
constexpr int kSettleRounds = 10;

constexpr unsigned kWatchedGroups =
    RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;

std::uint32_t reachableIf(bool reachable) {
    return reachable ? kReachabilityFlagsReachable : 0;
}

bool isLocalhostName(std::string host) {
    for (char& c : host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    return host == "localhost" || host.ends_with(".localhost");
}

// Reads every message waiting on the socket. False when the socket failed
// for good; an overrun (messages lost) only means that something changed.
bool drain(int socket) {
    char buffer[8192];
    for (;;) {
        ssize_t received = recv(socket, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (received >= 0)
            continue;
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && errno == ENOBUFS)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

}  // namespace

// What the source judges; shared with the watching thread, which may
// outlive the source when it is stopped from its own callback.
struct NetlinkReachabilitySource::Target {
    ReachabilityTarget target;
    std::optional<IpAddress> literal;
    bool alwaysReachable = false;
    std::unique_ptr<HostResolver> resolver;

    explicit Target(ReachabilityTarget value);
    std::optional<std::uint32_t> flags(const std::atomic<bool>* cancelled);
};

NetlinkReachabilitySource::Target::Target(ReachabilityTarget value) : target(std::move(value)) {
    if (target.host.empty())
        return;
    literal = IpAddress::parse(target.host);
    if (literal)
        alwaysReachable = literal->isLoopback();
    else if (isLocalhostName(target.host))
        alwaysReachable = true;
    else
        resolver = std::make_unique<HostResolver>(target.host);
}

std::optional<std::uint32_t> NetlinkReachabilitySource::Target::flags(
    const std::atomic<bool>* cancelled) {
    if (target.host.empty()) {
        auto found = NetlinkRoutes::hasDefaultRoute();
        return found ? std::optional(reachableIf(*found)) : std::nullopt;
    }
    if (alwaysReachable)
        return kReachabilityFlagsReachable;
    if (literal) {
        auto found = NetlinkRoutes::hasRouteTo(*literal);
        return found ? std::optional(reachableIf(*found)) : std::nullopt;
    }
    std::vector<IpAddress> addresses = resolver->resolve(kResolveWait, cancelled);
    bool asked = false;
    for (const IpAddress& address : addresses) {
        if (address.isLoopback())
            return kReachabilityFlagsReachable;
        auto found = NetlinkRoutes::hasRouteTo(address);
        if (found && *found)
            return kReachabilityFlagsReachable;
        asked = asked || found.has_value();
    }
    if (!addresses.empty() && !asked)
        return std::nullopt;
    return 0;
}

// One started watch: the subscribed socket, the wake-up for stop(), and the
// callback. Shared with the thread; the descriptors close with the last owner.
struct NetlinkReachabilitySource::Watch {
    int socket = -1;
    int wake = -1;
    std::atomic<bool> stopping{false};
    std::function<void(std::uint32_t)> onChange;

    ~Watch() {
        if (socket >= 0)
            close(socket);
        if (wake >= 0)
            close(wake);
    }
};

NetlinkReachabilitySource::NetlinkReachabilitySource(ReachabilityTarget target)
    : target_(std::make_shared<Target>(std::move(target))) {}

NetlinkReachabilitySource::~NetlinkReachabilitySource() {
    stop();
}

std::shared_ptr<ReachabilitySource> NetlinkReachabilitySource::create(
    const ReachabilityTarget& target) {
    return std::make_shared<NetlinkReachabilitySource>(target);
}

std::optional<std::uint32_t> NetlinkReachabilitySource::currentFlags() {
    return target_->flags(nullptr);
}

bool NetlinkReachabilitySource::start(std::function<void(std::uint32_t flags)> onChange) {
    std::lock_guard lock(mutex_);
    if (watch_)
        return true;
    auto watch = std::make_shared<Watch>();
    watch->onChange = std::move(onChange);
    watch->socket = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    watch->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (watch->socket < 0 || watch->wake < 0) {
        WLog("Reachability: cannot open a routing socket: %@", std::strerror(errno));
        return false;
    }
    sockaddr_nl groups{};
    groups.nl_family = AF_NETLINK;
    groups.nl_groups = kWatchedGroups;
    if (bind(watch->socket, reinterpret_cast<sockaddr*>(&groups), sizeof(groups)) != 0) {
        WLog("Reachability: cannot subscribe to routing changes: %@", std::strerror(errno));
        return false;
    }
    try {
        thread_ = std::thread(&NetlinkReachabilitySource::run, target_, watch);
    } catch (const std::system_error& error) {
        WLog("Reachability: cannot start the watcher: %@", error.what());
        return false;
    }
    watch_ = std::move(watch);
    return true;
}

void NetlinkReachabilitySource::stop() {
    std::shared_ptr<Watch> watch;
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        watch = std::move(watch_);
        thread = std::move(thread_);
    }
    if (!watch)
        return;
    watch->stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(watch->wake, &one, sizeof(one));
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();  // called from onChange: the thread ends after it returns
    else
        thread.join();
}

void NetlinkReachabilitySource::run(std::shared_ptr<Target> target, std::shared_ptr<Watch> watch) {
    pthread_setname_np(pthread_self(), "reachability");
    // Subscribed before the first check, so no change after it goes unseen.
    std::optional<std::uint32_t> last = target->flags(&watch->stopping);
    pollfd fds[2] = {{watch->socket, POLLIN, 0}, {watch->wake, POLLIN, 0}};
    while (!watch->stopping) {
        int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || watch->stopping || (fds[1].revents & POLLIN))
            break;
        if (fds[0].revents == 0)
            continue;
        if (!drain(watch->socket)) {
            WLog("Reachability: the routing socket failed: %@", std::strerror(errno));
            break;
        }
        for (int round = 0; round < kSettleRounds && !watch->stopping; ++round) {
            if (poll(fds, 2, kSettleMilliseconds) <= 0 || (fds[1].revents & POLLIN))
                break;
            if (!drain(watch->socket))
                break;
        }
        if (watch->stopping)
            break;
        std::optional<std::uint32_t> flags = target->flags(&watch->stopping);
        if (watch->stopping)
            break;
        if (flags && flags != last) {
            last = flags;
            watch->onChange(*flags);
        }
    }
}

}  // namespace tavo::platform
