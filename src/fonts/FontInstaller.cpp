#include "fonts/FontInstaller.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "foundation/Log.h"
#include "service/ApiClient.h"

namespace tavo {

namespace {

// Whether files were installed since the last flush of the font folder.
std::atomic<bool> unsyncedFiles{false};

Error posixError(int code, const std::string& what) {
    return Error{code, "NSPOSIXErrorDomain", what + ": " + std::strerror(code)};
}

std::string uuidText() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

// The suffix mkstemp() puts after a name: "." and six letters or digits.
bool endsInTemporarySuffix(const std::string& name, std::size_t stem) {
    if (name.size() != stem + 7 || name[stem] != '.')
        return false;
    for (std::size_t i = stem + 1; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

// Removes the regular files of folder that match, unless another program
// holds one locked.
std::size_t removeUnlocked(const std::string& folder,
                           const std::function<bool(const std::string&)>& matches) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !matches(name))
            continue;
        const int fd =
            ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::unlinkat(::dirfd(dir), name.c_str(), 0) == 0) {
            ILog("Removed a leftover file: %@/%@", folder, name);
            ++removed;
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

}  // namespace

std::size_t FontInstaller::removeLeftovers() {
    std::size_t removed = 0;
    if (const auto workspace = ApiClient::downloadFolder())
        removed += removeUnlocked(*workspace, [](const std::string&) { return true; });
    if (const auto fonts = Const::userFontDirectoryPath())
        removed += removeUnlocked(*fonts, [](const std::string& name) {
            // ".<file name>.XXXXXX", as install() names them
            return name.size() > 8 && name[0] == '.' &&
                   endsInTemporarySuffix(name, name.size() - 7);
        });
    for (const auto& path :
         {Config::fontListPath(), Config::userConfigPath(), Config::serverConfigPath()}) {
        if (!path)
            continue;
        const std::string stem = path->substr(path->find_last_of('/') + 1);
        removed += removeUnlocked(FileUtil::parentPath(*path), [&stem](const std::string& name) {
            return name.compare(0, stem.size(), stem) == 0 &&
                   endsInTemporarySuffix(name, stem.size());
        });
    }
    return removed;
}

std::optional<std::string> FontInstaller::workspaceFolder(Error* error) {
    const auto base = Const::applicationDownloadFontTempolaryDirectoryPath();
    if (!base) {
        if (error)
            *error = Error{-1, "TAVO", "no user area"};
        return std::nullopt;
    }
    const std::string folder = format("%@/Font/", *base);
    if (!FileUtil::createDirectories(folder, error))
        return std::nullopt;
    return folder;
}

std::optional<std::string> FontInstaller::takeTemporary(const std::string& body,
                                                        const std::string& workspace,
                                                        Error* error) {
    std::string folder = workspace;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::string temporary = format("%@/%@.%@", folder, uuidText(), "otf");
    if (::rename(body.c_str(), temporary.c_str()) == 0)
        return temporary;
    if (errno != EXDEV) {
        if (error)
            *error = posixError(errno, "rename " + body);
        return std::nullopt;
    }
    // Another file system: copy, atomically as any write of ours.
    const auto bytes = FileUtil::readFile(body);
    if (!bytes) {
        if (error)
            *error = Error{-1, "TAVO", "cannot read " + body};
        return std::nullopt;
    }
    if (!FileUtil::writeFile(temporary, *bytes, true, 0600, error))
        return std::nullopt;
    return temporary;
}

bool FontInstaller::install(const std::string& bytes, const std::string& destination,
                            Error* error) {
    const std::string folder = FileUtil::parentPath(destination);
    if (!FileUtil::createDirectories(folder, error))
        return false;
    const std::string name = destination.substr(destination.find_last_of('/') + 1);
    // Hidden: fontconfig and the folder watcher skip names that begin with ".".
    std::string temporary = format("%@/.%@.XXXXXX", folder, name);
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        if (error)
            *error = posixError(errno, "create " + temporary);
        return false;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);  // in use: the clean-up of leftovers leaves it alone
    const bool written = FileUtil::writeAll(fd, bytes) && ::fchmod(fd, 0644) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.c_str());
        if (error)
            *error = posixError(written ? errno : writeErrno, "write " + temporary);
        return false;
    }
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        const int renameErrno = errno;
        ::unlink(temporary.c_str());
        if (error)
            *error = posixError(renameErrno, "rename to " + destination);
        return false;
    }
    unsyncedFiles = true;
    return true;
}

bool FontInstaller::installFile(const std::string& file, const std::string& bytes,
                                const std::string& destination, Error* error) {
    if (::chmod(file.c_str(), 0644) == 0) {
        // The folder is made only when it is missing: not a look per font.
        bool moved = ::rename(file.c_str(), destination.c_str()) == 0;
        if (!moved && errno == ENOENT &&
            FileUtil::createDirectories(FileUtil::parentPath(destination), error))
            moved = ::rename(file.c_str(), destination.c_str()) == 0;
        if (moved) {
            unsyncedFiles = true;
            return true;
        }
    }
    return install(bytes, destination, error);  // another file system: a copy
}

void FontInstaller::syncFontFolder() {
    if (!unsyncedFiles.exchange(false))
        return;
    const auto folder = Const::userFontDirectoryPath();
    if (!folder)
        return;
    const int fd = ::open(folder->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::syncfs(fd);
    ::close(fd);
}

}  // namespace tavo
