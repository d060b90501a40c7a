#include "platform/Bundle.h"

#include <plist/plist.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>

namespace fs = std::filesystem;

namespace tavo::platform {

namespace {

// The string values of an Info.plist file (XML or binary); other values are
// left out. Empty when the file is missing or not a property list.
std::map<std::string, std::string> readInfo(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return values;
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty() || data.size() > std::numeric_limits<uint32_t>::max())
        return values;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    if (!root)
        return values;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(root, &it);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(root, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            if (key && plist_get_node_type(value) == PLIST_STRING) {
                char* text = nullptr;
                plist_get_string_val(value, &text);
                if (text)
                    values[key] = text;
                std::free(text);
            }
            std::free(key);
        }
        std::free(it);
    }
    plist_free(root);
    return values;
}

std::string processExecutable() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

struct MainBundleState {
    std::mutex mutex;
    std::string explicitPath;
    std::shared_ptr<const Bundle> bundle;
};

MainBundleState& mainState() {
    static MainBundleState state;
    return state;
}

}  // namespace

Bundle::Bundle(std::string bundlePath) : path_(std::move(bundlePath)) {
    while (path_.size() > 1 && path_.back() == '/')
        path_.pop_back();
    if (!path_.empty())
        info_ = readInfo(contentsPath() + "/Info.plist");
}

std::shared_ptr<const Bundle> Bundle::containing(const std::string& executablePath) {
    if (executablePath.empty())
        return nullptr;
    const fs::path exe = fs::path(executablePath).lexically_normal();
    const fs::path macos = exe.parent_path();
    const fs::path contents = macos.parent_path();
    const fs::path app = contents.parent_path();
    if (!exe.has_filename() || macos.filename() != "MacOS" || contents.filename() != "Contents" ||
        app.extension() != ".app" || app.stem().empty())
        return nullptr;
    return std::make_shared<const Bundle>(app.string());
}

std::shared_ptr<const Bundle> Bundle::mainBundle() {
    MainBundleState& state = mainState();
    std::lock_guard lock(state.mutex);
    if (!state.bundle) {
        if (!state.explicitPath.empty())
            state.bundle = std::make_shared<const Bundle>(state.explicitPath);
        else if (auto found = containing(processExecutable()))
            state.bundle = std::move(found);
        else
            state.bundle = std::make_shared<const Bundle>(std::string());
    }
    return state.bundle;
}

void Bundle::setMainBundlePath(const std::string& bundlePath) {
    MainBundleState& state = mainState();
    std::lock_guard lock(state.mutex);
    state.explicitPath = bundlePath;
    state.bundle.reset();
}

std::string Bundle::contentsPath() const {
    return path_.empty() ? path_ : path_ + "/Contents";
}

std::string Bundle::resourcePath() const {
    return path_.empty() ? path_ : contentsPath() + "/Resources";
}

std::string Bundle::executableFolderPath() const {
    return path_.empty() ? path_ : contentsPath() + "/MacOS";
}

std::string Bundle::executablePath() const {
    const std::string executable = infoValue("CFBundleExecutable");
    if (path_.empty() || executable.empty())
        return {};
    return executableFolderPath() + "/" + executable;
}

std::string Bundle::infoValue(const std::string& key) const {
    const auto it = info_.find(key);
    return it == info_.end() ? std::string() : it->second;
}

}  // namespace tavo::platform
