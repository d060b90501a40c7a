#include "platform/linux/FontconfigFontManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
#include "platform/linux/FontLinkFolders.h"
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

struct timespec modificationTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {-1, 0};
    return st.st_mtim;
}

// Whether a path has no empty, "." or ".." component and no slash at its end:
// what the controller passes, which then needs no normalizing.
bool isNormalPath(std::string_view path) {
    if (path.empty() || path.back() == '/')
        return false;
    for (std::size_t start = path[0] == '/' ? 1 : 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::string normalizedPath(const std::string& path) {
    if (isNormalPath(path))
        return path;
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

}  // namespace

// The link folders and the logged-once flag, under one mutex; shared weakly
// with the watcher.
struct FontconfigFontManager::State {
    State(const std::string& storage, const std::string& links, int shardCount, LinkFunction link)
        : folders(storage, links, shardCount, std::move(link)) {}

    std::mutex mutex;
    FontLinkFolders folders;
    bool loggedLoadFailure = false;

    void logLoadFailure() {
        if (std::exchange(loggedLoadFailure, true))
            return;
        const char* file = std::getenv("FONTCONFIG_FILE");
        ILog("Fontconfig: cannot load its configuration (%@); font caches are not refreshed",
             file ? file : "the system's");
    }

    void refreshChanged() {
        const std::set<std::string> changed = folders.takeChanged();
        struct timespec latest {
            - 1, 0
        };
        std::vector<std::string> present;
        for (const std::string& folder : changed)
            if (FileUtil::isDirectory(folder))
                present.push_back(folder);
        if (present.empty())
            return;
        if (!FontconfigQuery::refreshDirectoryCaches(present))
            logLoadFailure();
        for (const std::string& folder : present) {
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
      shardCount_(options.shardCount > 0 ? options.shardCount : kShardCount),
      state_(std::make_shared<State>(
          storage_, links_, shardCount_,
          options.link ? std::move(options.link) : LinkFunction(systemLink))) {
    Error error;
    if (!FileUtil::createDirectories(storage_, &error))
        ELog("Fontconfig: cannot create the font storage %@: %@", storage_, error);
    std::lock_guard lock(state_->mutex);
    state_->folders.sweep();
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

std::string FontconfigFontManager::shardFolder(const std::string& fileName) {
    return fs::path(linkPath(fileName)).parent_path().string();
}

std::size_t FontconfigFontManager::registrationGroup(const std::string& fileName) const {
    return FontLinkFolders::hashIndex(fileName, shardCount_);
}

std::string FontconfigFontManager::linkPath(const std::string& fileName) {
    std::lock_guard lock(state_->mutex);
    return state_->folders.linkPath(fileName);
}

FontManagerScope FontconfigFontManager::scopeForFile(const std::string& path) {
    // Asked for every file of a synchronization: string work and two looks
    // at the disk, the stored file and its link.
    const std::string normal = normalizedPath(path);
    const std::size_t slash = normal.rfind('/');
    if (slash == std::string::npos || slash + 1 == normal.size() ||
        std::string_view(normal).substr(0, slash) != storage_)
        return FontManagerScope::None;
    struct stat stored {};
    if (::stat(normal.c_str(), &stored) != 0 || !S_ISREG(stored.st_mode))
        return FontManagerScope::None;
    std::lock_guard lock(state_->mutex);
    return state_->folders.isRegistered(stored, normal.substr(slash + 1))
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
    FontLinkFolders& folders = state_->folders;
    struct Placement {
        const std::string* path;
        std::string stored;
        std::string name;
        struct stat source;
    };
    std::vector<Placement> placements;
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
                folders.remove(name);  // the font is gone: so is its link
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
        if (!registering) {
            if (const int code = folders.remove(name); code != 0)
                refuse(path, kFontManagerErrorCannotWrite,
                       "cannot write " + shardFolderLocked(name) + ": " + std::strerror(code));
            continue;
        }
        const std::optional<std::string> link = folders.linkOf(name);
        if (link && FontLinkFolders::registers(st, *link))
            continue;
        placements.push_back({&path, normal.string(), name, st});
    }
    // A few fonts switched on go to the small folder of recent links, so
    // fontconfig rescans few files; a large batch is spread over the shards.
    const bool recent = placements.size() <= FontLinkFolders::kSmallBatch;
    for (const Placement& placement : placements)
        if (const int code =
                folders.place(placement.stored, placement.name, placement.source, recent);
            code != 0)
            refuse(
                *placement.path, kFontManagerErrorCannotWrite,
                "cannot write " + shardFolderLocked(placement.name) + ": " + std::strerror(code));
    if (registering)
        folders.mergeRecentIfFull();
    state_->refreshChanged();
    return ok;
}

std::string FontconfigFontManager::shardFolderLocked(const std::string& fileName) {
    return fs::path(state_->folders.linkPath(fileName)).parent_path().string();
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
        state_->folders.markChanged(links_);
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
    state_->folders.sweep();
    state_->refreshChanged();
}

bool FontconfigFontManager::refreshCache() {
    std::lock_guard lock(state_->mutex);
    bool ok = true;
    std::vector<std::string> folders{links_};
    for (std::string& folder : state_->folders.folders())
        folders.push_back(std::move(folder));
    std::erase_if(folders,
                  [](const std::string& folder) { return !FileUtil::isDirectory(folder); });
    if (!FontconfigQuery::refreshDirectoryCaches(folders)) {
        state_->logLoadFailure();
        ok = false;
    }
    return ok;
}

}  // namespace tavo::platform
