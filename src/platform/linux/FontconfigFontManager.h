#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/FontManager.h"
#include "platform/linux/RejectListFile.h"

namespace tavo::platform {

class FontFolderWatcher;

// Error codes of FontManagerError entries (the values of the system font
// manager where there is one).
inline constexpr long kFontManagerErrorFileNotFound = 101;
inline constexpr long kFontManagerErrorCannotWrite = 102;
inline constexpr long kFontManagerErrorNotInFontFolder = 105;
inline constexpr long kFontManagerErrorNotAFile = 106;
inline constexpr long kFontManagerErrorNameNotManaged = 107;

// The font manager on fontconfig. It manages the font files directly inside
// one folder, the user font folder of the service: a file is unregistered by
// listing it in one fontconfig file of the user's conf.d (RejectListFile),
// registered by taking it off the list. The list persists in that file (it is
// read back at construction), so the Persistent, Session and Process scopes
// all act the same.
//
// Whether a file is registered is answered by fontconfig itself, from a
// configuration loaded fresh, as any program starting now would load it.
// That costs a program's start-up, so the answer for every file comes from
// one snapshot of the files fontconfig lists, kept until the list file is
// rewritten, the folder or the conf.d changes, or FONTCONFIG_FILE does.
//
// fontconfig's cache of the folder is refreshed (never `fc-cache -f`) at most
// once per register/unregister call and before a snapshot, and only when the
// folder changed since the last refresh: otherwise every fontconfig program
// would scan the folder's files at each start until some program refreshed it.
//
// Every method may be called from any thread.
class FontconfigFontManager : public FontManager {
public:
    static constexpr const char* kListFileName = "50-oskavelle-tavo.conf";

    // fontFolder: the folder whose files are managed; listFile: the managed
    // fontconfig file. Reads the list from listFile (a file it did not write,
    // or a damaged one, counts as an empty list and is replaced).
    FontconfigFontManager(
        std::string fontFolder, std::string listFile,
        RejectListFile::GlobStyle globStyle = RejectListFile::GlobStyle::FullPath);
    ~FontconfigFontManager() override;

    FontconfigFontManager(const FontconfigFontManager&) = delete;
    FontconfigFontManager& operator=(const FontconfigFontManager&) = delete;

    // The manager of the current user: <home>/<Layout::userFonts> and
    // <home>/<Layout::userFontConfig>/kListFileName. Inside a sandbox root it
    // first points fontconfig at the sandbox's configuration
    // (SandboxFontconfig::install) unless FONTCONFIG_FILE is set already.
    // None when the current user has no home.
    static std::shared_ptr<FontconfigFontManager> create();

    FontManagerScope scopeForFile(const std::string& path) override;
    bool registerFonts(const std::vector<std::string>& paths, FontManagerScope scope,
                       std::vector<FontManagerError>* errors) override;
    bool unregisterFonts(const std::vector<std::string>& paths, FontManagerScope scope,
                         std::vector<FontManagerError>* errors) override;
    void setFontsAddedHandler(FontsAddedHandler handler) override;
    // Renders the list again for the folder's files and refreshes the cache.
    void fontFilesDidChange() override;

    // One plain refresh of fontconfig's cache of the font folder (see
    // FontconfigQuery::refreshDirectoryCache for what it costs). False when
    // fontconfig could not do it.
    bool refreshCache();

    const std::string& fontFolder() const { return folder_; }
    const std::string& listFilePath() const { return listFile_; }
    // The names of the unregistered files, sorted.
    std::vector<std::string> hiddenFiles() const;
    // How many snapshots of fontconfig's fonts were loaded so far.
    int snapshotLoads() const;

private:
    struct State;

    bool apply(const std::vector<std::string>& paths, bool hide,
               std::vector<FontManagerError>* errors);

    const std::string folder_;
    const std::string listFile_;
    std::shared_ptr<State> state_;  // shared (weakly) with the watcher's handler

    std::mutex watcherMutex_;
    std::unique_ptr<FontFolderWatcher> watcher_;
};

}  // namespace tavo::platform
