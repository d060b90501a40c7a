#include "uninstaller/RemovalPolicy.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "foundation/Log.h"

namespace fs = std::filesystem;

namespace tavo::uninstaller {

namespace {

// The real place of path's folder, with path's own name: a link stays a link.
std::optional<fs::path> placeOf(const std::string& path) {
    if (path.empty() || path.front() != '/')
        return std::nullopt;
    fs::path p = fs::path(path).lexically_normal();
    if (!p.has_filename())
        p = p.parent_path();
    const auto name = p.filename();
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;
    std::error_code error;
    const fs::path folder = fs::weakly_canonical(p.parent_path(), error);
    if (error)
        return std::nullopt;
    return folder / name;
}

bool within(const fs::path& path, const fs::path& place) {
    auto p = path.begin();
    for (auto q = place.begin(); q != place.end(); ++q, ++p) {
        if (q->empty())
            continue;  // the trailing empty element of "a/b/"
        if (p == path.end() || *p != *q)
            return false;
    }
    return p != path.end();  // strictly inside
}

std::optional<fs::path> realFolder(const std::string& place) {
    std::error_code error;
    fs::path real = fs::weakly_canonical(fs::path(place).lexically_normal(), error);
    if (error || real.empty())
        return std::nullopt;
    return real;
}

}  // namespace

RemovalPolicy::RemovalPolicy(std::vector<std::string> places, std::vector<std::string> files)
    : places_(std::move(places)), files_(std::move(files)) {}

bool RemovalPolicy::allows(const std::string& path) const {
    const auto place = placeOf(path);
    if (!place)
        return false;
    for (const auto& file : files_) {
        const auto allowed = placeOf(file);
        if (allowed && *allowed == *place)
            return true;
    }
    for (const auto& folder : places_) {
        const auto real = realFolder(folder);
        if (real && real->has_relative_path() && within(*place, *real))
            return true;
    }
    return false;
}

bool RemovalPolicy::remove(const std::string& path) const {
    if (!allows(path)) {
        ELog("Refused to remove a path outside the places of the installation: %@", path);
        return false;
    }
    const fs::path place = *placeOf(path);
    std::error_code error;
    const auto status = fs::symlink_status(place, error);
    if (error && error != std::errc::no_such_file_or_directory)
        return false;
    if (!fs::exists(status))
        return true;
    // remove_all removes links as links and never descends through one.
    fs::remove_all(place, error);
    if (error) {
        ELog("Could not remove %@: %@", path, error.message());
        return false;
    }
    return true;
}

}  // namespace tavo::uninstaller
