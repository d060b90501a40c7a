#include "update/UpdateVersion.h"

#include <algorithm>

namespace tavo {

bool UpdateVersion::isPlain(const std::string& version) {
    constexpr std::size_t kLongest = 64;
    if (version.empty() || version.size() > kLongest || version.find("..") != std::string::npos ||
        version == ".")
        return false;
    return std::all_of(version.begin(), version.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_' || c == '+';
    });
}

}  // namespace tavo
