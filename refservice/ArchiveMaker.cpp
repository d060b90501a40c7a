#include "refservice/ArchiveMaker.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "refservice/FontFiles.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tavo::refservice {

namespace {

bool plainName(const std::string& text) {
    return !text.empty() && text != "." && text != ".." &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '.' || c == '-' || c == '_';
           });
}

bool writeText(const fs::path& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

std::string infoPlist(const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>TAVO</string>\n"
           "\t<key>CFBundleIdentifier</key>\n\t<string>oskavelle.TAVO</string>\n"
           "\t<key>CFBundleName</key>\n\t<string>TAVO</string>\n"
           "\t<key>CFBundleShortVersionString</key>\n\t<string>" +
           version +
           "</string>\n"
           "\t<key>CFBundleVersion</key>\n\t<string>1</string>\n"
           "</dict>\n</plist>\n";
}

bool runZip(const fs::path& folder, const std::string& archiveName, const std::string& content) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "zip", quiet = "-qry";
    std::string archive = archiveName, input = content;
    char* argv[] = {program.data(), quiet.data(), archive.data(), input.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "zip", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::optional<std::string> ArchiveMaker::placeholder(const std::string& version) {
    if (!plainName(version))
        return std::nullopt;
    std::string templ = (fs::temp_directory_path() / "tavo-archive-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        return std::nullopt;
    const fs::path folder(templ);
    const std::string name = "TAVO-Ver" + version;
    const fs::path contents = folder / name / "TAVO.app" / "Contents";
    std::optional<std::string> archive;
    if (writeText(contents / "Info.plist", infoPlist(version)) &&
        writeText(contents / "MacOS" / "TAVO", "#!/bin/sh\nexit 0\n")) {
        fs::permissions(contents / "MacOS" / "TAVO",
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
        if (runZip(folder, name + ".zip", name))
            archive = FontFiles::readFile((folder / (name + ".zip")).string());
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return archive;
}

}  // namespace tavo::refservice
