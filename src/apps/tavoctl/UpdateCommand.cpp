#include "UpdateCommand.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "ApiCommand.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/SerialQueue.h"
#include "foundation/TimeScale.h"
#include "platform/Authorization.h"
#include "platform/Bundle.h"
#include "platform/Workspace.h"
#include "platform/linux/HeadlessWindows.h"
#include "platform/linux/ProcWorkspace.h"
#include "platform/linux/ProcessAuthorization.h"
#include "service/ClientAppsApi.h"
#include "service/OVError.h"
#include "update/ProgramController.h"
#include "update/UpdateNotifications.h"

namespace tavo::ctl {

namespace {

using namespace std::chrono_literals;

constexpr int kBarWidth = 24;
constexpr auto kApplyWait = std::chrono::minutes(5);
constexpr auto kDownloadWait = std::chrono::minutes(30);

int usage(std::ostream& err) {
    err << "usage: tavoctl update [--check | --apply]\n";
    return 2;
}

std::string configValue(const char* key) {
    const auto config = Config::userConfig();
    const auto* text = config ? plistGet<std::string>(*config, key) : nullptr;
    return text && !text->empty() ? *text : std::string();
}

bool configFlag(const char* key) {
    const auto config = Config::userConfig();
    const auto* flag = config ? plistGet<bool>(*config, key) : nullptr;
    return flag && *flag;
}

bool signedIn(const ApiClient& client) {
    return client.accessToken() && !client.accessToken()->empty();
}

// A bar redrawn in place on a terminal; elsewhere a line every tenth.
class ProgressBar {
public:
    ProgressBar(std::ostream& out, std::string label)
        : out_(out), label_(std::move(label)), terminal_(::isatty(STDOUT_FILENO) == 1) {}
    void show(int percent) {
        percent = std::clamp(percent, 0, 100);
        if (terminal_) {
            const int filled = percent * kBarWidth / 100;
            out_ << "\r" << label_ << " [" << std::string(filled, '#')
                 << std::string(kBarWidth - filled, ' ') << "] " << percent << "%" << std::flush;
            drawn_ = true;
        } else if (percent / 10 > last_ / 10 || last_ < 0) {
            out_ << label_ << " " << percent << "%\n";
        }
        last_ = std::max(last_, percent);
    }
    void finish() {
        if (drawn_)
            out_ << "\n";
        drawn_ = false;
    }

private:
    std::ostream& out_;
    std::string label_;
    bool terminal_;
    bool drawn_ = false;
    int last_ = -1;
};

int showStatus(std::ostream& out, ApiClient& client) {
    const std::string running = Const::getCurrentAppVersion();
    const std::string specified = configValue(kConfigSpecifiedVersion);
    const std::string downloaded = configValue(kConfigUpdateVersion);
    const bool archive =
        !downloaded.empty() &&
        FileUtil::exists(Const::applicationUpdateFilePathWithVersion(downloaded).value_or(""));
    out << "running version: " << running << "\n";
    out << "specified version: " << (specified.empty() ? "(none)" : specified) << "\n";
    if (signedIn(client)) {
        ClientAppsApi api(client);
        std::optional<Error> error;
        const ClientAppsBase info = api.getClientAppsUpdateInfoWithError(&error);
        if (!OVError::checkApiError(error, info.code, info.message))
            out << "offered version: (the server could not be asked)\n";
        else if (!info.data || !info.data->version)
            out << "offered version: (none)\n";
        else
            out << "offered version: " << *info.data->version
                << (info.data->isForcedUpdate.value_or(false) ? " (forced)" : "") << "\n";
    } else {
        out << "offered version: (not signed in)\n";
    }
    out << "downloaded version: "
        << (downloaded.empty() ? "(none)" : downloaded + (archive ? "" : " (archive missing)"))
        << "\n";
    out << "forced: " << (configFlag(kConfigForcedUpdate) ? "yes" : "no") << "\n";
    return 0;
}

int check(std::ostream& out, std::ostream& err, ApiClient& client,
          const std::shared_ptr<ProgramController>& controller) {
    if (!signedIn(client)) {
        err << "tavoctl update: no signed-in user: sign in with TAVO first\n";
        return 2;
    }
    auto bar = std::make_shared<ProgressBar>(out, "Downloading");
    std::atomic<int> percent{-1};
    controller->setDownloadProgressHandler([&percent](std::int64_t written, std::int64_t total) {
        if (total > 0)
            percent = static_cast<int>(written * 100 / total);
    });
    bool started = false;
    client.serialDispatchQueue()->sync(
        [&] { started = controller->nextVersionDownloadInBackground(); });
    const std::string version = controller->clientAppsVersion();
    if (started) {
        int shown = -1;
        const auto deadline = std::chrono::steady_clock::now() + kDownloadWait;
        while (!MainQueue::main().runUntil([&] { return !controller->isUpdaterDownloading(); },
                                           100ms) &&
               std::chrono::steady_clock::now() < deadline) {
            if (percent != shown)
                bar->show(shown = percent);
        }
        bar->show(100);
        bar->finish();
    }
    controller->setDownloadProgressHandler({});
    const std::string downloaded = configValue(kConfigUpdateVersion);
    if (started && downloaded != version) {
        err << "tavoctl update: the download of version " << version
            << " failed or its signature did not match (see the log)\n";
        return 1;
    }
    if (started)
        out << "Downloaded version " << version
            << (controller->clientAppsForcedUpdate() ? " (forced)" : "") << "\n";
    else
        out << "No new version to download\n";
    return 0;
}

// Asks the resident application of this version to end: the new version
// runs in its place.
void endRunningApplications(const std::string& version) {
    const auto workspace = platform::Workspace::sharedWorkspace();
    for (const auto& app : workspace->runningApplications()) {
        if (app.processIdentifier == ::getpid() || app.bundlePath.empty() ||
            !app.executablePath.ends_with(std::string("/") + kClientAppName))
            continue;
        const platform::Bundle bundle(app.bundlePath);
        if (bundle.identifier() == platform::Bundle::mainBundle()->identifier() &&
            bundle.shortVersion() == version)
            ::kill(app.processIdentifier, SIGTERM);
    }
}

int apply(std::ostream& out, std::ostream& err,
          const std::shared_ptr<ProgramController>& controller) {
    const std::string version = configValue(kConfigUpdateVersion);
    const std::string running = Const::getCurrentAppVersion();
    if (version.empty() || version == running ||
        !FileUtil::exists(controller->getTemporaryUpdaterPath(version))) {
        err << "tavoctl update: no downloaded update to apply (run tavoctl update --check)\n";
        return 2;
    }
    if (!controller->checkAccountPrivilege()) {
        err << "tavoctl update: Start the app with administrator privileges\n";
        return 2;
    }
    std::atomic<bool> succeeded{false};
    std::atomic<bool> failed{false};
    std::atomic<int> percent{0};
    auto& center = NotificationCenter::defaultCenter();
    const auto token =
        center.addObserver(kPCNotificationKeyUpdateProgress, [&](const Notification& note) {
            if (note.userInfo.count(kPCUserInfoKeyCopyErrorOccurred))
                failed = true;
            if (const auto it = note.userInfo.find(kPCUserInfoKeyProgress);
                it != note.userInfo.end() && it->second.type() == typeid(int))
                percent = std::any_cast<int>(it->second);
            if (note.userInfo.count(kPCUserInfoKeyIsCopyFinished))
                percent = 100;
        });
    controller->setTerminateHandler([&succeeded, running] {
        endRunningApplications(running);
        succeeded = true;
    });
    out << "Updating to version " << version << "\n";
    ProgressBar bar(out, "Extracting");
    controller->startUpdate();
    int shown = -1;
    const auto deadline = std::chrono::steady_clock::now() + kApplyWait;
    while (!MainQueue::main().runUntil([&] { return succeeded || failed; }, 100ms) &&
           std::chrono::steady_clock::now() < deadline) {
        if (percent != shown)
            bar.show(shown = percent);
    }
    bar.finish();
    center.removeObserver(token);
    if (!succeeded) {
        err << "tavoctl update: Could not update (see the log)\n";
        return 1;
    }
    out << "Updated to version " << version << "; it runs now\n";
    return 0;
}

}  // namespace

int runUpdateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     ApiClient& client, const std::shared_ptr<ProgramController>& controller) {
    if (args.size() > 1)
        return usage(err);
    if (!client.serialDispatchQueue())
        client.setSerialDispatchQueue(std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue"));
    if (args.empty())
        return showStatus(out, client);
    if (args[0] == "--check")
        return check(out, err, client, controller);
    if (args[0] == "--apply")
        return apply(out, err, controller);
    return usage(err);
}

int runUpdateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() > 1 || (args.size() == 1 && args[0] != "--check" && args[0] != "--apply"))
        return usage(err);
    TimeScale::installFromEnvironment();
    ApiClient& client = ApiClient::defaultApiClient();
    configureClientFromUserConfig(client);
    platform::Workspace::setSharedWorkspace(platform::ProcWorkspace::create());
    platform::Authorization::setDefaultAuthorization(
        std::make_shared<platform::ProcessAuthorization>());
    const auto controller = ProgramController::sharedInstance();
    controller->setWindows(std::make_shared<platform::HeadlessWindows>());
    return runUpdateCommand(args, out, err, client, controller);
}

}  // namespace tavo::ctl
