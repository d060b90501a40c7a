#include "platform/linux/FontLinkFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "foundation/FileUtil.h"
#include "foundation/Log.h"

namespace fs = std::filesystem;

namespace tavo::platform {

namespace {

// A link in the making: "." + name + this, in the link's folder.
constexpr const char* kPendingSuffix = ".tavo-link";

std::uint32_t nameHash(std::string_view name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const unsigned char c : name) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
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

bool isRegularEntry(int folder, const dirent& entry) {
    if (entry.d_type != DT_UNKNOWN)
        return entry.d_type == DT_REG;
    struct stat st {};
    return ::fstatat(folder, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

// The names in a folder, sorted, in one buffer.
class StoredNames {
public:
    explicit StoredNames(const std::string& folder) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            return;
        std::vector<std::size_t> starts;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            starts.push_back(buffer_.size());
            buffer_.append(entry->d_name);
            buffer_.push_back('\0');
        }
        ::closedir(dir);
        names_.reserve(starts.size());
        for (const std::size_t start : starts)
            names_.emplace_back(buffer_.data() + start);
        std::sort(names_.begin(), names_.end());
    }

    bool contains(std::string_view name) const {
        return std::binary_search(names_.begin(), names_.end(), name);
    }

private:
    std::string buffer_;
    std::vector<std::string_view> names_;
};

// A folder of links to read; none when it is missing or a symbolic link,
// which is not ours to walk.
DIR* openOwnFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (!dir)
        ::close(fd);
    return dir;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

FontLinkFolders::FontLinkFolders(std::string storage, std::string links, int shardCount,
                                 LinkFunction link)
    : storage_(std::move(storage)),
      links_(std::move(links)),
      shardCount_(std::max(1, shardCount)),
      link_(std::move(link)),
      counts_(static_cast<std::size_t>(shardCount_) + 1, 0) {}

std::string FontLinkFolders::shardPath(int shard) const {
    char name[16];
    std::snprintf(name, sizeof name, "%02x", static_cast<unsigned>(shard));
    return links_ + "/" + name;
}

std::string FontLinkFolders::recentPath() const {
    return links_ + "/" + kRecentFolderName;
}

std::string FontLinkFolders::folderPath(int index) const {
    return index == recentIndex() ? recentPath() : shardPath(index);
}

std::string FontLinkFolders::hashShard(const std::string& name) const {
    return shardPath(static_cast<int>(nameHash(name) % static_cast<unsigned>(shardCount_)));
}

std::size_t FontLinkFolders::hashIndex(const std::string& name, int shardCount) {
    return nameHash(name) % static_cast<unsigned>(std::max(1, shardCount));
}

std::vector<std::string> FontLinkFolders::folders() const {
    std::vector<std::string> all;
    for (int index = 0; index <= recentIndex(); ++index)
        all.push_back(folderPath(index));
    return all;
}

bool FontLinkFolders::registers(const struct stat& stored, const std::string& link) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (st.st_dev == stored.st_dev && st.st_ino == stored.st_ino)
        return true;
    return st.st_nlink == 1 && st.st_size == stored.st_size &&
           st.st_mtim.tv_sec == stored.st_mtim.tv_sec &&
           st.st_mtim.tv_nsec == stored.st_mtim.tv_nsec;
}

int FontLinkFolders::folderIndexOf(const std::string& name) {
    if (!indexed_)
        readFolders();
    if (const auto found = where_.find(name); found != where_.end()) {
        if (exists(folderPath(found->second.index) + "/" + name))
            return found->second.index;
        readFolders();  // moved by another process meanwhile
        if (const auto again = where_.find(name); again != where_.end())
            return again->second.index;
        return kNoFolder;
    }
    // Linked by another process since the folders were read.
    const int own = static_cast<int>(nameHash(name) % static_cast<unsigned>(shardCount_));
    for (const int index : {own, recentIndex()})
        if (exists(folderPath(index) + "/" + name)) {
            where_[name] = {index, sweeps_};
            ++counts_[static_cast<std::size_t>(index)];
            return index;
        }
    return kNoFolder;
}

bool FontLinkFolders::isRegistered(const struct stat& stored, const std::string& name) {
    if (!indexed_)
        readFolders();
    if (const auto found = where_.find(name);
        found != where_.end() && registers(stored, folderPath(found->second.index) + "/" + name))
        return true;
    // Moved or made by another process, or an old version's link.
    const std::optional<std::string> link = linkOf(name);
    return link && registers(stored, *link);
}

std::optional<std::string> FontLinkFolders::linkOf(const std::string& name) {
    const int index = folderIndexOf(name);
    if (index == kNoFolder)
        return std::nullopt;
    return folderPath(index) + "/" + name;
}

std::string FontLinkFolders::linkPath(const std::string& name) {
    return linkOf(name).value_or(hashShard(name) + "/" + name);
}

int FontLinkFolders::place(const std::string& stored, const std::string& name,
                           const struct stat& source, bool recent) {
    int index = folderIndexOf(name);
    const bool replacing = index != kNoFolder;
    if (!replacing)
        index = recent ? recentIndex()
                       : static_cast<int>(nameHash(name) % static_cast<unsigned>(shardCount_));
    const std::string folder = folderPath(index);
    if (!FileUtil::isDirectory(folder)) {
        Error error;
        if (!FileUtil::createDirectories(folder, &error))
            return EACCES;
        changed_.insert(links_);
    }
    const std::string target = folder + "/" + name;
    const std::string pending = folder + "/." + name + kPendingSuffix;
    ::unlink(pending.c_str());
    int code = link_(stored, pending);
    if (code != 0) {
        if (!std::exchange(loggedCopy_, true))
            WLog("Fontconfig: cannot hard-link %@ into %@ (%@); active fonts are copied instead",
                 name, links_, std::strerror(code));
        code = copyWithTime(stored, pending, source);
        if (code != 0)
            return code;
    }
    if (::rename(pending.c_str(), target.c_str()) != 0) {
        code = errno;
        ::unlink(pending.c_str());
        return code;
    }
    if (!replacing) {
        where_[name] = {index, sweeps_};
        ++counts_[static_cast<std::size_t>(index)];
    }
    changed_.insert(folder);
    return 0;
}

int FontLinkFolders::remove(const std::string& name) {
    const int index = folderIndexOf(name);
    if (index == kNoFolder)
        return 0;
    const std::string folder = folderPath(index);
    if (::unlink((folder + "/" + name).c_str()) != 0 && errno != ENOENT)
        return errno;
    where_.erase(name);
    --counts_[static_cast<std::size_t>(index)];
    changed_.insert(folder);
    return 0;
}

void FontLinkFolders::mergeRecentIfFull() {
    const auto recent = static_cast<std::size_t>(recentIndex());
    if (counts_[recent] <= kRecentLimit)
        return;
    const auto smallest = std::min_element(counts_.begin(), counts_.begin() + shardCount_);
    const int target = static_cast<int>(smallest - counts_.begin());
    const std::string folder = shardPath(target);
    Error error;
    if (!FileUtil::isDirectory(folder)) {
        if (!FileUtil::createDirectories(folder, &error))
            return;
        changed_.insert(links_);
    }
    // Each link moves in one rename: a name is in one folder or the other,
    // never in both and never in neither.
    std::size_t moved = 0;
    for (auto& [name, place] : where_) {
        if (place.index != recentIndex())
            continue;
        if (::rename((recentPath() + "/" + name).c_str(), (folder + "/" + name).c_str()) != 0)
            continue;
        place.index = target;
        ++moved;
    }
    counts_[recent] -= moved;
    counts_[static_cast<std::size_t>(target)] += moved;
    changed_.insert(recentPath());
    changed_.insert(folder);
    DLog("Fontconfig: moved %ld recent links into %@", static_cast<long>(moved), folder);
}

void FontLinkFolders::readFolders() {
    where_.clear();
    ++sweeps_;
    std::fill(counts_.begin(), counts_.end(), 0);
    indexed_ = true;
    for (int index = 0; index <= recentIndex(); ++index) {
        DIR* dir = openOwnFolder(folderPath(index));
        if (!dir)
            continue;
        const int fd = ::dirfd(dir);
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name.starts_with(".") || !isRegularEntry(fd, *entry))
                continue;
            if (where_.emplace(std::string(name), Place{index, sweeps_}).second)
                ++counts_[static_cast<std::size_t>(index)];
        }
        ::closedir(dir);  // closes fd
    }
}

