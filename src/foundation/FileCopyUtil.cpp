#include "foundation/FileCopyUtil.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "foundation/ConcurrentQueue.h"
#include "foundation/MainQueue.h"
#include "foundation/Timer.h"

namespace fs = std::filesystem;

namespace tavo {

namespace {

constexpr double kCopyStartDelay = 0.1;  // seconds between scheduling and copying

// A path as one name in its resolved parent: the last component itself is
// not resolved, since the target is replaced, never followed.
fs::path resolvedParent(const fs::path& path) {
    fs::path p = path.lexically_normal();
    if (!p.has_filename() && p.has_parent_path())
        p = p.parent_path();
    std::error_code ec;
    const fs::path parent = fs::weakly_canonical(fs::absolute(p, ec).parent_path(), ec);
    return parent / p.filename();
}

bool contains(const fs::path& outer, const fs::path& inner) {
    auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return o == outer.end();
}

bool existsNoFollow(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Replacing a target that holds the source, or copying a folder into
// itself, would destroy the source: such a pair is refused.
std::optional<Error> checkPaths(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty())
        return Error::posix(EINVAL, "copy needs a source and a target path");
    std::error_code ec;
    const fs::path src = fs::weakly_canonical(fs::absolute(source, ec), ec);
    const fs::path srcLink = resolvedParent(source);
    const fs::path dst = resolvedParent(target);
    if (contains(dst, src) || contains(dst, srcLink) || contains(src, dst))
        return Error::posix(EINVAL, "cannot copy " + source + " onto " + target);
    return std::nullopt;
}

bool removeTarget(const std::string& target, std::optional<Error>& error) {
    if (!existsNoFollow(target))
        return true;
    std::error_code ec;
    fs::remove_all(target, ec);
    if (!existsNoFollow(target))
        return true;
    error = Error::posix(ec ? ec.value() : EEXIST, "cannot remove " + target);
    return false;
}

// Deletes an existing target, creates the target's folder chain and copies.
std::optional<Error> replaceWithCopy(const std::string& source, const std::string& target) {
    if (auto refused = checkPaths(source, target))
        return refused;
    std::optional<Error> error;
    if (!removeTarget(target, error))
        return error;
    std::error_code ec;
    const fs::path parent = fs::path(target).lexically_normal().parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent, ec);
        if (ec)
            return Error::posix(ec.value(), "cannot create " + parent.string());
    }
    fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec)
        return Error::posix(ec.value(), "cannot copy " + source + " to " + target);
    return std::nullopt;
}

std::uint64_t fileSize(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec)))
        return 0;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

}  // namespace

void FileCopyUtil::copyFileAtPath(const std::string& source, const std::string& target) {
    sourcePath = source;
    targetPath = target;
    std::error_code ec;
    isDirectory = fs::is_directory(source, ec);
    std::optional<Error> ignored;
    if (!checkPaths(source, target))
        removeTarget(target, ignored);  // a failure here is reported by the copy itself

    auto self = weak_from_this().lock();
    if (!self) {
        reportNotShared();
        return;
    }
    if (timer)
        timer->invalidate();
    timer = Timer::scheduledTimer(Clock::Duration::zero(), true, [weak = weak_from_this()] {
        if (auto util = weak.lock())
            util->checkFileSize();
    });
    MainQueue::main().after(seconds(kCopyStartDelay), [self] { self->startCopy(); });
}

void FileCopyUtil::checkFileSize() {
    std::uint64_t sourceSize = 0;
    std::uint64_t targetSize = 0;
    if (isDirectory) {
        sourceSize = getDirectoryFileSizeAtPath(sourcePath);
        targetSize = getDirectoryFileSizeAtPath(targetPath);
    } else {
        sourceSize = fileSize(sourcePath);
        targetSize = fileSize(targetPath);
    }
    // An empty source has nothing to wait for once the target is there.
    float progress = 0;
    if (sourceSize == 0)
        progress = existsNoFollow(targetPath) ? 1.0f : 0.0f;
    else
        progress = std::min(1.0f, static_cast<float>(static_cast<double>(targetSize) /
                                                     static_cast<double>(sourceSize)));
    if (delegate)
        delegate->setCopyProgress(progress);
}

void FileCopyUtil::startCopy() {
    auto self = weak_from_this().lock();
    if (!self) {
        reportNotShared();
        return;
    }
    globalQueue().async(
        [self, source = sourcePath, target = targetPath, copyTimer = timer]() mutable {
            std::optional<Error> error = replaceWithCopy(source, target);
            // The worker keeps no reference once the end is on its way.
            MainQueue::main().async([self = std::move(self), copyTimer = std::move(copyTimer),
                                     error] { self->finishCopy(copyTimer, error); });
        });
}

void FileCopyUtil::finishCopy(const std::shared_ptr<Timer>& copyTimer,
                              const std::optional<Error>& error) {
    if (copyTimer)
        copyTimer->invalidate();
    if (timer == copyTimer)
        timer.reset();
    if (!delegate)
        return;
    // The ticks may have missed the last bytes: a complete copy ends at 1.
    if (!error)
        delegate->setCopyProgress(1.0f);
    delegate->didFinishedCopyWithError(error);
}

void FileCopyUtil::reportNotShared() {
    const Error error = Error::posix(EINVAL, "a background copy needs a shared FileCopyUtil");
    if (auto target = delegate)
        MainQueue::main().async([target, error] { target->didFinishedCopyWithError(error); });
}

std::uint64_t FileCopyUtil::getDirectoryFileSizeAtPath(const std::string& path) {
    std::uint64_t total = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code entryError;
        if (!it->is_symlink(entryError) && it->is_regular_file(entryError)) {
            const auto size = it->file_size(entryError);
            if (!entryError)
                total += size;
        }
    }
    return total;
}

bool FileCopyUtil::syncCopyAtPath(const std::string& source, const std::string& target,
                                  Error* error) {
    const std::optional<Error> failure = replaceWithCopy(source, target);
    if (failure && error)
        *error = *failure;
    return !failure;
}

}  // namespace tavo
