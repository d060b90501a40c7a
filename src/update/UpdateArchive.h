#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavo {

// The contents of an update archive, checked before and after extraction:
// every entry lies inside the archive's one top folder "TAVO-Ver<version>/",
// and no link extracted from it points out of that folder.
class UpdateArchive {
public:
    // The archive's entry names, listed by /usr/bin/unzip; none when the
    // archive cannot be read, with the listing's exit status in status.
    static std::optional<std::vector<std::string>> listEntries(const std::string& archivePath,
                                                               int* status);
    // Empty when every entry is a relative name under topFolder + "/"
    // without a ".." part; otherwise the first offending entry.
    static std::string entriesProblem(const std::vector<std::string>& entries,
                                      const std::string& topFolder);
    // Empty when no symbolic link under folder points outside it.
    static std::string linksProblem(const std::string& folder);
};

}  // namespace tavo
