#pragma once

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Format.h"
#include "foundation/SerialQueue.h"

namespace tavo {

inline constexpr const char* kLogModeNormal = "NORMAL";
inline constexpr const char* kLogModeDebug = "DEBUG";
inline constexpr const char* kLogLevelFatal = "FATAL";
inline constexpr const char* kLogLevelError = "ERROR";
inline constexpr const char* kLogLevelWarn = "WARN";
inline constexpr const char* kLogLevelInfo = "INFO";
inline constexpr const char* kLogLevelDebug = "DEBUG";
inline constexpr long long kLogMaximumSize = 10000000;

// The log of one program: one file in the user's log folder, appended to by a
// serial queue so callers never wait, rotated above kLogMaximumSize bytes.
class Log {
public:
    Log();   // an unnamed log, until setLogFilePath or init; programs use defaultLog()
    ~Log();  // writes the queued lines first
    static Log& defaultLog();

    // Fills what is still unset: the program name and log path from the main
    // bundle, the mode, the queue. Harmless to call again.
    void init();

    std::string appName() const;
    std::string logFilePath() const;
    std::string logMode() const;

    // Names the file explicitly (tools and tests); resets nothing else.
    void setLogFilePath(const std::string& path, const std::string& appName);

    bool applyLogMode(const std::string& mode);
    std::string inquireLogMode() const;  // empty when unset
    bool debugEnabled() const;

    // Queues one line; the caller does not wait. The message is content
    // only: the writer escapes what it holds (LogText) and ends the line.
    void write(const char* level, std::string message);
    // Writes one INFO line at once on the calling thread, without the queue.
    void writePrimitive(std::string message);
    // Waits until every queued line is in the file.
    void flush();

private:
    struct Line {
        std::string level;
        std::string message;
        std::string thread;
    };
    // Writes the queued lines in batches until none is left.
    void writeQueued();
    void writeLines(const std::vector<Line>& lines);
    // Rotates the file when it is larger than kLogMaximumSize. True when the
    // file is there afterwards, with its attributes in st.
    bool logObservation(const std::string& path, struct stat* st = nullptr);
    // Appends whole lines through the file kept open, reopened when the file at
    // path is another one (rotated, removed, renamed) or the path changed.
    // The file and its folder are the user's only (0600, 0700).
    bool append(const std::string& path, const struct stat* current, const std::string& lines);
    std::string formatLine(const std::string& level, const std::string& message,
                           const std::string& thread) const;

    mutable std::mutex mutex_;
    std::string appName_;
    std::string logFilePath_;
    std::string logMode_;
    std::atomic<bool> debug_{false};
    std::unique_ptr<SerialQueue> queue_;
    // Lines waiting for the queue: a burst is written in one go, with one
    // look at the file, and wakes the queue once.
    std::mutex queuedMutex_;
    std::vector<Line> queued_;
    bool writing_ = false;  // a writeQueued is on the queue or running
    // Used on the log queue only: the file the lines go to.
    struct OpenFile {
        std::string path;
        int fd = -1;
        dev_t device = 0;
        ino_t inode = 0;
    } open_;
};

namespace logging {
// The format without the line feed that ends it: every line is ended by the
// writer, and what the arguments hold is content, never a line of its own.
constexpr std::string_view withoutTerminator(std::string_view fmt) {
    return !fmt.empty() && fmt.back() == '\n' ? fmt.substr(0, fmt.size() - 1) : fmt;
}
void emit(const char* level, std::string message);
void emitPrimitive(std::string message);
bool debugEnabled();
// "main" on the main thread, "sub" elsewhere, and the calling thread's number.
const char* threadRole();
long threadNumber();
}  // namespace logging

template <typename... A>
void ILog(std::string_view fmt, const A&... args) {
    logging::emit(kLogLevelInfo, format(logging::withoutTerminator(fmt), args...));
}
template <typename... A>
void WLog(std::string_view fmt, const A&... args) {
    logging::emit(kLogLevelWarn, format(logging::withoutTerminator(fmt), args...));
}
template <typename... A>
void ELog(std::string_view fmt, const A&... args) {
    logging::emit(kLogLevelError, format(logging::withoutTerminator(fmt), args...));
}
template <typename... A>
void FLog(std::string_view fmt, const A&... args) {
    logging::emit(kLogLevelFatal, format(logging::withoutTerminator(fmt), args...));
}
// Written only while the log mode is DEBUG; the message is not even
// formatted otherwise.
template <typename... A>
void DLog(std::string_view fmt, const A&... args) {
    if (logging::debugEnabled())
        logging::emit(kLogLevelDebug, format(logging::withoutTerminator(fmt), args...));
}
template <typename... A>
void primitiveILog(std::string_view fmt, const A&... args) {
    logging::emitPrimitive(format(logging::withoutTerminator(fmt), args...));
}

}  // namespace tavo

// The debug line of an operation: "main|sub:<thread> <function> <message>".
#define TAVO_DLOG(...)                                                         \
    do {                                                                       \
        if (::tavo::logging::debugEnabled())                                   \
            ::tavo::DLog("%s:%ld %s %@", ::tavo::logging::threadRole(),        \
                         ::tavo::logging::threadNumber(), __PRETTY_FUNCTION__, \
                         ::tavo::format(__VA_ARGS__));                         \
    } while (0)
