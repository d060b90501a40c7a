#pragma once

#include <string>
#include <vector>

namespace tavo::installer {

// Small path helpers of the installation steps.
class InstallPaths {
public:
    // folder + "/" + name, without doubling a slash.
    static std::string join(const std::string& folder, const std::string& name);
    static std::string withoutTrailingSlash(std::string path);
    // Whether something is at path, a dangling link included.
    static bool present(const std::string& path);
    // The names in folder, sorted; none when it cannot be read.
    static std::vector<std::string> entries(const std::string& folder);
};

}  // namespace tavo::installer
