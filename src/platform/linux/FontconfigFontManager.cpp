#include "platform/linux/FontconfigFontManager.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <unordered_set>

#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/FontFolderWatcher.h"
#include "platform/linux/FontconfigQuery.h"
#include "platform/linux/SandboxFontconfig.h"

namespace fs = std::filesystem;

namespace tavo::platform {

namespace {

// The coarsest modification-time step of the file systems we meet. fontconfig
// judges a cache valid while the folder's time equals the one it recorded, so
// a refresh returns only once later changes get a later time.
constexpr std::chrono::milliseconds kTimestampStep{20};

struct FileTime {
    std::int64_t seconds = -1;  // -1: missing
    long nanoseconds = 0;
    bool operator==(const FileTime&) const = default;
};

FileTime modificationTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return {static_cast<std::int64_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
}

// What a snapshot of fontconfig's fonts depends on.
struct Stamp {
    FileTime folder;
    FileTime confD;
    FileTime listFile;
    std::string fontconfigFile;
    bool operator==(const Stamp&) const = default;
};

std::string normalizedPath(const std::string& path) {
    std::string normal = fs::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// Waits until a change made from now on gets a later time than `time`.
void waitPastTimestamp(const FileTime& time) {
    if (time.seconds < 0)
        return;
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(time.seconds) + std::chrono::nanoseconds(time.nanoseconds)));
    const auto due = modified + kTimestampStep;
    const auto now = std::chrono::system_clock::now();
    if (now < due && due - now <= kTimestampStep)
        std::this_thread::sleep_for(due - now);
}

}  // namespace

// The list and the snapshot, under one mutex; shared weakly with the watcher's
// handler, which may run while the manager is being destroyed.
struct FontconfigFontManager::State {
    std::mutex mutex;
    std::string folder;
    std::string listFile;
    RejectListFile::GlobStyle style;
    std::set<std::string> hidden;
    FileTime renderedFolder;  // the folder's time when the list file was last rendered

    bool snapshotValid = false;
    Stamp snapshotStamp;
    std::unordered_set<std::string> visible;
    int loads = 0;
    bool loggedLoadFailure = false;

    std::optional<FileTime> refreshedFolder;  // the folder's time at the last cache refresh

    void logLoadFailure() {
        if (loggedLoadFailure)
            return;
        loggedLoadFailure = true;
        const char* file = std::getenv("FONTCONFIG_FILE");
        ILog("Fontconfig: cannot load its configuration (%@); no font counts as registered",
             file ? file : "the system's");
    }

    Stamp currentStamp() const {
        const char* fontconfigFile = std::getenv("FONTCONFIG_FILE");
        return {modificationTime(folder), modificationTime(FileUtil::parentPath(listFile)),
                modificationTime(listFile), fontconfigFile ? fontconfigFile : ""};
    }

    // Renders the list for the folder's current entries and rewrites the file
    // when its content differs. The names of files that left the folder leave
    // the list (a glob costs every program at start-up whether or not its
    // file exists). False when the file cannot be written.
    bool sync() {
        renderedFolder = modificationTime(folder);
        const std::vector<RejectListFile::Entry> entries = RejectListFile::folderEntries(folder);
        if (renderedFolder.seconds >= 0) {
            std::set<std::string> present;
            for (const RejectListFile::Entry& entry : entries)
                present.insert(entry.name);
            std::erase_if(hidden, [&](const std::string& name) { return !present.contains(name); });
        }
        const std::optional<std::string> current = FileUtil::readFile(listFile);
        if (hidden.empty() && !current)
            return true;
        const std::string content = RejectListFile::render(folder, hidden, entries, style);
        if (current == content)
            return true;
        Error error;
        if (!FileUtil::createDirectories(FileUtil::parentPath(listFile), &error) ||
            !FileUtil::writeFile(listFile, content, true, 0644, &error)) {
            ELog("Fontconfig: cannot write the font list %@: %@", listFile, error);
            return false;
        }
        snapshotValid = false;
        return true;
    }

    void syncIfFolderChanged() {
        if (modificationTime(folder) != renderedFolder)
            sync();
    }

    bool refreshCache() {
        const FileTime time = modificationTime(folder);
        if (time.seconds < 0) {
            refreshedFolder = time;
            return true;  // no folder, nothing to cache
        }
        const bool refreshed = FontconfigQuery::refreshDirectoryCache(folder);
        if (refreshed)
            refreshedFolder = time;
        else
            logLoadFailure();
        // The cache holds the folder's time as fontconfig read it, now or just before.
        waitPastTimestamp(modificationTime(folder));
        return refreshed;
    }

    void refreshCacheIfFolderChanged() {
        if (refreshedFolder != modificationTime(folder))
            refreshCache();
    }

    void ensureSnapshot() {
        Stamp stamp = currentStamp();
        if (stamp.folder != renderedFolder) {
            sync();
            stamp = currentStamp();
        }
        if (snapshotValid && stamp == snapshotStamp)
            return;
        refreshCacheIfFolderChanged();
        stamp = currentStamp();
        std::optional<std::unordered_set<std::string>> files = FontconfigQuery::visibleFiles();
        ++loads;
        if (!files)
            logLoadFailure();
        visible = files ? std::move(*files) : std::unordered_set<std::string>{};
        snapshotStamp = stamp;
        snapshotValid = true;
    }
};

