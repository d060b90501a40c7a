#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/Error.h"

namespace tavo {

// The file work of a download: the workspace's temporary file and the
// installation into the user's font folder.
class FontInstaller {
public:
    // "<workspace>/Font/", created when missing; none on failure (error set).
    static std::optional<std::string> workspaceFolder(Error* error);
    // Moves (or copies) the downloaded body to "<workspace>/Font/<UUID>.otf".
    static std::optional<std::string> takeTemporary(const std::string& body,
                                                    const std::string& workspace, Error* error);
    // Writes bytes to destination atomically: a hidden temporary file in the
    // same folder, renamed over the destination. The folder is created when
    // missing. The file is not flushed here: syncFontFolder() makes every
    // installed file durable at once before the list records them.
    static bool install(const std::string& bytes, const std::string& destination, Error* error);
    // The same for a complete file of ours: renamed into place (made readable
    // to the user's programs first), copied when it lies on another file system.
    static bool installFile(const std::string& file, const std::string& bytes,
                            const std::string& destination, Error* error);
    // Flushes the file system of the user's font folder to disk when files
    // were installed since the last time.
    static void syncFontFolder();
    // Removes what programs that ended abruptly left behind: the download
    // bodies and temporary copies in the download workspace, the hidden
    // temporaries of installations in the user's font folder, and the
    // temporaries of the property lists of the user area. A file that a
    // running program still writes (it holds it locked) stays. Returns how
    // many files went.
    static std::size_t removeLeftovers();
};

}  // namespace tavo
