#include "platform/linux/FontconfigFontManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/FontFolderWatcher.h"
#include "platform/linux/FontconfigQuery.h"
#include "platform/linux/RejectListFile.h"
#include "platform/linux/SandboxFontconfig.h"

namespace fs = std::filesystem;

namespace tavo::platform {

namespace {

// The coarsest modification-time step of the file systems we meet. fontconfig
// judges a cache valid while the folder's time equals the one it recorded, so
// a refresh returns only once later changes get a later time.
constexpr std::chrono::milliseconds kTimestampStep{20};

// A link in the making: "." + name + this, in the link's shard folder.
constexpr const char* kPendingSuffix = ".tavo-link";

struct timespec modificationTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {-1, 0};
    return st.st_mtim;
}

std::string normalizedPath(const std::string& path) {
    std::string normal = fs::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// Waits until a change made from now on gets a later time than `time`.
void waitPastTimestamp(const struct timespec& time) {
    if (time.tv_sec < 0)
        return;
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
    const auto due = modified + kTimestampStep;
    const auto now = std::chrono::system_clock::now();
    if (now < due && due - now <= kTimestampStep)
        std::this_thread::sleep_for(due - now);
}

std::uint32_t nameHash(std::string_view name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const unsigned char c : name) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

// A name fontconfig reads and a link can carry: not empty, not beginning
// with '.' (fontconfig skips those; pending links use them), no '/' and no
// control characters.
bool isManageableName(std::string_view name) {
    if (name.empty() || name.front() == '.')
        return false;
    for (const unsigned char c : name)
        if (c == '/' || c < 0x20 || c == 0x7f)
            return false;
    return true;
}

int systemLink(const std::string& from, const std::string& to) {
    return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// A copy made in place of a link: same bytes, same modification time, so it
// is recognised as the stored file's until that file changes.
int copyWithTime(const std::string& from, const std::string& to, const struct stat& source) {
    std::error_code error;
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, error))
        return error.value() ? error.value() : EIO;
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::utimensat(AT_FDCWD, to.c_str(), times, 0) != 0) {
        const int code = errno;
        ::unlink(to.c_str());
        return code;
    }
    return 0;
}

}  // namespace

// The seams, the shard folders that changed since their last cache refresh and
// the logged-once flags, under one mutex; shared weakly with the watcher.
struct FontconfigFontManager::State {
    std::mutex mutex;
    std::string storage;
    std::string links;
    int shardCount = kShardCount;
    LinkFunction link;
    std::set<std::string> changed;  // folders whose cache is out of date
    bool loggedCopy = false;
    bool loggedLoadFailure = false;

    std::string shardPath(unsigned shard) const {
        char name[16];
        std::snprintf(name, sizeof name, "%02x", shard);
        return links + "/" + name;
    }

    std::string shardFolder(const std::string& name) const {
        return shardPath(nameHash(name) % static_cast<unsigned>(shardCount));
    }

    void logLoadFailure() {
        if (std::exchange(loggedLoadFailure, true))
            return;
        const char* file = std::getenv("FONTCONFIG_FILE");
        ILog("Fontconfig: cannot load its configuration (%@); font caches are not refreshed",
             file ? file : "the system's");
    }

    // Makes the link of the stored file under a pending name, then renames it
    // over the previous one. An errno value on failure.
    int place(const std::string& stored, const std::string& name, const struct stat& source) {
        const std::string folder = shardFolder(name);
        Error error;
        if (!FileUtil::isDirectory(folder)) {
            if (!FileUtil::createDirectories(folder, &error))
                return EACCES;
            changed.insert(links);
        }
        const std::string target = folder + "/" + name;
        const std::string pending = folder + "/." + name + kPendingSuffix;
        ::unlink(pending.c_str());
        int code = link(stored, pending);
        if (code != 0) {
            if (!std::exchange(loggedCopy, true))
                WLog(
                    "Fontconfig: cannot hard-link %@ into %@ (%@); active fonts are copied instead",
                    name, links, std::strerror(code));
            code = copyWithTime(stored, pending, source);
            if (code != 0)
                return code;
        }
        if (::rename(pending.c_str(), target.c_str()) != 0) {
            code = errno;
            ::unlink(pending.c_str());
            return code;
        }
        changed.insert(folder);
        return 0;
    }

    int remove(const std::string& name) {
        const std::string folder = shardFolder(name);
        const std::string target = folder + "/" + name;
        if (::unlink(target.c_str()) != 0)
            return errno == ENOENT ? 0 : errno;
        changed.insert(folder);
        return 0;
    }

