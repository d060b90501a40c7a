#include "e2e/ResidentFixture.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <thread>

#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/CryptorUtil.h"
#include "foundation/PlistValue.h"
#include "foundation/Process.h"
#include "platform/linux/SandboxFontconfig.h"
#include "service/FontsApi.h"

namespace tavo::test {

void ResidentFixture::SetUp() {
    ServiceFixture::SetUp();
    if (HasFatalFailure())
        return;
    signIn();
    if (HasFatalFailure())
        return;
    storeServerAddresses();
    storeSignIn(*client.deviceId(), *client.refreshToken(), kDeviceKey);
}

void ResidentFixture::TearDown() {
    for (auto& process : processes)
        if (process->running())
            process->stop();
    if (HasFailure()) {
        std::cerr << "---- TAVO.log\n" << logText() << "\n";
        for (auto& process : processes)
            std::cerr << "---- output\n" << process->output() << "\n";
    }
    ServiceFixture::TearDown();
}

ResidentProcess& ResidentFixture::launch(const std::vector<std::string>& arguments) {
    processes.push_back(std::make_unique<ResidentProcess>(sandbox.root(), sandbox.home()));
    EXPECT_TRUE(processes.back()->start(arguments));
    return *processes.back();
}

std::string ResidentFixture::logText() const {
    const auto path = Const::applicationLogPath();
    return path ? Sandbox::readFile(*path) : std::string();
}

bool ResidentFixture::eventually(const std::function<bool()>& predicate,
                                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool ResidentFixture::logContains(const std::string& text) const {
    return logText().find(text) != std::string::npos;
}

bool ResidentFixture::waitForLog(const std::string& text, std::chrono::milliseconds timeout) const {
    return eventually([&] { return logContains(text); }, timeout);
}

std::string ResidentFixture::fontPath(const std::string& fileName) const {
    return Const::userFontDirectoryPath().value_or("") + "/" + fileName;
}

// A stored font counts as listed when fontconfig lists a file that is the
// same file (its hard link in a shard folder).
bool ResidentFixture::fontconfigLists(const std::string& path) const {
    const auto result = Process::run(
        "env", {"FONTCONFIG_FILE=" + platform::SandboxFontconfig::configPath(sandbox.root()),
                "fc-list", ":", "file"});
    std::istringstream lines(result.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t end = line.rfind(':');
        const std::string file = end == std::string::npos ? line : line.substr(0, end);
        std::error_code error;
        if (file == path || std::filesystem::equivalent(file, path, error))
            return true;
    }
    return false;
}

std::optional<long long> ResidentFixture::storedLastEventId() const {
    const auto config = Config::userConfig();
    if (!config)
        return std::nullopt;
    if (const auto* id = plistGet<std::int64_t>(*config, kConfigLastEventID))
        return *id;
    return std::nullopt;
}

nlohmann::json ResidentFixture::admin(const std::string& path, const nlohmann::json& body) {
    httplib::Client http("127.0.0.1", service.apiPort());
    auto result = http.Post(path, body.dump(), "application/json");
    EXPECT_TRUE(result && result->status == 200) << path;
    return result ? nlohmann::json::parse(result->body, nullptr, false) : nlohmann::json();
}

std::vector<Fonts> ResidentFixture::accountFonts() {
    std::optional<Error> error;
    auto page = FontsApi(client).getFontsWithContains(kContainsAvailableFonts, 1000, 0, &error);
    auto fonts = page.data && page.data->fonts ? *page.data->fonts : std::vector<Fonts>{};
    std::sort(fonts.begin(), fonts.end(), [](const Fonts& a, const Fonts& b) {
        return std::stol(a.fontId.value_or("0")) < std::stol(b.fontId.value_or("0"));
    });
    return fonts;
}

}  // namespace tavo::test
