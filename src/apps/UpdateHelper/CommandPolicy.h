#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavo::helper {

// Which commands the privileged update helper runs: exactly the install
// step's tools, each with its fixed options, on paths inside the
// application root. The one path allowed outside it is the source of the
// move: a real folder in the invoking user's update area.
class CommandPolicy {
public:
    // applicationRoot and updateArea: absolute, without a trailing slash.
    // owner: the owner:group the install step gives a version folder.
    CommandPolicy(std::string applicationRoot, std::string updateArea, std::string owner,
                  uid_t user);

    // Empty when command (the tool's full path, then its arguments) may
    // run; otherwise why it is refused.
    std::string check(const std::vector<std::string>& command) const;

    // The path without empty and "." components and without a trailing
    // slash; empty when it is not absolute or has a ".." component.
    static std::string normalized(const std::string& path);

private:
    // Why path is no place strictly inside base (or base itself when
    // allowBase); empty when it is.
    std::string placeProblem(const std::string& path, const std::string& base,
                             bool allowBase) const;
    std::string realFolderProblem(const std::string& path, bool ownedByUser) const;

    std::string applicationRoot_;
    std::string updateArea_;
    std::string owner_;
    uid_t user_;
};

}  // namespace tavo::helper