    // Whether the entry at link registers the stored file.
    static bool registers(const struct stat& stored, const std::string& link) {
        struct stat st {};
        if (::lstat(link.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        if (st.st_dev == stored.st_dev && st.st_ino == stored.st_ino)
            return true;
        return st.st_nlink == 1 && st.st_size == stored.st_size &&
               st.st_mtim.tv_sec == stored.st_mtim.tv_sec &&
               st.st_mtim.tv_nsec == stored.st_mtim.tv_nsec;
    }

    // Removes pending links a crash left behind and the links whose stored
    // file is gone (a hard link would keep a removed font alive). Only the
    // shard folders are looked at: any other folder there is the user's.
    void sweep() {
        // After every batch: one look per link, relative to open folders, so
        // that ten thousand links cost milliseconds.
        const int storageFd = ::open(storage.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int shard = 0; shard < shardCount; ++shard) {
            const std::string folder = shardPath(static_cast<unsigned>(shard));
            // A shard that is a symbolic link is not ours to walk.
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                continue;
            DIR* dir = ::fdopendir(fd);
            if (!dir) {
                ::close(fd);
                continue;
            }
            std::vector<std::string> stale;
            while (const dirent* entry = ::readdir(dir)) {
                const std::string_view name = entry->d_name;
                bool regular = entry->d_type == DT_REG;
                if (entry->d_type == DT_UNKNOWN) {
                    struct stat st {};
                    regular = ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISREG(st.st_mode);
                }
                if (!regular)
                    continue;
                const bool pending = name.starts_with(".") && name.ends_with(kPendingSuffix);
                const bool orphan =
                    !name.starts_with(".") &&
                    (storageFd < 0 || ::faccessat(storageFd, entry->d_name, F_OK, 0) != 0);
                if (pending || orphan)
                    stale.emplace_back(name);
            }
            for (const std::string& name : stale)
                if (::unlinkat(fd, name.c_str(), 0) == 0)
                    changed.insert(folder);
            ::closedir(dir);  // closes fd
        }
        if (storageFd >= 0)
            ::close(storageFd);
    }

    void refreshChanged() {
        const std::set<std::string> folders = std::exchange(changed, {});
        struct timespec latest {
            - 1, 0
        };
        for (const std::string& folder : folders) {
            if (!FileUtil::isDirectory(folder))
                continue;
            if (!FontconfigQuery::refreshDirectoryCache(folder))
                logLoadFailure();
            const struct timespec time = modificationTime(folder);
            if (time.tv_sec > latest.tv_sec ||
                (time.tv_sec == latest.tv_sec && time.tv_nsec > latest.tv_nsec))
                latest = time;
        }
        // The caches hold the folders' times as fontconfig read them.
        waitPastTimestamp(latest);
    }
};

FontconfigFontManager::FontconfigFontManager(Options options)
    : storage_(normalizedPath(options.storageFolder)),
      links_(normalizedPath(options.linkFolder)),
      state_(std::make_shared<State>()) {
    state_->storage = storage_;
    state_->links = links_;
    state_->shardCount = options.shardCount > 0 ? options.shardCount : kShardCount;
    state_->link = options.link ? std::move(options.link) : LinkFunction(systemLink);
    Error error;
    if (!FileUtil::createDirectories(storage_, &error))
        ELog("Fontconfig: cannot create the font storage %@: %@", storage_, error);
    std::lock_guard lock(state_->mutex);
    state_->sweep();
    state_->refreshChanged();
}

FontconfigFontManager::~FontconfigFontManager() {
    setFontsAddedHandler({});
}

std::shared_ptr<FontconfigFontManager> FontconfigFontManager::create(
    ServiceFontTest isServiceFont) {
    const std::optional<std::string> home = SystemInfo::homeDirectory();
    if (!home)
        return nullptr;
    const Layout layout = Layout::current();
    if (layout.inSandbox() && SandboxFontconfig::mayInstall())
        SandboxFontconfig::install(layout.sandboxRoot);
    auto manager = std::make_shared<FontconfigFontManager>(Options{
        *home + "/" + layout.userFonts, *home + "/" + layout.userFontLinks, kShardCount, {}});
    manager->migrateFirstLayout(*home + "/" + layout.userFontConfig + "/" + kListFileName,
                                isServiceFont);
    return manager;
}

std::string FontconfigFontManager::shardFolder(const std::string& fileName) const {
    return state_->shardFolder(fileName);
}

std::string FontconfigFontManager::linkPath(const std::string& fileName) const {
    return shardFolder(fileName) + "/" + fileName;
}

FontManagerScope FontconfigFontManager::scopeForFile(const std::string& path) {
    const fs::path normal = fs::path(normalizedPath(path));
    if (normal.parent_path().string() != storage_)
        return FontManagerScope::None;
    struct stat stored {};
    if (::stat(normal.c_str(), &stored) != 0 || !S_ISREG(stored.st_mode))
        return FontManagerScope::None;
    return State::registers(stored, linkPath(normal.filename().string()))
               ? FontManagerScope::Persistent
               : FontManagerScope::None;
}

bool FontconfigFontManager::registerFonts(const std::vector<std::string>& paths, FontManagerScope,
                                          std::vector<FontManagerError>* errors) {
    return apply(paths, true, errors);
}

bool FontconfigFontManager::unregisterFonts(const std::vector<std::string>& paths, FontManagerScope,
                                            std::vector<FontManagerError>* errors) {
    return apply(paths, false, errors);
}

bool FontconfigFontManager::apply(const std::vector<std::string>& paths, bool registering,
                                  std::vector<FontManagerError>* errors) {
    bool ok = true;
    const auto refuse = [&](const std::string& path, long code, std::string description) {
        ok = false;
        if (errors)
            errors->push_back({path, code, std::move(description)});
    };
    std::lock_guard lock(state_->mutex);
    for (const std::string& path : paths) {
        const fs::path normal = fs::path(normalizedPath(path));
        const std::string name = normal.filename().string();
        if (!normal.is_absolute() || normal.parent_path().string() != storage_) {
            refuse(path, kFontManagerErrorNotInFontFolder, "not in the user font folder");
            continue;
        }
        if (!name.empty() && !isManageableName(name)) {
            refuse(path, kFontManagerErrorNameNotManaged,
                   "the file name begins with '.' or holds control characters");
            continue;
        }
        struct stat st {};
        if (::stat(normal.c_str(), &st) != 0) {
            if (!registering && errno == ENOENT && !name.empty()) {
                state_->remove(name);  // the font is gone: so is its link
                continue;
            }
            refuse(path, kFontManagerErrorFileNotFound,
                   errno == ENOENT ? "no such file" : std::strerror(errno));
            continue;
        }
        if (name.empty() || !S_ISREG(st.st_mode)) {
            refuse(path, kFontManagerErrorNotAFile, "not a regular file");
            continue;
        }
        if (registering && State::registers(st, linkPath(name)))
            continue;
        const int code =
            registering ? state_->place(normal.string(), name, st) : state_->remove(name);
        if (code != 0)
            refuse(path, kFontManagerErrorCannotWrite,
                   "cannot write " + shardFolder(name) + ": " + std::strerror(code));
    }
    state_->refreshChanged();
    return ok;
}

int FontconfigFontManager::migrateFirstLayout(const std::string& listFile,
                                              const ServiceFontTest& isServiceFont) {
    std::set<std::string> hidden;
    if (const std::optional<std::string> content = FileUtil::readFile(listFile)) {
        if (std::optional<std::set<std::string>> names = RejectListFile::parse(*content))
            hidden = std::move(*names);
        if (::unlink(listFile.c_str()) == 0)
            ILog("Fontconfig: removed the font list of the first layout %@", listFile);
    }
    if (!isServiceFont)
        return 0;
    std::vector<std::string> moved;
    std::vector<std::string> active;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(links_, error)) {
        const std::string name = entry.path().filename().string();
        std::error_code inner;
        if (!entry.is_regular_file(inner) || entry.is_symlink(inner) || name.starts_with(".") ||
            !isServiceFont(entry.path().string()))
            continue;
        const std::string target = storage_ + "/" + name;
        fs::rename(entry.path(), target, inner);
        if (inner) {  // another file system: copy, then remove the original
            std::error_code copyError;
            if (!fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing,
                               copyError) ||
                !fs::remove(entry.path(), copyError)) {
                ELog("Fontconfig: cannot move %@ into %@: %@", name, storage_, copyError.message());
                continue;
            }
        }
        moved.push_back(name);
        if (!hidden.contains(name))
            active.push_back(target);
    }
    if (!moved.empty()) {
        ILog("Fontconfig: moved %ld fonts of the first layout into %@",
             static_cast<long>(moved.size()), storage_);
        std::lock_guard lock(state_->mutex);
        state_->changed.insert(links_);
    }
    registerFonts(active, FontManagerScope::Persistent, nullptr);
    return static_cast<int>(moved.size());
}

