#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavo::platform {

struct OsVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
    auto operator<=>(const OsVersion&) const = default;
};

// Facts about the machine and its users. Inside a sandbox root every home
// folder is <root><usersHomes>/<user>, and the group database is
// <root>/etc/group when the sandbox has one.
class SystemInfo {
public:
    // Name of the user running the process.
    static std::string loginName();

    // Home folder of a user (the current one when empty); none when unknown.
    static std::optional<std::string> homeDirectory(const std::string& user = {});

    // Names of the entries of the users' homes folder, in directory order.
    static std::vector<std::string> userHomeEntries();

    // The administrators' group: the first existing of admin, sudo, wheel.
    static std::optional<std::string> adminGroupName();
    // Explicit members of a group (not the users whose primary group it is).
    static std::vector<std::string> groupMembers(const std::string& group);

    // Bytes available to an unprivileged user on the volume of path.
    static std::optional<std::uint64_t> freeBytes(const std::string& path);

    static std::string hostName();

    // The version report in the shape of sw_vers' output:
    // "ProductName:\t...\nProductVersion:\t...\nBuildVersion:\t...\n".
    static std::string osVersionText();
    // The same facts on one line, for the start-up report:
    // "Version <product> <version> (Build <kernel release>)".
    static std::string operatingSystemVersionString();

    // Kernel version (uname); the gate compares it with the minimum.
    static OsVersion osVersion();
    static OsVersion minimumOsVersion();
    static bool isSupportedOs() { return osVersion() >= minimumOsVersion(); }
};

}  // namespace tavo::platform
