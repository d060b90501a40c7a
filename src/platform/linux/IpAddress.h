#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tavo::platform {

// One IPv4 or IPv6 address in network byte order.
struct IpAddress {
    int family = 0;  // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> bytes{};

    // A literal address ("192.0.2.1", "2001:db8::1", "[::1]"); none for
    // anything else, host names included.
    static std::optional<IpAddress> parse(const std::string& text);
    // The address of a socket address of either family; none for others.
    static std::optional<IpAddress> fromSockaddr(const void* sockaddr, std::size_t size);

    // 4 or 16 bytes.
    std::size_t length() const;
    // 127.0.0.0/8, ::1 and IPv4-mapped loopback addresses.
    bool isLoopback() const;
    std::string toString() const;

    bool operator==(const IpAddress&) const = default;
};

}  // namespace tavo::platform
