#include "platform/linux/IpAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace tavo::platform {

std::optional<IpAddress> IpAddress::parse(const std::string& text) {
    std::string literal = text;
    if (literal.size() >= 2 && literal.front() == '[' && literal.back() == ']')
        literal = literal.substr(1, literal.size() - 2);
    IpAddress address;
    if (inet_pton(AF_INET, literal.c_str(), address.bytes.data()) == 1) {
        address.family = AF_INET;
        return address;
    }
    if (inet_pton(AF_INET6, literal.c_str(), address.bytes.data()) == 1) {
        address.family = AF_INET6;
        return address;
    }
    return std::nullopt;
}

std::optional<IpAddress> IpAddress::fromSockaddr(const void* sockaddr, std::size_t size) {
    if (!sockaddr || size < sizeof(sa_family_t))
        return std::nullopt;
    sa_family_t family = 0;
    std::memcpy(&family, sockaddr, sizeof(family));
    IpAddress address;
    if (family == AF_INET && size >= sizeof(sockaddr_in)) {
        sockaddr_in in{};
        std::memcpy(&in, sockaddr, sizeof(in));
        address.family = AF_INET;
        std::memcpy(address.bytes.data(), &in.sin_addr, 4);
        return address;
    }
    if (family == AF_INET6 && size >= sizeof(sockaddr_in6)) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, sockaddr, sizeof(in6));
        address.family = AF_INET6;
        std::memcpy(address.bytes.data(), &in6.sin6_addr, 16);
        return address;
    }
    return std::nullopt;
}

std::size_t IpAddress::length() const {
    return family == AF_INET6 ? 16 : 4;
}

bool IpAddress::isLoopback() const {
    if (family == AF_INET)
        return bytes[0] == 127;
    if (family != AF_INET6)
        return false;
    static constexpr std::uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (std::memcmp(bytes.data(), kLoopback6, 16) == 0)
        return true;
    // ::ffff:127.x.y.z
    static constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(bytes.data(), kMappedPrefix, 12) == 0 && bytes[12] == 127;
}

std::string IpAddress::toString() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (family != AF_INET && family != AF_INET6)
        return {};
    if (!inet_ntop(family, bytes.data(), text, sizeof(text)))
        return {};
    return text;
}

}  // namespace tavo::platform
