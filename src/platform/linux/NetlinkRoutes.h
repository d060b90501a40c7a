#pragma once

#include <optional>

#include "platform/linux/IpAddress.h"

namespace tavo::platform {

// Questions to the kernel's routing tables over rtnetlink. Each call opens
// a socket of its own, so any thread may ask.
class NetlinkRoutes {
public:
    // Whether the main table holds a usable default route, IPv4 or IPv6
    // (a unicast route with a destination of length 0 whose next hop is
    // neither dead nor on a link that is down); none when the kernel
    // cannot be asked.
    static std::optional<bool> hasDefaultRoute();

    // Whether the kernel would send packets for address over a unicast or
    // local route (what `ip route get` answers); none when the kernel cannot
    // be asked.
    static std::optional<bool> hasRouteTo(const IpAddress& address);
};

}  // namespace tavo::platform
