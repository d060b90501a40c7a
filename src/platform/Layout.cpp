#include "platform/Layout.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace tavo::platform {

namespace {

std::mutex& rootMutex() {
    static std::mutex m;
    return m;
}

std::string& rootValue() {
    static std::string root = [] {
        const char* env = std::getenv("TAVO_ROOT");
        std::string r = env ? env : "";
        while (r.size() > 1 && r.back() == '/')
            r.pop_back();
        return r;
    }();
    return root;
}

}  // namespace

Layout Layout::linuxLayout() {
    Layout l;
    l.applicationRoot = "/opt/Oskavelle";
    l.autostartEntry = "/etc/xdg/autostart/oskavelle.TAVO.desktop";
    l.usersHomes = "/home";
    l.userArea = ".local/share/Oskavelle/TAVO";
    l.userLogs = ".local/state/Oskavelle/Logs";
    l.userFonts = ".local/share/Oskavelle/TAVO/Fonts";  // never scanned by fontconfig
    l.userFontLinks = ".local/share/fonts/Oskavelle";
    l.userFontConfig = ".config/fontconfig/conf.d";
    l.machineFonts = "/usr/local/share/fonts";
    l.systemFonts = "/usr/share/fonts";
    l.polkitActions = "/usr/share/polkit-1/actions";
    l.applicationOwner = "root:root";
    return l;
}

Layout Layout::macOSLayout() {
    Layout l;
    l.applicationRoot = "/Applications/Oskavelle";
    l.autostartEntry = "/Library/LaunchAgents/oskavelle.TAVO.plist";
    l.usersHomes = "/Users";
    l.userArea = "Library/Application Support/Oskavelle/TAVO";
    l.userLogs = "Library/Logs";
    l.userFonts = "Library/Fonts";
    l.machineFonts = "/Library/Fonts";
    l.systemFonts = "/System/Library/Fonts";
    l.applicationOwner = "root:admin";
    return l;
}

const Layout& Layout::current() {
    // Every path of the user area starts here, several times per downloaded
    // font: each root's layout is built once. A process sees few roots (tests
    // give each case one), so they are all kept.
    static std::mutex mutex;
    static std::vector<std::unique_ptr<const Layout>> built;
    const std::string root = platform::sandboxRoot();
    std::lock_guard lock(mutex);
    for (auto it = built.rbegin(); it != built.rend(); ++it)
        if ((*it)->sandboxRoot == root)
            return **it;
#ifdef __APPLE__
    const Layout base = macOSLayout();
#else
    const Layout base = linuxLayout();
#endif
    built.push_back(std::make_unique<const Layout>(root.empty() ? base : base.rootedAt(root)));
    return *built.back();
}

Layout Layout::rootedAt(const std::string& root) const {
    Layout l = *this;
    for (std::string* place :
         {&l.applicationRoot, &l.autostartEntry, &l.usersHomes, &l.machineFonts, &l.systemFonts})
        *place = root + *place;
    if (!l.polkitActions.empty())
        l.polkitActions = root + l.polkitActions;
    l.sandboxRoot = root;
    return l;
}

std::string sandboxRoot() {
    std::lock_guard lock(rootMutex());
    return rootValue();
}

void setSandboxRoot(const std::string& root) {
    std::lock_guard lock(rootMutex());
    rootValue() = root;
}

}  // namespace tavo::platform
