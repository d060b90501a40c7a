#pragma once

#include <map>
#include <memory>
#include <string>

namespace tavo::platform {

// A program bundle: <Name>.app/Contents/{Info.plist, MacOS/, Resources/}.
class Bundle {
public:
    // Reads <bundlePath>/Contents/Info.plist; a missing or unreadable file
    // leaves every value empty.
    explicit Bundle(std::string bundlePath);

    // The bundle that contains an executable at <X.app>/Contents/MacOS/<exe>,
    // or nullptr when the executable lies in no bundle.
    static std::shared_ptr<const Bundle> containing(const std::string& executablePath);

    // The running program's bundle, found from /proc/self/exe, unless one was
    // named with setMainBundlePath. Never null: outside a bundle it is empty.
    static std::shared_ptr<const Bundle> mainBundle();
    static void setMainBundlePath(const std::string& bundlePath);  // empty: back to /proc/self/exe

    const std::string& bundlePath() const { return path_; }
    std::string contentsPath() const;
    std::string resourcePath() const;
    std::string executableFolderPath() const;
    std::string executablePath() const;  // Contents/MacOS/<CFBundleExecutable>

    // A string value of Info.plist; empty when missing.
    std::string infoValue(const std::string& key) const;
    std::string name() const { return infoValue("CFBundleName"); }
    std::string identifier() const { return infoValue("CFBundleIdentifier"); }
    std::string shortVersion() const { return infoValue("CFBundleShortVersionString"); }
    std::string version() const { return infoValue("CFBundleVersion"); }

private:
    std::string path_;
    std::map<std::string, std::string> info_;
};

}  // namespace tavo::platform
