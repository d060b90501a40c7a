#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Error.h"

namespace tavo {

// Whole-file reads and writes. Atomic writes go to a temporary file in the
// same folder, are flushed to disk and renamed into place, so a reader sees
// either the old file or the new one, never a part.
class FileUtil {
public:
    static bool exists(const std::string& path);
    static bool isDirectory(const std::string& path);
    // None when missing, unreadable, no regular file or larger than maxSize;
    // error then says why (the system's error number and the path).
    static std::optional<std::string> readFile(const std::string& path,
                                               std::size_t maxSize = 64u << 20,
                                               Error* error = nullptr);
    static bool writeFile(const std::string& path, std::string_view bytes, bool atomically,
                          mode_t mode, Error* error = nullptr);
    // Writes all of bytes to fd, again after an interruption; false when the
    // descriptor takes no more.
    static bool writeAll(int fd, std::string_view bytes);
    // Creates the folder and its parents; true when it exists afterwards.
    static bool createDirectories(const std::string& path, Error* error = nullptr);
    static std::string joinPath(const std::string& folder, const std::string& name);
    static std::string parentPath(const std::string& path);
    static std::string withoutTrailingSlash(std::string path);
    // The names in folder, sorted; none when it cannot be read.
    static std::vector<std::string> folderEntries(const std::string& folder);
};

}  // namespace tavo
