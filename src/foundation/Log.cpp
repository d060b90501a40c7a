#include "foundation/Log.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "foundation/Const.h"
#include "foundation/DateUtil.h"
#include "foundation/FileUtil.h"
#include "foundation/LogText.h"
#include "foundation/MainQueue.h"
#include "platform/Bundle.h"
#include "platform/SystemInfo.h"

namespace tavo {

namespace {

// Every line names its process and thread: both are asked of the system
// once, and again in a child that a fork made (it has numbers of its own).
thread_local long tThreadNumber = 0;
std::atomic<long> processNumber{0};

void forgetNumbers() {
    tThreadNumber = 0;  // the forking thread is the child's only thread
    processNumber = 0;
}

long ownProcessNumber() {
    static const bool registered = pthread_atfork(nullptr, nullptr, forgetNumbers) == 0;
    (void)registered;
    if (processNumber == 0)
        processNumber = static_cast<long>(::getpid());
    return processNumber;
}

std::string threadHex() {
    return format("%08x", static_cast<unsigned>(logging::threadNumber()));
}

// The log holds the user's e-mail address: only the user may read it.
constexpr mode_t kLogFileMode = 0600;
constexpr mode_t kLogFolderMode = 0700;

// Takes group and other access from a file or folder that this user owns.
// A shared folder (sticky, like /tmp) is never changed.
void tighten(const std::string& path, const struct stat& st, mode_t mode) {
    if (st.st_uid != ::geteuid() || (st.st_mode & S_ISVTX) || (st.st_mode & 07777) == mode)
        return;
    ::chmod(path.c_str(), mode);
}

void tightenIfPresent(const std::string& path, mode_t mode) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        tighten(path, st, mode);
}

// Creates the log's folder (its parents as the system makes them) for the
// user only, and tightens one that an earlier version left open.
void prepareFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        FileUtil::createDirectories(FileUtil::parentPath(folder));
        ::mkdir(folder.c_str(), kLogFolderMode);
        if (::stat(folder.c_str(), &st) != 0)
            return;
    }
    tighten(folder, st, kLogFolderMode);
}

// Opens the log for appending, created for the user only; an existing file
// is tightened, and so is its older generation.
int openLog(const std::string& path) {
    prepareFolder(FileUtil::parentPath(path));
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != kLogFileMode)
        ::fchmod(fd, kLogFileMode);
    tightenIfPresent(format("%@_1", path), kLogFileMode);
    return fd;
}

// The system console of this platform.
template <typename... A>
void console(std::string_view fmt, const A&... args) {
    const std::string line = format(fmt, args...) + "\n";
    std::fputs(line.c_str(), stderr);
}

bool appendToFile(const std::string& path, const std::string& bytes) {
    const int fd = openLog(path);
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

Log::~Log() {
    flush();
}

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
    Line line{level, std::move(message), threadHex()};
    bool wake = false;
    {
        std::lock_guard lock(queuedMutex_);
        queued_.push_back(std::move(line));
        wake = !std::exchange(writing_, true);
    }
    if (wake)
        queue_->async([this] { writeQueued(); });
}

void Log::writePrimitive(std::string message) {
    const std::string path = logFilePath();
    if (path.empty())
        return;
    appendToFile(path, formatLine(kLogLevelInfo, message, threadHex()));
}

void Log::flush() {
    queue_->sync([] {});
}

void Log::writeQueued() {
    // Lines that come while a batch is written, or shortly after, join the
    // next batch: a busy program wakes this queue once per burst, not once
    // per line.
    constexpr auto kLinger = std::chrono::milliseconds(5);
    for (bool first = true;; first = false) {
        if (!first)
            std::this_thread::sleep_for(kLinger);
        std::vector<Line> lines;
        {
            std::lock_guard lock(queuedMutex_);
            lines.swap(queued_);
            if (lines.empty()) {
                writing_ = false;
                return;
            }
        }
        writeLines(lines);
    }
}

void Log::writeLines(const std::vector<Line>& lines) {
    const std::string path = logFilePath();
    if (path.empty())
        return;  // a program without a log of its own loses its lines
    std::string text;
    for (const Line& line : lines)
        text += formatLine(line.level, line.message, line.thread);
    struct stat st {};
    const bool present = logObservation(path, &st);
    if (!append(path, present ? &st : nullptr, text))
        console("code %ld: message: %@: %@: Description: [%@]", static_cast<long>(errno),
                "failed to write the log file", path, std::strerror(errno));
}

bool Log::append(const std::string& path, const struct stat* current, const std::string& lines) {
    // The file stays open between lines (a line costs a stat and a write, not
    // an open and a close as well) as long as the path still names it.
    const bool same = open_.fd >= 0 && open_.path == path && current &&
                      current->st_dev == open_.device && current->st_ino == open_.inode;
    if (!same) {
        if (open_.fd >= 0)
            ::close(open_.fd);
        open_ = OpenFile{};
        const int fd = openLog(path);
        if (fd < 0)
            return false;
        struct stat st {};
        if (::fstat(fd, &st) == 0)
            open_ = OpenFile{path, fd, st.st_dev, st.st_ino};
        else
            open_ = OpenFile{path, fd, 0, 0};
    }
    // One write call: the kernel appends the lines whole.
    const ssize_t n = ::write(open_.fd, lines.data(), lines.size());
    return n == static_cast<ssize_t>(lines.size());
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
    tightenIfPresent(first, kLogFileMode);
    ::unlink(last.c_str());
    return false;
}

std::string Log::formatLine(const std::string& level, const std::string& message,
                            const std::string& thread) const {
    static const std::string login = LogText::escaped(platform::SystemInfo::loginName());
    // The one place where a message becomes a line: whatever it holds, the
    // line it makes is one line, ended here.
    return format("%@ %@[%d:%@] [%@] %@ %@\n", DateUtil::getCurrentDate(kLogDateFormat), appName(),
                  static_cast<int>(ownProcessNumber()), thread, level, login,
                  LogText::escaped(message));
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
    ownProcessNumber();  // the fork handler is in place before a number is kept
    if (tThreadNumber == 0)
        tThreadNumber = static_cast<long>(::syscall(SYS_gettid));
    return tThreadNumber;
}

}  // namespace logging

}  // namespace tavo
