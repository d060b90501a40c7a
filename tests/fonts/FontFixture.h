#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "FakeFontManager.h"
#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/SerialQueue.h"
#include "refservice/ServiceState.h"
#include "service/FontsApi.h"
#include "service/ServiceFixture.h"

namespace tavo::test {

// A signed-in client against the reference service, a font controller of
// its own with a fake font manager, and a record of the notifications the
// controller posts.
class FontFixture : public ServiceFixture {
protected:
    // An account under contract that holds three fonts of the machine, active.
    nlohmann::json seed() const override { return contractedAccountSeed(); }

    void SetUp() override {
        ServiceFixture::SetUp();
        if (HasFatalFailure())
            return;
        signIn();
        if (HasFatalFailure())
            return;
        queue = std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue");
        client.setSerialDispatchQueue(queue);
        controller = FontManagementController::create(client, fontManager);
        for (const char* name : {kFMUpdateProgressNotification, kFMCommonMessageNotification})
            tokens.push_back(NotificationCenter::defaultCenter().addObserver(
                name, [this](const Notification& n) {
                    std::lock_guard lock(notificationsMutex);
                    notifications.push_back(n);
                }));
    }

    void TearDown() override {
        fontManager->release();  // a test that failed while holding it
        if (controller) {
            settle();
            controller->waitForActivationBatches();
            controller->store().flush();
        }
        for (auto token : tokens)
            NotificationCenter::defaultCenter().removeObserver(token);
        ServiceFixture::TearDown();
    }

    std::string fontFolder() const { return Const::userFontDirectoryPath().value_or(""); }
    std::string fontPath(const std::string& fileName) const {
        return fontFolder() + "/" + fileName;
    }

    // Runs a synchronization on the serial queue and waits until it and its
    // downloads are over (or the chain gave up).
    bool synchronize(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        auto c = controller;
        queue->async([c] { c->syncSettingedFontActiveDeactiveOnMembersSite(); });
        return waitForChain(timeout);
    }

    // Waits until no synchronization runs, no download is in flight and the
    // serial queue and main queue are idle.
    bool waitForChain(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const bool done = MainQueue::main().runUntil(
            [&] {
                if (controller->chainState().isFontDownloading)
                    return false;
                queue->sync([] {});
                return !controller->chainState().isFontDownloading &&
                       !controller->syncGate().inFontSynchroizing();
            },
            timeout);
        settle();
        return done;
    }

    // Lets queued work of the serial and main queues run.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            queue->sync([] {});
            MainQueue::main().drain();
        }
    }

    std::vector<Notification> posted(const std::string& name, const std::string& key = {}) {
        std::lock_guard lock(notificationsMutex);
        std::vector<Notification> found;
        for (const auto& n : notifications)
            if (n.name == name && (key.empty() || n.userInfo.count(key)))
                found.push_back(n);
        return found;
    }

    nlohmann::json admin(const std::string& path, const nlohmann::json& body) {
        httplib::Client http("127.0.0.1", service.apiPort());
        auto result = http.Post(path, body.dump(), "application/json");
        EXPECT_TRUE(result) << path;
        return result ? nlohmann::json::parse(result->body, nullptr, false) : nlohmann::json();
    }

    // The logged requests of font files.
    std::size_t fontFileRequests(const std::string& fontId = {}) {
        std::size_t n = 0;
        for (const auto& entry : requests(""))
            n += entry["path"].get<std::string>().rfind("/api/v1/fonts/" + fontId, 0) == 0;
        return n;
    }

    // The account's font entries as the API lists them.
    std::vector<Fonts> accountFonts() {
        FontsApi api(client);
        std::optional<Error> error;
        auto page = api.getFontsWithContains(kContainsAvailableFonts, 1000, 0, &error);
        return page.data && page.data->fonts ? *page.data->fonts : std::vector<Fonts>{};
    }

    // The data of a web-side event for a catalogue font, as the stream carries it.
    std::string eventData(const std::string& fontId) {
        auto& state = *service.context()->state;
        std::lock_guard lock(state.mutex);
        const auto* font = state.findFont(fontId);
        return nlohmann::json{
            {"fontId", font->fontId},     {"displayFontName", font->displayFontName},
            {"fileName", font->fileName}, {"fileSize", font->fileSize},
            {"version", font->version},   {"isFreemium", font->isFreemium},
            {"contractIds", {"c-1"}}}
            .dump();
    }

    void onWeb(bool activate, const std::string& fontId) {
        UserInfo info{{activate ? "font-activate" : "font-deactivate", std::string()},
                      {"jsonData", eventData(fontId)}};
        auto c = controller;
        queue->sync([&] {
            if (activate)
                c->activateFontOnWeb(info);
            else
                c->deactivateFontOnWeb(info);
        });
    }

    // Writes records straight into the list file, as an earlier run left them.
    void writeList(const PlistDict& list) {
        FileUtil::createDirectories(FileUtil::parentPath(*Config::fontListPath()));
        ASSERT_TRUE(Config::writeFontList(list));
        controller->store().reload();
    }

    static PlistDict downloadingRecord(const std::string& fileName,
                                       const std::string& name = "A font") {
        PlistDict r = FontManagementController::createFontKeyList();
        r[kFontFileName] = fileName;
        r[kFontDisplayFontName] = name;
        r[kFontActivate] = true;
        r[kFontStatusType] = kFontStatusDownloading;
        return r;
    }

    std::optional<PlistDict> record(const std::string& fontId) {
        return controller->store().record(fontId);
    }

    static std::string text(const PlistDict& record, const char* key) {
        const auto* value = plistGet<std::string>(record, key);
        return value ? *value : std::string();
    }

    std::shared_ptr<FakeFontManager> fontManager = std::make_shared<FakeFontManager>();
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<FontManagementController> controller;
    std::mutex notificationsMutex;
    std::vector<Notification> notifications;
    std::vector<NotificationCenter::Token> tokens;
};

}  // namespace tavo::test
