#pragma once

#include <string>

namespace tavo::platform {

// The file-system places of one platform, as plain data. Absolute places are
// full paths; the user places are relative to a user's home folder.
struct Layout {
    std::string applicationRoot;   // folder of the versioned application folders
    std::string autostartEntry;    // file that starts the resident application at login
    std::string usersHomes;        // folder whose entries are the users' homes
    std::string userArea;          // support folder of TAVO, relative to a home
    std::string userLogs;          // log folder, relative to a home
    std::string userFonts;         // storage of the service's fonts, relative to a home
    std::string userFontLinks;     // shard folders of the active fonts' links (Linux only)
    std::string userFontConfig;    // fontconfig conf.d, relative to a home (Linux only)
    std::string machineFonts;      // fonts of every user of the machine
    std::string systemFonts;       // fonts of the operating system
    std::string polkitActions;     // polkit's actions folder (Linux only)
    std::string applicationOwner;  // owner:group of an installed version folder
    std::string sandboxRoot;       // empty outside a sandbox root

    static Layout linuxLayout();
    static Layout macOSLayout();

    // The layout of this build, rooted at the sandbox root when there is one.
    // Built once per root and kept for the life of the process, so the
    // reference stays valid when the root changes.
    static const Layout& current();

    // The same places with every absolute one moved under root.
    Layout rootedAt(const std::string& root) const;

    bool inSandbox() const { return !sandboxRoot.empty(); }
};

// The sandbox root: $TAVO_ROOT as read at first use, or the root set since;
// empty outside a sandbox. Thread-safe.
std::string sandboxRoot();
// Switches the sandbox root of this process (tests give each case its own).
void setSandboxRoot(const std::string& root);

}  // namespace tavo::platform
