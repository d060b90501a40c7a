// The update side of the controller, second half: the worker that checks
// and extracts the downloaded archive, the install step that moves the new
// version into the application root with one administrator prompt, and
// the relaunch of the new version.
#include <filesystem>

#include "foundation/Clock.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/NotificationUtil.h"
#include "foundation/Process.h"
#include "service/ResultCodes.h"
#include "update/ProgramController.h"
#include "update/ProgramControllerRun.h"
#include "update/UpdateArchive.h"
#include "update/UpdateNotifications.h"
#include "update/UpdateSignature.h"
#include "update/UpdateVersion.h"

namespace fs = std::filesystem;

namespace tavo {

namespace {

constexpr const char* kUnzip = "/usr/bin/unzip";
constexpr int kWaitPasses = 4;
constexpr int kFirstPassTicks = 5;
constexpr double kWaitTick = 0.2;
constexpr int kProgressTop = 90;

void postProgress(UserInfo userInfo) {
    NotificationCenter::defaultCenter().post(kPCNotificationKeyUpdateProgress, std::move(userInfo));
}

std::string removeFolder(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    return ec ? ec.message() : std::string("unknown");
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words)
        text += (text.empty() ? "" : " ") + Process::shellQuote(word);
    return text;
}

}  // namespace

void ProgramController::startUpdate() {
    isStartUpdate_ = true;
    ILog("Starting update");
    auto queue = apiClient_.serialDispatchQueue();
    TAVO_DLOG("Serial dispatch queue label = [%s]", queue ? queue->label() : std::string("(none)"));
    std::weak_ptr<ProgramController> weak = weak_from_this();
    auto work = [weak] {
        if (auto self = weak.lock())
            self->startFileCopy();
    };
    if (queue)
        queue->async(std::move(work));
    else
        work();
}

void ProgramController::failUpdate(const std::string& message) {
    ILog("Failed to perfrom command show message: %@", message);
    ELog("code=%@, message=%@", kMsgE2009, kMsgE2009Text);
    NotificationUtil::deliverNotificationWithSubtile(localized("Could not update"));
    postProgress({{kPCUserInfoKeyCopyErrorOccurred, true}});
}

void ProgramController::startFileCopy() {
    ILog("Start update process");
    postProgress({{kPCUserInfoKeyIsCopyStarted, true}});
    auto run = std::make_shared<Run>();
    run->currentVersion = Const::getCurrentAppVersion();
    std::string message;
    const auto config = Config::userConfig();
    const auto* stored = config ? plistGet<std::string>(*config, kConfigUpdateVersion) : nullptr;
    if (!stored || stored->empty()) {
        isStartUpdate_ = false;
        ILog("Cancel update process because of no update version");
        run->success = false;
    } else if (!UpdateVersion::isPlain(*stored)) {
        message = format("Refused update version: %@", *stored);
        run->success = false;
    } else {
        run->version = *stored;
    }
    run->archivePath = getTemporaryUpdaterPath(run->version);
    run->temporaryDirectory = Const::applicationUpdateTempolaryDirectoryPath().value_or("");
    const std::string name = Const::applicationDirectoryNameWithVersion(run->version);
    const std::string extracted = run->temporaryDirectory + name;

    auto refuse = [&](const std::string& why) {
        message = why;
        run->success = false;
    };
    if (run->success) {
        ILog("Extracting updater for version: %@", run->version);
        TAVO_DLOG("updateFilePath: %@", run->archivePath);
        TAVO_DLOG("unzipTempDestPath: %@", run->temporaryDirectory);
        int status = 0;
        if (const std::string problem =
                UpdateSignature::fileProblem(run->archivePath, updatePublicKey());
            !problem.empty()) {
            ELog("code=%@, message=%@: file: %@: Description: [%@]", kMsgE2010, kMsgE2010Text,
                 run->archivePath, problem);
            std::error_code ec;
            fs::remove(run->archivePath, ec);
            fs::remove(UpdateSignature::signaturePath(run->archivePath), ec);
            refuse("Failed to verify updater: " + problem);
        } else if (const auto entries = UpdateArchive::listEntries(run->archivePath, &status);
                   !entries) {
            ILog("Could not extract updater: %@", run->archivePath);
            refuse(format("Failed to expand updater: status: %d", status));
        } else if (const std::string bad = UpdateArchive::entriesProblem(*entries, name);
                   !bad.empty()) {
            ILog("Could not extract updater: %@", run->archivePath);
            refuse("Refused updater: " + bad);
        } else {
            // What an earlier run left there is not this archive's content.
            removeFolder(extracted);
            const std::vector<std::string> args = {"-qq", "-o", run->archivePath, "-d",
                                                   run->temporaryDirectory};
            TAVO_DLOG("unzipCommand: %@", joined([&] {
                          std::vector<std::string> all{kUnzip};
                          all.insert(all.end(), args.begin(), args.end());
                          return all;
                      }()));
            const ProcessResult result = Process::run(kUnzip, args, true);
            status = result.started ? result.exitStatus : -1;
            if (status != 0) {
                ILog("Could not extract updater: %@", run->archivePath);
                removeFolder(extracted);
                refuse(format("Failed to expand updater: status: %d", status));
            } else if (const std::string links = UpdateArchive::linksProblem(extracted);
                       !links.empty()) {
                ILog("Could not extract updater: %@", run->archivePath);
                removeFolder(extracted);
                refuse("Refused updater: " + links);
            }
        }
    }
    if (run->success) {
        const std::string bundle = extracted + "/" + kClientAppName + "." + kAppFileType;
        bool found = false;
        for (int pass = 0, ticks = kFirstPassTicks; pass < kWaitPasses && !found;
             ++pass, ticks *= 2) {
            for (int tick = 0; tick < ticks; ++tick) {
                TAVO_DLOG("waiting unzipping: waitTryCount=%d, waitLoopCount=%d, isSucceed=%@",
                          pass, tick, run->success ? "OK" : "NG");
                Clock::current().sleepFor(seconds(kWaitTick));
                postProgress({{kPCUserInfoKeyProgress, (tick + 1) * kProgressTop / ticks}});
            }
            found = FileUtil::exists(bundle);
        }
        if (!found)
            run->success = false;
    }
    if (run->success) {
        ILog("Perform updater for version: %@", run->version);
        std::weak_ptr<ProgramController> weak = weak_from_this();
        MainQueue::main().async([weak, run] {
            if (auto self = weak.lock())
                self->performInstall(run);
        });
        postProgress({{kPCUserInfoKeyIsCopyFinished, true}});
    } else {
        failUpdate(message);
    }
    isStartUpdate_ = false;
    ILog("End update process");
}

}  // namespace tavo
