#include "foundation/FileUtil.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

namespace tavo {

namespace {

void fail(Error* error, const std::string& what) {
    if (error)
        *error = Error::posix(errno, what);
}

}  // namespace

bool FileUtil::exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool FileUtil::isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> FileUtil::readFile(const std::string& path, std::size_t maxSize,
                                              Error* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(error, path);
        return std::nullopt;
    }
    auto failWith = [&](int err) {
        ::close(fd);
        if (error)
            *error = Error::posix(err, path);
        return std::nullopt;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return failWith(errno);
    if (S_ISDIR(st.st_mode))
        return failWith(EISDIR);
    if (!S_ISREG(st.st_mode))
        return failWith(EINVAL);
    if (static_cast<std::size_t>(st.st_size) > maxSize)
        return failWith(EFBIG);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failWith(errno);
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > maxSize)
            return failWith(EFBIG);
    }
    ::close(fd);
    return bytes;
}

bool FileUtil::writeFile(const std::string& path, std::string_view bytes, bool atomically,
                         mode_t mode, Error* error) {
    if (!atomically) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
        if (fd < 0) {
            fail(error, path);
            return false;
        }
        const bool ok = ::fchmod(fd, mode) == 0 && FileUtil::writeAll(fd, bytes);
        if (!ok)
            fail(error, path);
        ::close(fd);
        return ok;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        fail(error, path);
        return false;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);  // in use: the clean-up of leftovers leaves it alone
    bool ok = ::fchmod(fd, mode) == 0 && FileUtil::writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!ok)
        fail(error, path);
    if (::close(fd) != 0 && ok) {
        fail(error, path);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        fail(error, path);
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself must reach the disk too.
    const int dir = ::open(parentPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool FileUtil::writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool FileUtil::createDirectories(const std::string& path, Error* error) {
    if (isDirectory(path))
        return true;  // the common case, in one stat instead of one per component
    std::error_code ec;
    fs::create_directories(path, ec);
    if (isDirectory(path))
        return true;
    if (error)
        *error = Error{ec.value(), "NSCocoaErrorDomain", ec.message() + ": " + path};
    return false;
}

std::string FileUtil::joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string FileUtil::withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::vector<std::string> FileUtil::folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string FileUtil::parentPath(const std::string& path) {
    const std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

}  // namespace tavo
