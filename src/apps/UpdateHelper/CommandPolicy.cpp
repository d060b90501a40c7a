#include "CommandPolicy.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <sstream>

namespace tavo::helper {

namespace {

std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

bool within(const std::string& path, const std::string& base, bool allowBase) {
    if (path == base)
        return allowBase;
    return path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
           (base == "/" || path[base.size()] == '/');
}

// The path with every link resolved; empty when it does not exist.
std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

}  // namespace

CommandPolicy::CommandPolicy(std::string applicationRoot, std::string updateArea, std::string owner,
                             uid_t user)
    : applicationRoot_(normalized(applicationRoot)),
      updateArea_(normalized(updateArea)),
      owner_(std::move(owner)),
      user_(user) {}

std::string CommandPolicy::normalized(const std::string& path) {
    if (path.empty() || path.front() != '/')
        return {};
    std::string out;
    std::istringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return {};
        out += "/" + part;
    }
    return out.empty() ? std::string("/") : out;
}

std::string CommandPolicy::placeProblem(const std::string& path, const std::string& base,
                                        bool allowBase) const {
    const std::string clean = normalized(path);
    if (clean.empty())
        return "not a plain absolute path: " + path;
    if (base.empty() || !within(clean, base, allowBase))
        return "outside " + base + ": " + path;
    // A linked folder on the way must not lead elsewhere.
    const std::string realBase = resolved(base);
    const std::string realParent = resolved(clean == base ? base : parentOf(clean));
    if (realBase.empty() || realParent.empty() || !within(realParent, realBase, true))
        return "leads outside " + base + ": " + path;
    return {};
}

std::string CommandPolicy::realFolderProblem(const std::string& path, bool ownedByUser) const {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "not a folder: " + path;
    if (ownedByUser && info.st_uid != user_)
        return "not the user's folder: " + path;
    return {};
}

std::string CommandPolicy::check(const std::vector<std::string>& command) const {
    if (command.empty())
        return "no command";
    const std::string& tool = command[0];
    const std::vector<std::string> args(command.begin() + 1, command.end());
    auto first = [](std::initializer_list<std::string> problems) {
        for (const auto& problem : problems)
            if (!problem.empty())
                return problem;
        return std::string();
    };
    if (tool == "/bin/mv" && args.size() == 3 && args[0] == "-f") {
        std::string problem = placeProblem(args[1], updateArea_, false);
        if (problem.empty())
            problem = realFolderProblem(normalized(args[1]), true);
        return first({problem, placeProblem(args[2], applicationRoot_, true)});
    }
    if (tool == "/bin/chown" && args.size() == 3 && args[0] == "-R") {
        if (args[1] != owner_)
            return "not the installation's owner: " + args[1];
        std::string problem = placeProblem(args[2], applicationRoot_, false);
        return problem.empty() ? realFolderProblem(normalized(args[2]), false) : problem;
    }
    if (tool == "/bin/unlink" && args.size() == 1)
        return placeProblem(args[0], applicationRoot_, false);
    if (tool == "/bin/ln" && args.size() == 3 && args[0] == "-s")
        return first({placeProblem(args[1], applicationRoot_, false),
                      placeProblem(args[2], applicationRoot_, false)});
    if (tool == "/bin/rm" && args.size() == 2 && args[0] == "-Rf")
        return placeProblem(args[1], applicationRoot_, false);
    return "not a command of the update: " + tool;
}

}  // namespace tavo::helper
