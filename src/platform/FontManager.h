#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavo::platform {

// Where a font file is registered; the values of the system font manager.
enum class FontManagerScope : int {
    None = 0,        // not registered: programs do not see the font
    Process = 1,     // this process only
    Persistent = 2,  // the user, across log-ins
    Session = 3,     // the user, until log-out
};

// One file that a registration or unregistration could not apply.
struct FontManagerError {
    std::string path;
    long code = 0;
    std::string description;
};

// The operating system's font manager: which font files programs see.
// Every operation may be called from any thread.
class FontManager {
public:
    virtual ~FontManager() = default;

    // The scope in which the file is registered; None when programs do not see it.
    virtual FontManagerScope scopeForFile(const std::string& path) = 0;
    // Registers the files in one call; false when any could not be, with
    // one entry per file that failed in errors (when given).
    virtual bool registerFonts(const std::vector<std::string>& paths, FontManagerScope scope,
                               std::vector<FontManagerError>* errors) = 0;
    virtual bool unregisterFonts(const std::vector<std::string>& paths, FontManagerScope scope,
                                 std::vector<FontManagerError>* errors) = 0;

    // Files of one group are registered together most cheaply (a backend
    // that refreshes a cache per folder names the folder of the file name).
    // A long download chain fetches its fonts group by group and registers
    // each group once it is complete, while the next one downloads.
    virtual std::size_t registrationGroup(const std::string& fileName) const {
        (void)fileName;
        return 0;
    }

    // Font files were added to or replaced in the user's font folder; a
    // backend that keeps caches of the folder brings them up to date once.
    virtual void fontFilesDidChange() {}

    // Called (on a thread of the font manager's own) with the font files that
    // became available; none once the handler is replaced by an empty one.
    using FontsAddedHandler = std::function<void(const std::vector<std::string>& paths)>;
    virtual void setFontsAddedHandler(FontsAddedHandler handler) = 0;

    // The program's font manager; until a program sets one, a manager that
    // registers nothing and reports every file as not registered.
    static std::shared_ptr<FontManager> defaultManager();
    static void setDefaultManager(std::shared_ptr<FontManager> manager);
};

}  // namespace tavo::platform
