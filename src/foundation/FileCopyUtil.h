#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Error.h"

namespace tavo {

class Timer;

// Receives the reports of a background copy, on the main queue. Both
// operations are optional: the defaults do nothing.
class FileCopyUtilDelegate {
public:
    virtual ~FileCopyUtilDelegate() = default;
    // The copied share, 0..1.
    virtual void setCopyProgress(float progress) { (void)progress; }
    // The error of the failing step, or none when the copy is complete.
    virtual void didFinishedCopyWithError(const std::optional<Error>& error) { (void)error; }
};

// Copies a file or folder, either at once (syncCopyAtPath) or in the
// background with progress reports to the delegate. A background copy runs
// on the global queue; its progress ticks and its end reach the delegate on
// the main queue. The instance is used from the main thread and must be
// owned by a shared_ptr: a running copy keeps it alive. Symbolic links are
// copied as links.
class FileCopyUtil : public std::enable_shared_from_this<FileCopyUtil> {
public:
    std::string sourcePath;
    std::string targetPath;
    bool isDirectory = false;
    std::shared_ptr<Timer> timer;  // the progress timer while a copy runs
    std::shared_ptr<FileCopyUtilDelegate> delegate;

    // Starts a background copy: an existing target is replaced, a missing
    // target folder chain is created.
    void copyFileAtPath(const std::string& source, const std::string& target);
    // One progress tick: reports target size / source size.
    void checkFileSize();
    // Starts the copy of sourcePath to targetPath on the global queue.
    void startCopy();

    // The sum of the sizes of the regular files below path (symbolic links
    // are not followed).
    static std::uint64_t getDirectoryFileSizeAtPath(const std::string& path);
    // Replaces target with a copy of source, creating target's folder chain.
    // Returns false with *error set on failure.
    static bool syncCopyAtPath(const std::string& source, const std::string& target, Error* error);

private:
    void finishCopy(const std::shared_ptr<Timer>& copyTimer, const std::optional<Error>& error);
    void reportNotShared();
};

}  // namespace tavo