FontconfigFontManager::FontconfigFontManager(std::string fontFolder, std::string listFile,
                                             RejectListFile::GlobStyle globStyle)
    : folder_(normalizedPath(fontFolder)),
      listFile_(normalizedPath(listFile)),
      state_(std::make_shared<State>()) {
    state_->folder = folder_;
    state_->listFile = listFile_;
    state_->style = globStyle;
    if (const std::optional<std::string> content = FileUtil::readFile(listFile_)) {
        if (std::optional<std::set<std::string>> names = RejectListFile::parse(*content))
            state_->hidden = std::move(*names);
        else
            WLog("Fontconfig: %@ is not a font list of TAVO or is damaged; it is replaced",
                 listFile_);
    }
    std::lock_guard lock(state_->mutex);
    state_->sync();
}

FontconfigFontManager::~FontconfigFontManager() {
    setFontsAddedHandler({});
}

std::shared_ptr<FontconfigFontManager> FontconfigFontManager::create() {
    const std::optional<std::string> home = SystemInfo::homeDirectory();
    if (!home)
        return nullptr;
    const Layout layout = Layout::current();
    if (layout.inSandbox() && SandboxFontconfig::mayInstall())
        SandboxFontconfig::install(layout.sandboxRoot);
    return std::make_shared<FontconfigFontManager>(
        *home + "/" + layout.userFonts, *home + "/" + layout.userFontConfig + "/" + kListFileName);
}

FontManagerScope FontconfigFontManager::scopeForFile(const std::string& path) {
    const std::string key = normalizedPath(path);
    std::lock_guard lock(state_->mutex);
    state_->ensureSnapshot();
    return state_->visible.contains(key) ? FontManagerScope::Persistent : FontManagerScope::None;
}

bool FontconfigFontManager::registerFonts(const std::vector<std::string>& paths, FontManagerScope,
                                          std::vector<FontManagerError>* errors) {
    return apply(paths, false, errors);
}

bool FontconfigFontManager::unregisterFonts(const std::vector<std::string>& paths, FontManagerScope,
                                            std::vector<FontManagerError>* errors) {
    return apply(paths, true, errors);
}

bool FontconfigFontManager::apply(const std::vector<std::string>& paths, bool hide,
                                  std::vector<FontManagerError>* errors) {
    bool ok = true;
    const auto refuse = [&](const std::string& path, long code, std::string description) {
        ok = false;
        if (errors)
            errors->push_back({path, code, std::move(description)});
    };
    std::lock_guard lock(state_->mutex);
    const std::set<std::string> before = state_->hidden;
    std::vector<std::string> applied;
    for (const std::string& path : paths) {
        const fs::path normal = fs::path(normalizedPath(path));
        const std::string name = normal.filename().string();
        if (!normal.is_absolute() || normal.parent_path().string() != folder_) {
            refuse(path, kFontManagerErrorNotInFontFolder, "not in the user font folder");
            continue;
        }
        if (!name.empty() && !RejectListFile::isManageableName(name)) {
            refuse(path, kFontManagerErrorNameNotManaged,
                   "the file name begins with '.' or holds '*', '?' or control characters");
            continue;
        }
        struct stat st {};
        if (::stat(normal.c_str(), &st) != 0) {
            refuse(path, kFontManagerErrorFileNotFound,
                   errno == ENOENT ? "no such file" : std::strerror(errno));
            continue;
        }
        if (name.empty() || !S_ISREG(st.st_mode)) {
            refuse(path, kFontManagerErrorNotAFile, "not a regular file");
            continue;
        }
        if (hide)
            state_->hidden.insert(name);
        else
            state_->hidden.erase(name);
        applied.push_back(path);
    }
    const bool changed = state_->hidden != before;
    if (changed || modificationTime(folder_) != state_->renderedFolder) {
        if (!state_->sync() && changed) {
            state_->hidden = before;
            for (const std::string& path : applied)
                refuse(path, kFontManagerErrorCannotWrite, "cannot write " + listFile_);
        }
    }
    state_->refreshCacheIfFolderChanged();
    return ok;
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
    std::weak_ptr<State> weakState = state_;
    std::unique_ptr<FontFolderWatcher> next = FontFolderWatcher::start(
        folder_, [weakState, handler = std::move(handler)](const std::vector<std::string>& paths) {
            if (const std::shared_ptr<State> state = weakState.lock()) {
                std::lock_guard stateLock(state->mutex);
                // A folder form of the list hides new files until it is rendered again.
                state->syncIfFolderChanged();
            }
            handler(paths);
        });
    {
        std::lock_guard lock(watcherMutex_);
        previous = std::move(watcher_);  // set meanwhile by a concurrent call
        watcher_ = std::move(next);
    }
}

void FontconfigFontManager::fontFilesDidChange() {
    std::lock_guard lock(state_->mutex);
    // A folder form of the list hides new files until it is rendered again.
    state_->syncIfFolderChanged();
    state_->refreshCacheIfFolderChanged();
}

bool FontconfigFontManager::refreshCache() {
    std::lock_guard lock(state_->mutex);
    return state_->refreshCache();
}

std::vector<std::string> FontconfigFontManager::hiddenFiles() const {
    std::lock_guard lock(state_->mutex);
    return {state_->hidden.begin(), state_->hidden.end()};
}

int FontconfigFontManager::snapshotLoads() const {
    std::lock_guard lock(state_->mutex);
    return state_->loads;
}

}  // namespace tavo::platform
