#include "fontid/FontFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavo::fontid {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
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

}  // namespace

std::optional<std::string> FontFile::read(const std::string& path, std::size_t limit) {
    // O_NONBLOCK: opening a named pipe must not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) > limit)
        return std::nullopt;

    // The file may change while it is read: read to its end, but never past
    // the limit, whatever its size was a moment ago.
    std::string data;
    data.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        if (data.size() + static_cast<std::size_t>(n) > limit)
            return std::nullopt;
        data.append(chunk, static_cast<std::size_t>(n));
    }
    return data;
}

bool FontFile::writeAtomically(const std::string& path, std::string_view bytes) {
    std::string temporary = path + ".XXXXXX";
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.get() < 0)
        return false;
    const bool written = ::fchmod(fd.get(), 0644) == 0 && writeAll(fd.get(), bytes) &&
                         ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace tavo::fontid
