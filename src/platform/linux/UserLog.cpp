#include "platform/linux/UserLog.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"

namespace fs = std::filesystem;

namespace tavo::platform {

bool UserLog::open(const std::string& user, const std::string& program) {
    const auto home = SystemInfo::homeDirectory(user);
    if (!home)
        return false;
    const fs::path folder = fs::path(*home) / Layout::current().userLogs;
    const fs::path file = folder / (program + ".log");
    // The folders that are not there yet, outermost first.
    std::vector<fs::path> created;
    std::error_code error;
    for (fs::path p = folder;
         p != fs::path(*home) && p.has_relative_path() && !fs::exists(p, error);
         p = p.parent_path())
        created.insert(created.begin(), p);
    fs::create_directories(folder, error);
    if (!fs::exists(file, error)) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            created.push_back(file);
        }
    }
    Log::defaultLog().setLogFilePath(file.string(), program);
    Log::defaultLog().init();
    if (::geteuid() != 0)
        return true;
    const passwd* entry = ::getpwnam(user.c_str());
    if (!entry)
        return false;
    bool theirs = true;
    // What was there before stays as it was; what this run made is theirs.
    for (const auto& path : created)
        theirs = ::lchown(path.c_str(), entry->pw_uid, entry->pw_gid) == 0 && theirs;
    if (!theirs)
        WLog("The log stays root's: %@", file.string());
    return theirs;
}

}  // namespace tavo::platform
