#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tavo::platform {

// The folders under the link folder that hold the links of the active fonts:
// a fixed number of shard folders ("00", "01", ...) and one small folder of
// recent links. fontconfig rescans every file of a folder whose entries
// change, so a font switched on alone is linked into the recent folder, which
// stays small; once it holds kRecentLimit links they all move into the
// smallest shard in one go. Large batches go straight to the shard of each
// name's hash. A name has at most one link; a new version replaces the link
// where it is.
//
// Where each link is comes from reading the folders (at construction's first
// use and at every sweep); a lookup checks the answer on disk and falls back
// to the name's own shard and the recent folder, so links moved by another
// process are still found.
//
// Not thread-safe: the font manager calls it under its mutex.
class FontLinkFolders {
public:
    // Hard-links from to to; returns 0 or an errno value.
    using LinkFunction = std::function<int(const std::string& from, const std::string& to)>;

    // The recent folder's name; fontconfig reads it like any shard.
    static constexpr const char* kRecentFolderName = "recent";
    // Links the recent folder holds before they move into a shard: a change
    // there rescans at most this many fonts, and the move, which rescans one
    // shard, comes once in this many changes.
    static constexpr std::size_t kRecentLimit = 32;
    // Registrations of at most this many new links in one call go to the
    // recent folder; larger batches are spread over the shards at once.
    static constexpr std::size_t kSmallBatch = 8;

    FontLinkFolders(std::string storage, std::string links, int shardCount, LinkFunction link);

    int shardCount() const { return shardCount_; }
    std::string shardPath(int shard) const;
    std::string recentPath() const;
    // The shard of a name's hash, and its index among shardCount shards.
    std::string hashShard(const std::string& name) const;
    static std::size_t hashIndex(const std::string& name, int shardCount);

    // The path of name's link, if it has one.
    std::optional<std::string> linkOf(const std::string& name);
    // The path of name's link, or where a large batch would put it.
    std::string linkPath(const std::string& name);

    // Makes the link of the stored file under a pending name, then renames
    // it over the previous one: in the folder of the existing link, else in
    // the recent folder (`recent`) or the name's shard. An errno value on
    // failure.
    int place(const std::string& stored, const std::string& name, const struct stat& source,
              bool recent);
    // Removes name's link; 0 also when there was none.
    int remove(const std::string& name);
    // Moves the recent links into the smallest shard once there are more
    // than kRecentLimit of them.
    void mergeRecentIfFull();
    // Removes pending links a crash left behind, the links whose stored file
    // is gone and a second link of one name; reads where every link is.
    void sweep();

    // The folders whose fontconfig cache is out of date since the last call.
    std::set<std::string> takeChanged() { return std::exchange(changed_, {}); }
    void markChanged(const std::string& folder) { changed_.insert(folder); }
    // Every folder of links, the recent one last.
    std::vector<std::string> folders() const;

    // Whether name's link registers the stored file: one look where the link
    // was last seen, more only when it is not there.
    bool isRegistered(const struct stat& stored, const std::string& name);
    // Whether the entry at link registers the stored file: the same inode,
    // or for a copy the same size and modification time.
    static bool registers(const struct stat& stored, const std::string& link);

private:
    static constexpr int kNoFolder = -1;

    int recentIndex() const { return shardCount_; }
    std::string folderPath(int index) const;
    int folderIndexOf(const std::string& name);
    void readFolders();

    const std::string storage_;
    const std::string links_;
    const int shardCount_;
    LinkFunction link_;

    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };
    struct Place {
        int index;            // folder index
        std::uint32_t sweep;  // the last sweep that saw it
    };

    bool indexed_ = false;
    std::uint32_t sweeps_ = 0;
    std::unordered_map<std::string, Place, NameHash, std::equal_to<>> where_;  // by name
    std::vector<std::size_t> counts_;  // links per folder index
    std::set<std::string> changed_;
    bool loggedCopy_ = false;
};

}  // namespace tavo::platform
