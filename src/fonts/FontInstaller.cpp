#include "fonts/FontInstaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Format.h"

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

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

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
    const bool written = writeAll(fd, bytes) && ::fchmod(fd, 0644) == 0;
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
    if (!FileUtil::createDirectories(FileUtil::parentPath(destination), error))
        return false;
    if (::chmod(file.c_str(), 0644) == 0 && ::rename(file.c_str(), destination.c_str()) == 0) {
        unsyncedFiles = true;
        return true;
    }
    return install(bytes, destination, error);
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