void FontconfigFontManager::setFontsAddedHandler(FontsAddedHandler handler) {
    // Each watcher stops (its thread joined) outside the lock, so a handler
    // may replace itself; the previous one stops before the next starts, so
    // no file is reported twice.
    std::unique_ptr<FontFolderWatcher> previous;
    {
        std::lock_guard lock(watcherMutex_);
        previous = std::move(watcher_);
    }
    previous.reset();
    if (!handler)
        return;
    std::unique_ptr<FontFolderWatcher> next =
        FontFolderWatcher::start(storage_, std::move(handler));
    {
        std::lock_guard lock(watcherMutex_);
        previous = std::move(watcher_);  // set meanwhile by a concurrent call
        watcher_ = std::move(next);
    }
}

void FontconfigFontManager::fontFilesDidChange() {
    std::lock_guard lock(state_->mutex);
    state_->sweep();
    state_->refreshChanged();
}

bool FontconfigFontManager::refreshCache() {
    std::lock_guard lock(state_->mutex);
    bool ok = true;
    std::vector<std::string> folders{links_};
    for (int shard = 0; shard < state_->shardCount; ++shard)
        folders.push_back(state_->shardPath(static_cast<unsigned>(shard)));
    for (const std::string& folder : folders)
        if (FileUtil::isDirectory(folder) && !FontconfigQuery::refreshDirectoryCache(folder)) {
            state_->logLoadFailure();
            ok = false;
        }
    return ok;
}

}  // namespace tavo::platform
