#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "fontid/FontRecord.h"

namespace tavo {

// The identification records of font files, read once per file as long as
// the file stays the same (same inode, size and modification time): a
// synchronization with nothing to do asks for thousands of them.
class FontVersionCache {
public:
    // None when the file is missing or not one of the service's fonts.
    std::optional<fontid::FontRecord> record(const std::string& path);
    // A file just written whose record is known.
    void remember(const std::string& path, const fontid::FontRecord& record);
    void clear();

private:
    struct Entry {
        long long inode, size, mtimeNs;
        std::optional<fontid::FontRecord> record;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

}  // namespace tavo
