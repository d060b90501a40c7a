#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::platform {

// The fontconfig file of the first layout, in which the service's fonts lay
// in a folder fontconfig scans and inactive ones were hidden by this list
// (retired: every program paid for its globs at start-up, and sandboxed
// applications ignored it). FontconfigFontManager only reads it back, to move
// such an installation over, and removes it. It holds the names of the
// hidden (unregistered) files of one font folder, written as the shortest
// <selectfont> list that hides exactly them, with the names themselves kept
// in a comment so the file reads back without knowing the folder's content.
//
// fontconfig checks every font it loads against every glob of every
// <acceptfont> and <rejectfont>, at the start of every program, so the list
// takes whichever of three forms has the fewest globs:
//   - every entry of the folder hidden: one <rejectfont> glob "FOLDER/*";
//   - most hidden: "FOLDER/*" rejected, one <acceptfont> glob per visible file
//     (fontconfig checks the accepts first);
//   - otherwise one <rejectfont> glob per hidden file.
// A folder form is used only when every visible entry can be named by a glob
// (a subfolder or a file name with glob characters blocks it).
class RejectListFile {
public:
    enum class Form {
        Empty,                    // nothing hidden: no <selectfont>
        PerFileRejects,           // one reject glob per hidden file
        FolderReject,             // one reject glob for the whole folder
        FolderRejectWithAccepts,  // the folder rejected, its visible files accepted
    };

    // How the glob of one file is written. FullPath compares the whole path
    // from its start; FolderTail ("*/<folder name>/<file>") makes fontconfig
    // compare only the tail of each font's path. Measured on fontconfig 2.14
    // full paths were the cheaper of the two.
    enum class GlobStyle { FullPath, FolderTail };

    // One entry of the font folder as fontconfig would scan it.
    struct Entry {
        std::string name;
        bool nameable = true;  // false for subfolders and names a glob cannot state
    };

    // Whether a file of the folder can be managed: a non-empty UTF-8 name
    // without '/', '*', '?' or control characters that does not begin with
    // '.' (fontconfig never reads those).
    static bool isManageableName(std::string_view name);

    // The entries of the folder that fontconfig scans (names not beginning
    // with '.'); empty when the folder is missing.
    static std::vector<Entry> folderEntries(const std::string& folder);

    static Form chooseForm(const std::set<std::string>& hidden, const std::vector<Entry>& entries);

    // The file's content for the hidden names of folder.
    static std::string render(const std::string& folder, const std::set<std::string>& hidden,
                              const std::vector<Entry>& entries,
                              GlobStyle style = GlobStyle::FullPath);

    // The hidden names written in content; none when content is not a file
    // this class wrote or is damaged.
    static std::optional<std::set<std::string>> parse(std::string_view content);

    // Text with &, < and > escaped for an XML element.
    static std::string escapeXml(std::string_view text);
};

}  // namespace tavo::platform
