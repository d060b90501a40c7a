#pragma once

#include <string>
#include <vector>

namespace tavo::uninstaller {

// Where the uninstaller may delete: inside the application root, a user's
// home, or a font folder of the layout, and the autostart entry itself. A
// path is judged by its folder's real place plus its own name, so a
// symbolic link is judged (and removed) as the link, never as its target.
class RemovalPolicy {
public:
    // places: the folders whose contents may go; files: single files that may go.
    RemovalPolicy(std::vector<std::string> places, std::vector<std::string> files);

    bool allows(const std::string& path) const;

    // Removes path (a file, a link, or a folder with everything in it)
    // without following any symbolic link out of it. False, and nothing
    // touched, when the policy refuses the path (logged); false when
    // something could not be removed. A missing path is removed already.
    bool remove(const std::string& path) const;

private:
    std::vector<std::string> places_;
    std::vector<std::string> files_;
};

}  // namespace tavo::uninstaller