void FontLinkFolders::sweep() {
    // After every batch: one read of each folder and no allocation for a
    // link where it was, so that ten thousand links cost a few milliseconds.
    if (!indexed_)
        readFolders();
    const std::uint32_t sweep = ++sweeps_;
    // The stored names, read in one pass: far cheaper than a look per link.
    const StoredNames stored(storage_);
    std::vector<std::string> stale;
    for (int index = 0; index <= recentIndex(); ++index) {
        const std::string folder = folderPath(index);
        DIR* dir = openOwnFolder(folder);
        if (!dir)
            continue;
        const int fd = ::dirfd(dir);
        stale.clear();
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (!isRegularEntry(fd, *entry))
                continue;
            if (name.starts_with(".")) {
                if (name.ends_with(kPendingSuffix))
                    stale.emplace_back(name);  // a crash between link and rename
                continue;
            }
            if (!stored.contains(name)) {
                stale.emplace_back(name);  // its font is gone
                continue;
            }
            auto found = where_.find(name);
            if (found == where_.end()) {
                where_.emplace(std::string(name), Place{index, sweep});
            } else if (found->second.sweep != sweep) {
                found->second = {index, sweep};
            } else if (found->second.index != index) {
                // A second link of one name (a move another process cut
                // short) would list the font twice.
                stale.emplace_back(name);
            }
        }
        for (const std::string& name : stale)
            if (::unlinkat(fd, name.c_str(), 0) == 0)
                changed_.insert(folder);
        ::closedir(dir);  // closes fd
    }
    std::erase_if(where_, [&](const auto& entry) { return entry.second.sweep != sweep; });
    std::fill(counts_.begin(), counts_.end(), 0);
    for (const auto& [name, place] : where_)
        ++counts_[static_cast<std::size_t>(place.index)];
}

}  // namespace tavo::platform
