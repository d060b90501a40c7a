#include "support/Sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"

namespace fs = std::filesystem;

namespace tavo::test {

Sandbox::Sandbox() : previous_(platform::sandboxRoot()) {
    std::string templ = (fs::temp_directory_path() / "tavo-test-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("cannot create a sandbox folder");
    root_ = templ;
    platform::setSandboxRoot(root_);
    fs::create_directories(home());
}

Sandbox::~Sandbox() {
    platform::setSandboxRoot(previous_);
    std::error_code ec;
    if (!std::getenv("TAVO_KEEP_SANDBOX"))
        fs::remove_all(root_, ec);
}

std::string Sandbox::home() const {
    return platform::SystemInfo::homeDirectory().value_or(root_ + "/home/nobody");
}

std::string Sandbox::path(const std::string& absolute) const { return root_ + absolute; }

void Sandbox::writeFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string Sandbox::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Sandbox::exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

LogCapture::LogCapture(std::string path, const std::string& appName) : path_(std::move(path)) {
    Log::defaultLog().flush();
    Log::defaultLog().setLogFilePath(path_, appName);
}

LogCapture::~LogCapture() {
    Log::defaultLog().flush();
    Log::defaultLog().setLogFilePath("", "");
    Log::defaultLog().applyLogMode(kLogModeNormal);
}

std::string LogCapture::text() const {
    Log::defaultLog().flush();
    return Sandbox::readFile(path_);
}

std::string bundlesDirectory() {
    const char* dir = std::getenv("TAVO_TEST_BUNDLES");
    return dir ? dir : TAVO_TEST_BUNDLES_DIR;
}

}  // namespace tavo::test
