#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavo::fontid {

// Font files larger than this are refused unread: real fonts, even large
// collections, stay well below it.
inline constexpr std::size_t kMaximumFontFileSize = 64 * 1024 * 1024;

// Bounded reading and atomic writing of font files.
class FontFile {
public:
    // The bytes of a regular file of at most `limit` bytes; none for anything
    // else (missing, unreadable, a folder, a pipe or device, too large). Never
    // blocks on a pipe and never reads more than limit + 1 bytes.
    static std::optional<std::string> read(const std::string& path,
                                           std::size_t limit = kMaximumFontFileSize);

    // Writes to a temporary file in the same folder, syncs it and renames it
    // over `path` (mode 0644), so readers see the old file or the new one.
    static bool writeAtomically(const std::string& path, std::string_view bytes);
};

}  // namespace tavo::fontid
