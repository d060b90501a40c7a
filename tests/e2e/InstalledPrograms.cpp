#include "e2e/InstalledPrograms.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/Sandbox.h"
#include "update/TestArchives.h"

namespace fs = std::filesystem;

namespace tavo::test {

std::vector<pid_t> InstalledPrograms::processesOf(const std::string& executable,
                                                  const std::string& argument) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code ec;
        if (fs::read_symlink(entry.path() / "exe", ec).string() != executable)
            continue;
        std::ifstream cmdline(entry.path() / "cmdline");
        std::string all((std::istreambuf_iterator<char>(cmdline)), {});
        if (argument.empty() || all.find(std::string(1, '\0') + argument) != std::string::npos)
            found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

void InstalledPrograms::writeVersionArchive(const std::string& version, const std::string& path) {
    const fs::path bundle = bundlesDirectory() + "/TAVO.app";
    std::vector<ZipEntry> entries;
    for (const auto& item : fs::recursive_directory_iterator(bundle)) {
        if (item.is_directory())
            continue;
        const std::string name =
            "TAVO-Ver" + version + "/TAVO.app/" + fs::relative(item.path(), bundle).string();
        std::string content = Sandbox::readFile(item.path().string());
        if (item.path().filename() == "Info.plist") {
            const std::string key = "<key>CFBundleShortVersionString</key>";
            const auto at = content.find("<string>", content.find(key));
            const auto end = content.find("</string>", at);
            content.replace(at + 8, end - at - 8, version);
        }
        const bool executable =
            (fs::status(item.path()).permissions() & fs::perms::owner_exec) != fs::perms::none;
        entries.push_back({name, std::move(content), false, executable});
    }
    TestArchives::writeZip(path, entries);
}

}  // namespace tavo::test
