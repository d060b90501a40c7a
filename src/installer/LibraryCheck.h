#pragma once

#include <string>
#include <vector>

namespace tavo::installer {

// Whether the shared libraries the bundled programs need are on this
// machine, asked of ldd (with an argument list) for each executable, and
// which Debian packages supply the missing ones.
class LibraryCheck {
public:
    struct Report {
        std::vector<std::string> missing;   // sonames, sorted, each once
        std::vector<std::string> packages;  // the packages that supply them, sorted
        std::vector<std::string> unknown;   // missing sonames no package is known for
        bool complete() const { return missing.empty(); }
        // "sudo apt-get install <packages>"; empty when no package is known.
        std::string installLine() const;
    };

    // The executables in the installer bundle's TAVO and TAVO-Uninstaller
    // bundles, and the installer's own.
    static std::vector<std::string> bundledExecutables(const std::string& installerBundle);
    static Report check(const std::vector<std::string>& executables);

    // The sonames ldd's output reports as "not found".
    static std::vector<std::string> notFound(const std::string& lddOutput);
    // The Debian package of a library TAVO links; empty when not in the table.
    static std::string packageFor(const std::string& soname);
    static Report reportFor(std::vector<std::string> missing);
};

}  // namespace tavo::installer
