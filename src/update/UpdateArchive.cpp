#include "update/UpdateArchive.h"

#include <filesystem>
#include <sstream>

#include "foundation/Process.h"

namespace fs = std::filesystem;

namespace tavo {

namespace {

constexpr const char* kUnzip = "/usr/bin/unzip";

bool hasDotDot(const std::string& name) {
    std::istringstream parts(name);
    std::string part;
    while (std::getline(parts, part, '/'))
        if (part == "..")
            return true;
    return false;
}

}  // namespace

std::optional<std::vector<std::string>> UpdateArchive::listEntries(const std::string& archivePath,
                                                                   int* status) {
    // "-Z1": zipinfo's list of bare names, one a line.
    const ProcessResult result = Process::run(kUnzip, {"-Z1", archivePath}, true);
    *status = result.started ? result.exitStatus : -1;
    if (!result.started || result.exitStatus != 0)
        return std::nullopt;
    std::vector<std::string> entries;
    std::istringstream lines(result.standardOutput);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty())
            entries.push_back(line);
    return entries;
}

std::string UpdateArchive::entriesProblem(const std::vector<std::string>& entries,
                                          const std::string& topFolder) {
    if (entries.empty())
        return "the archive is empty";
    const std::string prefix = topFolder + "/";
    for (const auto& entry : entries) {
        if (entry.front() == '/' || entry.find('\\') != std::string::npos || hasDotDot(entry) ||
            !entry.starts_with(prefix))
            return "entry outside " + prefix + ": " + entry;
        for (unsigned char c : entry)
            if (c < 0x20 || c == 0x7f)
                return "entry with a control character: " + entry;
    }
    return {};
}

std::string UpdateArchive::linksProblem(const std::string& folder) {
    std::error_code ec;
    const fs::path top = fs::path(folder).lexically_normal();
    fs::recursive_directory_iterator it(top, fs::directory_options::none, ec), end;
    if (ec)
        return "cannot read " + folder + ": " + ec.message();
    for (; it != end; it.increment(ec)) {
        if (ec)
            return "cannot read " + folder + ": " + ec.message();
        if (!it->is_symlink(ec))
            continue;
        const fs::path target = fs::read_symlink(it->path(), ec);
        if (ec)
            return "unreadable link: " + it->path().string();
        const fs::path reached = (it->path().parent_path() / target).lexically_normal();
        const auto relative = reached.lexically_relative(top);
        if (target.is_absolute() || relative.empty() || *relative.begin() == "..")
            return "link pointing outside: " + it->path().string() + " -> " + target.string();
    }
    return {};
}

}  // namespace tavo
