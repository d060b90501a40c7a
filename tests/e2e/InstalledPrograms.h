#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavo::test {

// What the whole-program tests of an installed TAVO look at and make.
class InstalledPrograms {
public:
    // The processes whose program is executable and whose arguments include
    // argument (any, when empty), found in /proc.
    static std::vector<pid_t> processesOf(const std::string& executable,
                                          const std::string& argument = {});
    // This build's TAVO bundle as version, in a zip archive of the update's
    // form ("TAVO-Ver<version>/TAVO.app/...").
    static void writeVersionArchive(const std::string& version, const std::string& path);
};

}  // namespace tavo::test
