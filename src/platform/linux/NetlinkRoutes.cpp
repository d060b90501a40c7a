#include "platform/linux/NetlinkRoutes.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tavo::platform {

namespace {

constexpr std::size_t kReceiveBufferSize = 64 * 1024;
constexpr int kReplyTimeoutSeconds = 2;

std::atomic<std::uint32_t> nextSequence{1};

// A netlink socket to the kernel's routing service, closed on scope exit.
class RouteSocket {
public:
    RouteSocket() {
        fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd_ < 0)
            return;
        // A reply that never comes must not hold the caller for ever.
        timeval timeout{kReplyTimeoutSeconds, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    }
    ~RouteSocket() {
        if (fd_ >= 0)
            close(fd_);
    }
    RouteSocket(const RouteSocket&) = delete;
    RouteSocket& operator=(const RouteSocket&) = delete;

    bool valid() const { return fd_ >= 0; }

    bool send(nlmsghdr* request) {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        ssize_t sent;
        do {
            sent = sendto(fd_, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                          sizeof(kernel));
        } while (sent < 0 && errno == EINTR);
        return sent == static_cast<ssize_t>(request->nlmsg_len);
    }

    // One datagram from the kernel; an empty result on failure or timeout.
    std::vector<char> receive() {
        std::vector<char> buffer(kReceiveBufferSize);
        sockaddr_nl from{};
        socklen_t fromLength = sizeof(from);
        ssize_t received;
        do {
            received = recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                reinterpret_cast<sockaddr*>(&from), &fromLength);
        } while (received < 0 && errno == EINTR);
        if (received <= 0 || from.nl_pid != 0)
            return {};
        buffer.resize(static_cast<std::size_t>(received));
        return buffer;
    }

private:
    int fd_ = -1;
};

struct RouteRequest {
    nlmsghdr header;
    rtmsg route;
    char attributes[64];
};

RouteRequest makeRequest(std::uint16_t flags, unsigned char family) {
    RouteRequest request;
    std::memset(&request, 0, sizeof(request));
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = flags;
    request.header.nlmsg_seq = nextSequence.fetch_add(1);
    request.route.rtm_family = family;
    return request;
}

void addAttribute(RouteRequest& request, unsigned short type, const void* data,
                  std::size_t length) {
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request.header) +
                                                NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
    std::memcpy(RTA_DATA(attribute), data, length);
    request.header.nlmsg_len =
        NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

bool nextHopUsable(unsigned flags) {
    return (flags & (RTNH_F_DEAD | RTNH_F_LINKDOWN)) == 0;
}

bool isUsableDefaultRoute(const nlmsghdr* header) {
    if (header->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
        return false;
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(header));
    if (route->rtm_family != AF_INET && route->rtm_family != AF_INET6)
        return false;
    if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST)
        return false;
    unsigned table = route->rtm_table;
    bool usable = nextHopUsable(route->rtm_flags);
    int length = static_cast<int>(RTM_PAYLOAD(header));
    for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        if (attribute->rta_type == RTA_TABLE && RTA_PAYLOAD(attribute) >= sizeof(std::uint32_t)) {
            std::memcpy(&table, RTA_DATA(attribute), sizeof(std::uint32_t));
        } else if (attribute->rta_type == RTA_MULTIPATH) {
            // Usable while any of the next hops is.
            usable = false;
            auto* nextHop = static_cast<const rtnexthop*>(RTA_DATA(attribute));
            int left = static_cast<int>(RTA_PAYLOAD(attribute));
            while (left >= static_cast<int>(sizeof(rtnexthop)) &&
                   nextHop->rtnh_len >= sizeof(rtnexthop) && nextHop->rtnh_len <= left) {
                usable = usable || nextHopUsable(nextHop->rtnh_flags);
                left -= RTNH_ALIGN(nextHop->rtnh_len);
                nextHop = RTNH_NEXT(nextHop);
            }
        }
    }
    return table == RT_TABLE_MAIN && usable;
}

// What one reply message settles: nothing yet, an answer, or that the
// answer cannot be known.
struct Reply {
    bool settled = false;
    std::optional<bool> value;
    static Reply more() { return {}; }
    static Reply answer(bool v) { return {true, v}; }
    static Reply unknown() { return {true, std::nullopt}; }
};

// Reads the replies to the request numbered seq until onMessage settles the
// answer; none when the socket fails first.
template <typename OnMessage>
std::optional<bool> readReplies(RouteSocket& socket, unsigned seq, OnMessage&& onMessage) {
    for (;;) {
        std::vector<char> reply = socket.receive();
        if (reply.empty())
            return std::nullopt;
        int length = static_cast<int>(reply.size());
        for (auto* header = reinterpret_cast<nlmsghdr*>(reply.data()); NLMSG_OK(header, length);
             header = NLMSG_NEXT(header, length)) {
            if (header->nlmsg_seq != seq)
                continue;
            const Reply verdict = onMessage(header);
            if (verdict.settled)
                return verdict.value;
        }
    }
}

}  // namespace

std::optional<bool> NetlinkRoutes::hasDefaultRoute() {
    RouteSocket socket;
    if (!socket.valid())
        return std::nullopt;
    RouteRequest request = makeRequest(NLM_F_REQUEST | NLM_F_DUMP, AF_UNSPEC);
    if (!socket.send(&request.header))
        return std::nullopt;
    bool found = false;
    return readReplies(socket, request.header.nlmsg_seq, [&found](const nlmsghdr* header) -> Reply {
        if (header->nlmsg_type == NLMSG_DONE)
            return Reply::answer(found);
        if (header->nlmsg_type == NLMSG_ERROR)
            return Reply::unknown();
        if (header->nlmsg_type == RTM_NEWROUTE && isUsableDefaultRoute(header))
            found = true;
        return Reply::more();
    });
}

std::optional<bool> NetlinkRoutes::hasRouteTo(const IpAddress& address) {
    RouteSocket socket;
    if (!socket.valid())
        return std::nullopt;
    RouteRequest request = makeRequest(NLM_F_REQUEST, static_cast<unsigned char>(address.family));
    request.route.rtm_dst_len = static_cast<unsigned char>(address.length() * 8);
    addAttribute(request, RTA_DST, address.bytes.data(), address.length());
    if (!socket.send(&request.header))
        return std::nullopt;
    return readReplies(socket, request.header.nlmsg_seq, [](const nlmsghdr* header) -> Reply {
        // An unreachable, prohibited or blackhole destination comes back
        // as an error.
        if (header->nlmsg_type == NLMSG_ERROR)
            return Reply::answer(false);
        if (header->nlmsg_type == RTM_NEWROUTE &&
            header->nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
            const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(header));
            return Reply::answer(route->rtm_type == RTN_UNICAST || route->rtm_type == RTN_LOCAL);
        }
        return Reply::more();
    });
}

}  // namespace tavo::platform
