#include "foundation/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/Const.h"
#include "foundation/DateUtil.h"
#include "foundation/FileUtil.h"
#include "foundation/MainQueue.h"
#include "platform/Bundle.h"
#include "platform/SystemInfo.h"

namespace tavo {

namespace {

std::string threadHex() {
    return format("%08x", static_cast<unsigned>(logging::threadNumber()));
}

std::string withLineFeed(std::string message) {
    if (message.empty() || message.back() != '\n')
        message += '\n';
    return message;
}

// The system console of this platform.
template <typename... A>
void console(std::string_view fmt, const A&... args) {
    const std::string line = format(fmt, args...) + "\n";
    std::fputs(line.c_str(), stderr);
}

bool appendToFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // One write call per line: the kernel appends it whole.
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

}  // namespace

Log::Log()
    : logMode_(kLogModeNormal),
      queue_(std::make_unique<SerialQueue>("TAVO.logSerialDispatchQueue")) {}

Log& Log::defaultLog() {
    // Never destroyed: threads may log while the process exits. Queued lines
    // are flushed at exit.
    static Log* log = [] {
        auto* l = new Log;
        l->init();
        std::atexit([] { defaultLog().flush(); });
        return l;
    }();
    return *log;
}

void Log::init() {
    std::lock_guard lock(mutex_);
    if (logFilePath_.empty()) {
        appName_ = platform::Bundle::mainBundle()->name();
        std::optional<std::string> path;
        if (appName_ == kClientAppName)
            path = Const::applicationLogPath();
        else if (appName_ == kInstallerName)
            path = Const::applicationInstallerLogPath();
        else if (appName_ == kUninstallerName)
            path = Const::applicationUninstallerLogPath();
        logFilePath_ = path.value_or("");
    }
    if (logMode_.empty())
        logMode_ = kLogModeNormal;
}

std::string Log::appName() const {
    std::lock_guard lock(mutex_);
    return appName_;
}

std::string Log::logFilePath() const {
    std::lock_guard lock(mutex_);
    return logFilePath_;
}

std::string Log::logMode() const {
    std::lock_guard lock(mutex_);
    return logMode_;
}

void Log::setLogFilePath(const std::string& path, const std::string& appName) {
    std::lock_guard lock(mutex_);
    logFilePath_ = path;
    appName_ = appName;
}

bool Log::applyLogMode(const std::string& mode) {
    if (mode != kLogModeNormal && mode != kLogModeDebug)
        return false;
    std::lock_guard lock(mutex_);
    logMode_ = mode;
    debug_ = mode == kLogModeDebug;
    return true;
}

std::string Log::inquireLogMode() const {
    std::lock_guard lock(mutex_);
    return logMode_ == kLogModeNormal || logMode_ == kLogModeDebug ? logMode_ : std::string();
}

bool Log::debugEnabled() const {
    return debug_;
}

void Log::write(const char* level, std::string message) {
    std::string thread = threadHex();
    queue_->async([this, level = std::string(level), message = withLineFeed(std::move(message)),
                   thread = std::move(thread)] { _Log(level, message, thread); });
}

void Log::writePrimitive(std::string message) {
    const std::string path = logFilePath();
    if (path.empty())
        return;
    FileUtil::createDirectories(FileUtil::parentPath(path));
    appendToFile(path, formatLine(kLogLevelInfo, withLineFeed(std::move(message)), threadHex()));
}

void Log::flush() {
    queue_->sync([] {});
}

void Log::_Log(const std::string& level, const std::string& message, const std::string& thread) {
    const std::string path = logFilePath();
    if (path.empty())
        return;  // a program without a log of its own loses its lines
    struct stat st {};
    const bool present = logObservation(path, &st);
    if (!append(path, present ? &st : nullptr, formatLine(level, message, thread)))
        console("code %ld: message: %@: %@: Description: [%@]", static_cast<long>(errno),
                "failed to write the log file", path, std::strerror(errno));
}

bool Log::append(const std::string& path, const struct stat* current, const std::string& line) {
    // The file stays open between lines (a line costs a stat and a write, not
    // an open and a close as well) as long as the path still names it.
    const bool same = open_.fd >= 0 && open_.path == path && current &&
                      current->st_dev == open_.device && current->st_ino == open_.inode;
    if (!same) {
        if (open_.fd >= 0)
            ::close(open_.fd);
        open_ = OpenFile{};
        FileUtil::createDirectories(FileUtil::parentPath(path));
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        struct stat st {};
        if (::fstat(fd, &st) == 0)
            open_ = OpenFile{path, fd, st.st_dev, st.st_ino};
        else
            open_ = OpenFile{path, fd, 0, 0};
    }
    // One write call per line: the kernel appends it whole.
    const ssize_t n = ::write(open_.fd, line.data(), line.size());
    return n == static_cast<ssize_t>(line.size());
}

bool Log::logObservation(const std::string& path, struct stat* out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            console("code %ld: message: %@: %@", 0L, "the log file does not exists.", path);
        else
            console("code %ld: message: %@: %@: Description: [%@]", static_cast<long>(errno),
                    "failed to get attribute file", path, std::strerror(errno));
        return false;
    }
    if (st.st_size <= kLogMaximumSize) {
        if (out)
            *out = st;
        return true;
    }
    const std::string first = format("%@_1", path);
    const std::string last = format("%@_last", path);
    // Keep one older generation: the current first generation is set aside
    // as the last, the file becomes the first, and the last goes.
    bool ok = ::unlink(last.c_str()) == 0 || errno == ENOENT;
    if (ok && FileUtil::exists(first))
        ok = ::rename(first.c_str(), last.c_str()) == 0;
    if (ok)
        ok = ::rename(path.c_str(), first.c_str()) == 0;
    if (!ok) {
        console("code %ld: message: %@: %@: Description: [%@]", static_cast<long>(errno),
                format("failed to rotate the log file: %@", path), path, std::strerror(errno));
        return ::stat(path.c_str(), out ? out : &st) == 0;
    }
    ::unlink(last.c_str());
    return false;
}

std::string Log::formatLine(const std::string& level, const std::string& message,
                            const std::string& thread) const {
    static const std::string login = platform::SystemInfo::loginName();
    return format("%@ %@[%d:%@] [%@] %@ %@", DateUtil::getCurrentDate(kLogDateFormat), appName(),
                  static_cast<int>(::getpid()), thread, level, login, message);
}

namespace logging {

void emit(const char* level, std::string message) {
    Log::defaultLog().write(level, std::move(message));
}

void emitPrimitive(std::string message) {
    Log::defaultLog().writePrimitive(std::move(message));
}

bool debugEnabled() {
    return Log::defaultLog().debugEnabled();
}

const char* threadRole() {
    return MainQueue::isMainThread() ? "main" : "sub";
}

long threadNumber() {
    return static_cast<long>(::syscall(SYS_gettid));
}

}  // namespace logging

}  // namespace tavo
