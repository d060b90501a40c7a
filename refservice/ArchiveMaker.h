#pragma once

#include <optional>
#include <string>

namespace tavo::refservice {

// Update archives for versions that the seed or the admin offers without an
// archive of their own: a zip holding "TAVO-Ver<version>/TAVO.app" with an
// Info.plist of that version and an executable that does nothing. Made with
// the zip tool.
class ArchiveMaker {
public:
    // None when the version is not a plain name or zip fails.
    static std::optional<std::string> placeholder(const std::string& version);
};

}  // namespace tavo::refservice
