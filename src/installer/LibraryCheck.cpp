#include "installer/LibraryCheck.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/Process.h"
#include "platform/Bundle.h"

namespace tavo::installer {

namespace {

// The libraries the programs link on Debian 12, directly or through Qt,
// and the packages that hold them.
const std::map<std::string, std::string>& packageTable() {
    static const std::map<std::string, std::string> table = {
        {"libQt6Core.so.6", "libqt6core6"},
        {"libQt6Gui.so.6", "libqt6gui6"},
        {"libQt6Widgets.so.6", "libqt6widgets6"},
        {"libQt6DBus.so.6", "libqt6dbus6"},
        {"libQt6Svg.so.6", "libqt6svg6"},
        {"libQt6Network.so.6", "libqt6network6"},
        {"libQt6OpenGL.so.6", "libqt6opengl6"},
        {"libcurl.so.4", "libcurl4"},
        {"libplist-2.0.so.3", "libplist3"},
        {"libssl.so.3", "libssl3"},
        {"libcrypto.so.3", "libssl3"},
        {"libuuid.so.1", "libuuid1"},
        {"libharfbuzz.so.0", "libharfbuzz0b"},
        {"libharfbuzz-subset.so.0", "libharfbuzz-subset0"},
        {"libfontconfig.so.1", "libfontconfig1"},
        {"libfreetype.so.6", "libfreetype6"},
        {"libstdc++.so.6", "libstdc++6"},
        {"libgcc_s.so.1", "libgcc-s1"},
        {"libglib-2.0.so.0", "libglib2.0-0"},
        {"libdbus-1.so.3", "libdbus-1-3"},
        {"libxkbcommon.so.0", "libxkbcommon0"},
        {"libEGL.so.1", "libegl1"},
        {"libGLX.so.0", "libglx0"},
        {"libOpenGL.so.0", "libopengl0"},
        {"libGL.so.1", "libgl1"},
        {"libpng16.so.16", "libpng16-16"},
        {"libz.so.1", "zlib1g"},
        {"libzstd.so.1", "libzstd1"},
        {"libdouble-conversion.so.3", "libdouble-conversion3"},
        {"libpcre2-16.so.0", "libpcre2-16-0"},
        {"libb2.so.1", "libb2-1"},
        {"libmd4c.so.0", "libmd4c0"},
        {"libicuuc.so.72", "libicu72"},
        {"libicui18n.so.72", "libicu72"},
        {"libicudata.so.72", "libicu72"},
        {"libnghttp2.so.14", "libnghttp2-14"},
        {"libgraphite2.so.3", "libgraphite2-3"},
        {"libexpat.so.1", "libexpat1"},
        {"libbrotlidec.so.1", "libbrotli1"},
        {"libX11.so.6", "libx11-6"},
        {"libXau.so.6", "libxau6"},
        {"libXdmcp.so.6", "libxdmcp6"},
        {"libxcb.so.1", "libxcb1"},
        {"libGLdispatch.so.0", "libglvnd0"},
        {"libbrotlicommon.so.1", "libbrotli1"},
        {"libbsd.so.0", "libbsd0"},
        {"libmd.so.0", "libmd0"},
        {"libffi.so.8", "libffi8"},
        {"libpcre2-8.so.0", "libpcre2-8-0"},
        {"libsystemd.so.0", "libsystemd0"},
        {"libcap.so.2", "libcap2"},
        {"libgcrypt.so.20", "libgcrypt20"},
        {"libgpg-error.so.0", "libgpg-error0"},
        {"liblz4.so.1", "liblz4-1"},
        {"liblzma.so.5", "liblzma5"},
        {"libgomp.so.1", "libgomp1"},
        {"libgnutls.so.30", "libgnutls30"},
        {"libnettle.so.8", "libnettle8"},
        {"libhogweed.so.6", "libhogweed6"},
        {"libgmp.so.10", "libgmp10"},
        {"libp11-kit.so.0", "libp11-kit0"},
        {"libtasn1.so.6", "libtasn1-6"},
        {"libidn2.so.0", "libidn2-0"},
        {"libunistring.so.2", "libunistring2"},
        {"libpsl.so.5", "libpsl5"},
        {"librtmp.so.1", "librtmp1"},
        {"libssh2.so.1", "libssh2-1"},
        {"libgssapi_krb5.so.2", "libgssapi-krb5-2"},
        {"libkrb5.so.3", "libkrb5-3"},
        {"libk5crypto.so.3", "libk5crypto3"},
        {"libkrb5support.so.0", "libkrb5support0"},
        {"libkeyutils.so.1", "libkeyutils1"},
        {"libcom_err.so.2", "libcom-err2"},
        {"libldap-2.5.so.0", "libldap-2.5-0"},
        {"liblber-2.5.so.0", "libldap-2.5-0"},
        {"libsasl2.so.2", "libsasl2-2"},
        {"libc.so.6", "libc6"},
        {"libm.so.6", "libc6"},
        {"libresolv.so.2", "libc6"},
    };
    return table;
}

void addOnce(std::vector<std::string>& list, const std::string& value) {
    if (std::find(list.begin(), list.end(), value) == list.end())
        list.push_back(value);
}

}  // namespace

std::string LibraryCheck::Report::installLine() const {
    if (packages.empty())
        return {};
    std::string line = "sudo apt-get install";
    for (const auto& package : packages)
        line += " " + package;
    return line;
}

std::vector<std::string> LibraryCheck::bundledExecutables(const std::string& installerBundle) {
    const platform::Bundle installer(installerBundle);
    std::vector<std::string> executables;
    const std::string inside = installer.executableFolderPath();
    for (const auto& name : {std::string(kClientAppName), std::string(kUninstallerName)}) {
        const std::string bundle = FileUtil::joinPath(inside, name + "." + kAppFileType);
        const std::string folder = platform::Bundle(bundle).executableFolderPath();
        for (const auto& file : FileUtil::folderEntries(folder)) {
            std::error_code error;
            const auto path = FileUtil::joinPath(folder, file);
            if (std::filesystem::is_regular_file(path, error))
                executables.push_back(path);
        }
    }
    if (!installer.executablePath().empty())
        executables.push_back(installer.executablePath());
    return executables;
}

LibraryCheck::Report LibraryCheck::check(const std::vector<std::string>& executables) {
    std::vector<std::string> missing;
    for (const auto& executable : executables) {
        const ProcessResult result = Process::run("ldd", {executable});
        if (!result.started) {
            WLog("Could not run ldd to check the libraries of %@", executable);
            continue;
        }
        for (const auto& soname : notFound(result.standardOutput))
            addOnce(missing, soname);
    }
    return reportFor(std::move(missing));
}

std::vector<std::string> LibraryCheck::notFound(const std::string& lddOutput) {
    std::vector<std::string> missing;
    std::istringstream lines(lddOutput);
    for (std::string line; std::getline(lines, line);) {
        const auto arrow = line.find("=>");
        if (arrow == std::string::npos || line.find("not found", arrow) == std::string::npos)
            continue;
        std::string name = line.substr(0, arrow);
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        if (!name.empty())
            addOnce(missing, name);
    }
    return missing;
}

std::string LibraryCheck::packageFor(const std::string& soname) {
    const auto& table = packageTable();
    const auto found = table.find(soname);
    return found == table.end() ? std::string() : found->second;
}

LibraryCheck::Report LibraryCheck::reportFor(std::vector<std::string> missing) {
    Report report;
    std::sort(missing.begin(), missing.end());
    report.missing = std::move(missing);
    for (const auto& soname : report.missing) {
        const std::string package = packageFor(soname);
        if (package.empty())
            report.unknown.push_back(soname);
        else
            addOnce(report.packages, package);
    }
    std::sort(report.packages.begin(), report.packages.end());
    return report;
}

}  // namespace tavo::installer
