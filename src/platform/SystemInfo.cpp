#include "platform/SystemInfo.h"

#include <grp.h>
#include <pwd.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Layout.h"

namespace fs = std::filesystem;

namespace tavo::platform {

namespace {

// <root>/etc/group inside a sandbox that has one; empty for the system's.
std::string sandboxGroupFile() {
    const std::string root = sandboxRoot();
    if (root.empty())
        return {};
    const std::string path = root + "/etc/group";
    std::error_code ec;
    return fs::exists(path, ec) ? path : std::string();
}

std::vector<std::string> splitMembers(char** members) {
    std::vector<std::string> out;
    for (char** m = members; m && *m; ++m)
        out.emplace_back(*m);
    return out;
}

// The explicit members of a group of the database in use; none without the group.
std::optional<std::vector<std::string>> lookupGroup(const std::string& name) {
    const std::string file = sandboxGroupFile();
    if (file.empty()) {
        std::vector<char> buffer(16384);
        group entry{};
        group* result = nullptr;
        while (getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &result) == ERANGE)
            buffer.resize(buffer.size() * 2);
        if (!result)
            return std::nullopt;
        return splitMembers(result->gr_mem);
    }
    FILE* f = std::fopen(file.c_str(), "r");
    if (!f)
        return std::nullopt;
    // fgetgrent_r, not fgetgrent: several threads may ask at once.
    std::optional<std::vector<std::string>> found;
    std::vector<char> buffer(16384);
    group entry{};
    group* g = nullptr;
    for (;;) {
        const int rc = fgetgrent_r(f, &entry, buffer.data(), buffer.size(), &g);
        if (rc == ERANGE) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || !g)
            break;
        if (name == g->gr_name) {
            found = splitMembers(g->gr_mem);
            break;
        }
    }
    std::fclose(f);
    return found;
}

std::map<std::string, std::string> osRelease() {
    std::map<std::string, std::string> values;
    std::ifstream in("/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
            value = value.substr(1, value.size() - 2);
        values[line.substr(0, eq)] = value;
    }
    return values;
}

}  // namespace

std::string SystemInfo::loginName() {
    // Every path of the user area goes through here, often several times per
    // downloaded font: the user database is read once per effective user.
    static std::mutex mutex;
    static std::optional<std::pair<uid_t, std::string>> cached;
    const uid_t uid = geteuid();
    {
        std::lock_guard lock(mutex);
        if (cached && cached->first == uid)
            return cached->second;
    }
    std::string name;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result)
        name = result->pw_name;
    else if (const char* user = std::getenv("USER"))
        return user;  // not cached: the database may answer later
    else
        return std::to_string(uid);
    std::lock_guard lock(mutex);
    cached.emplace(uid, name);
    return name;
}

std::optional<std::string> SystemInfo::homeDirectory(const std::string& user) {
    const std::string name = user.empty() ? loginName() : user;
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return std::nullopt;
    const Layout& layout = Layout::current();
    if (layout.inSandbox())
        return layout.usersHomes + "/" + name;
    // The user's own home is asked for with every path of the user area: the
    // database answers once.
    static std::mutex mutex;
    static std::optional<std::pair<std::string, std::string>> own;  // name, home
    if (user.empty()) {
        std::lock_guard lock(mutex);
        if (own && own->first == name)
            return own->second;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result ||
        !result->pw_dir || !*result->pw_dir)
        return std::nullopt;
    std::string home = result->pw_dir;
    if (user.empty()) {
        std::lock_guard lock(mutex);
        own.emplace(name, home);
    }
    return home;
}

std::vector<std::string> SystemInfo::userHomeEntries() {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(Layout::current().usersHomes, ec), end; !ec && it != end;
         it.increment(ec))
        names.push_back(it->path().filename().string());
    return names;
}

std::optional<std::string> SystemInfo::adminGroupName() {
    for (const char* name : {"admin", "sudo", "wheel"})
        if (lookupGroup(name))
            return std::string(name);
    return std::nullopt;
}

std::vector<std::string> SystemInfo::groupMembers(const std::string& group) {
    return lookupGroup(group).value_or(std::vector<std::string>{});
}

std::optional<std::uint64_t> SystemInfo::freeBytes(const std::string& path) {
    struct statvfs st {};
    if (statvfs(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

std::string SystemInfo::hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

namespace {

// A value of /etc/os-release, or the fallback when it has none.
std::string releaseValue(const std::map<std::string, std::string>& release, const char* key,
                         const char* fallback) {
    const auto it = release.find(key);
    return it != release.end() && !it->second.empty() ? it->second : std::string(fallback);
}

std::string kernelRelease() {
    utsname u{};
    return uname(&u) == 0 ? u.release : "0";
}

}  // namespace

std::string SystemInfo::osVersionText() {
    const auto release = osRelease();
    return "ProductName:\t" + releaseValue(release, "NAME", "Linux") + "\nProductVersion:\t" +
           releaseValue(release, "VERSION_ID", "0") + "\nBuildVersion:\t" + kernelRelease() + "\n";
}

std::string SystemInfo::operatingSystemVersionString() {
    const auto release = osRelease();
    std::string product = releaseValue(release, "NAME", "Linux");
    const std::string version = releaseValue(release, "VERSION_ID", "");
    if (!version.empty())
        product += " " + version;
    return "Version " + product + " (Build " + kernelRelease() + ")";
}

OsVersion SystemInfo::osVersion() {
    utsname u{};
    OsVersion v;
    if (uname(&u) == 0)
        std::sscanf(u.release, "%d.%d.%d", &v.major, &v.minor, &v.patch);
    return v;
}

// inotify, rtnetlink and the fontconfig we rely on are all older than this.
OsVersion SystemInfo::minimumOsVersion() {
    return {4, 15, 0};
}

}  // namespace tavo::platform
