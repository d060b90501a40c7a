#include "fonts/FontVersionCache.h"

#include <sys/stat.h>

#include "fontid/FontIdReader.h"

namespace tavo {

namespace {
// A cache as large as the largest font folders we expect; beyond it, start over.
constexpr std::size_t kMaximumEntries = 100000;
}  // namespace

std::optional<fontid::FontRecord> FontVersionCache::record(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const long long inode = static_cast<long long>(st.st_ino);
    const long long size = static_cast<long long>(st.st_size);
    const long long mtime =
        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(path);
        if (it != entries_.end() && it->second.inode == inode && it->second.size == size &&
            it->second.mtimeNs == mtime)
            return it->second.record;
    }
    auto record = fontid::FontIdReader::read(path);
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kMaximumEntries)
        entries_.clear();
    entries_[path] = Entry{inode, size, mtime, record};
    return record;
}

void FontVersionCache::remember(const std::string& path, const fontid::FontRecord& record) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return;
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kMaximumEntries)
        entries_.clear();
    entries_[path] = Entry{
        static_cast<long long>(st.st_ino), static_cast<long long>(st.st_size),
        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec, record};
}

void FontVersionCache::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

}  // namespace tavo
