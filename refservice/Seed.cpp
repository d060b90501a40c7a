#include "refservice/Seed.h"

#include <filesystem>

#include "refservice/ArchiveMaker.h"
#include "refservice/ArchiveSigner.h"
#include "refservice/CatalogueBuilder.h"
#include "refservice/FontFiles.h"
#include "refservice/Params.h"
#include "refservice/ServiceState.h"

namespace fs = std::filesystem;

namespace tavo::refservice {

namespace {

bool loadCatalogue(const nlohmann::json& seed, ServiceState& state, const FontFiles& files,
                   const std::string& baseDir, std::string* error) {
    CatalogueBuilder builder(files);
    for (const auto& spec : seed.value("fonts", nlohmann::json::array())) {
        auto font = builder.fromSpec(spec, baseDir, std::nullopt, error);
        if (!font)
            return false;
        state.putFont(std::move(*font));
    }
    if (auto system = seed.find("systemFonts"); system != seed.end() && *system != false) {
        const nlohmann::json options = system->is_object() ? *system : nlohmann::json::object();
        for (auto& font : builder.systemFonts(options.value("firstFontId", 1001L),
                                              options.value("version", std::string("1.000")),
                                              options.value("limit", std::size_t{0})))
            state.putFont(std::move(font));
    }
    if (auto synthetic = seed.find("syntheticFonts"); synthetic != seed.end()) {
        const nlohmann::json options =
            synthetic->is_object() ? *synthetic : nlohmann::json{{"count", *synthetic}};
        const std::size_t count = options.value("count", std::size_t{0});
        auto fonts = builder.synthetic(count, options.value("firstFontId", 500001L),
                                       options.value("version", std::string("1.000")));
        if (fonts.size() != count) {
            *error = "could not make the synthetic fonts (no installed font to copy)";
            return false;
        }
        for (auto& font : fonts)
            state.putFont(std::move(font));
    }
    return true;
}

void grantFonts(const nlohmann::json& entry, Account& account, ServiceState& state) {
    const auto fonts = entry.find("fonts");
    if (fonts == entry.end())
        return;
    if (fonts->is_string() && *fonts == "all") {
        const bool activate = entry.value("activateAll", true);
        for (const CatalogueFont& font : state.catalogue())
            account.fonts.push_back(state.grant(font.fontId, activate));
        return;
    }
    for (const auto& held : *fonts) {
        AccountFont font;
        font.fontId = Params::text(held, "fontId").value_or("");
        font.userFontId = Params::text(held, "userFontId").value_or(state.newIdentifier("", 12));
        font.activate = held.value("activate", true);
        font.available = held.value("available", true);
        font.needFontVersionUpdate = held.value("needFontVersionUpdate", false);
        if (held.contains("contractIds"))
            font.contractIds = held["contractIds"];
        account.fonts.push_back(std::move(font));
    }
}

void registerDevices(const nlohmann::json& entry, Account& account, ServiceState& state) {
    for (const auto& spec : entry.value("devices", nlohmann::json::array())) {
        Device device;
        device.deviceId = Params::text(spec, "deviceId").value_or(state.newIdentifier("", 16));
        device.deviceKey = Params::text(spec, "deviceKey").value_or(state.newIdentifier("", 32));
        device.hostname = spec.value("hostname", std::string());
        device.osUserName = spec.value("osUserName", std::string());
        device.osType = spec.value("osType", std::string("Mac"));
        device.osVersion = spec.value("osVersion", std::string());
        account.devicesInUse.push_back({device.deviceId, state.newIdentifier("", 12)});
        state.devices[device.deviceId] = std::move(device);
    }
}

}  // namespace

std::optional<Account> Seed::parseAccount(const nlohmann::json& entry, std::string* error) {
    Account account;
    account.mailAddress = Params::text(entry, "mailAddress").value_or("");
    account.password = Params::text(entry, "password").value_or("");
    if (account.mailAddress.empty() || account.password.empty()) {
        *error = "an account needs a mailAddress and a password";
        return std::nullopt;
    }
    account.firstName = entry.value("firstName", std::string());
    account.lastName = entry.value("lastName", std::string());
    account.locked = entry.value("locked", false);
    account.contractExpired = entry.value("contractExpired", false);
    account.notAuthorized = entry.value("notAuthorized", false);
    account.twoFactorCode = entry.value("twoFactorCode", std::string());
    account.maxDevices = entry.value("maxDevices", 2);
    account.contractIds = entry.value("contractIds", nlohmann::json::array());
    const nlohmann::json notice = entry.value("notice", nlohmann::json::object());
    account.notice.total = notice.value("total", 0L);
    account.notice.existsLatestNotice = notice.value("existsLatestNotice", false);
    return account;
}

bool Seed::addAccount(const nlohmann::json& entry, ServiceState& state, std::string* error) {
    auto account = parseAccount(entry, error);
    if (!account)
        return false;
    Account& stored = state.putAccount(std::move(*account));
    grantFonts(entry, stored, state);
    registerDevices(entry, stored, state);
    return true;
}

bool Seed::applyClientApps(const nlohmann::json& entry, ClientAppsInfo& info,
                           const std::string& baseDir, std::string* error) {
    info.appId = entry.value("appId", info.appId);
    info.specifiedVersion = entry.value("specifiedVersion", info.specifiedVersion);
    if (entry.contains("offeredVersion")) {
        info.offeredVersion = entry.value("offeredVersion", std::string());
        info.archive.reset();
    }
    info.isForcedUpdate = entry.value("isForcedUpdate", info.isForcedUpdate);
    if (entry.contains("signature")) {
        const std::string mode = entry.value("signature", std::string());
        if (mode != "valid" && mode != "bad" && mode != "missing") {
            *error = "signature must be valid, bad or missing";
            return false;
        }
        info.signatureMode = mode;
    }
    if (info.offeredVersion.empty() || info.archive)
        return true;
    std::optional<std::string> archive;
    if (auto path = Params::text(entry, "archive")) {
        fs::path file(*path);
        if (file.is_relative() && !baseDir.empty())
            file = fs::path(baseDir) / file;
        archive = FontFiles::readFile(file.string());
        if (!archive) {
            *error = "cannot read the archive " + file.string();
            return false;
        }
    } else {
        archive = ArchiveMaker::placeholder(info.offeredVersion);
        if (!archive) {
            *error = "cannot make an archive for version " + info.offeredVersion;
            return false;
        }
    }
    std::string keyFile = ArchiveSigner::defaultKeyFile();
    if (auto path = Params::text(entry, "signingKey")) {
        fs::path file(*path);
        if (file.is_relative() && !baseDir.empty())
            file = fs::path(baseDir) / file;
        keyFile = file.string();
    }
    auto signature = ArchiveSigner::signFile(keyFile, *archive);
    if (!signature) {
        *error = "cannot sign the archive with " + keyFile;
        return false;
    }
    info.signature = std::move(*signature);
    info.archive = std::make_shared<const std::string>(std::move(*archive));
    return true;
}

bool Seed::apply(const nlohmann::json& seed, ServiceState& state, const FontFiles& files,
                 const std::string& baseDir, std::string* error) {
    if (!seed.is_object()) {
        *error = "the seed is not a JSON object";
        return false;
    }
    try {
        const nlohmann::json settings = seed.value("settings", nlohmann::json::object());
        state.settings.accessTokenLifetime =
            std::chrono::seconds(settings.value("accessTokenLifetime", 3600L));
        state.settings.refreshTokenLifetime =
            std::chrono::seconds(settings.value("refreshTokenLifetime", 30L * 24 * 3600));
        state.settings.twoFactorLifetime =
            std::chrono::seconds(settings.value("twoFactorLifetime", 600L));
        state.settings.eventHistory = settings.value("eventHistory", std::size_t{10000});
        state.lastEventId = seed.value("lastEventId", 0L);
        if (!loadCatalogue(seed, state, files, baseDir, error))
            return false;
        for (const auto& entry : seed.value("accounts", nlohmann::json::array())) {
            if (!addAccount(entry, state, error))
                return false;
        }
        if (seed.contains("clientApps") &&
            !applyClientApps(seed["clientApps"], state.clientApps, baseDir, error))
            return false;
    } catch (const nlohmann::json::exception& e) {
        *error = std::string("malformed seed: ") + e.what();
        return false;
    }
    return true;
}

bool Seed::readFile(const std::string& path, nlohmann::json* seed, std::string* error) {
    auto text = FontFiles::readFile(path);
    if (!text) {
        *error = "cannot read the seed " + path;
        return false;
    }
    *seed = nlohmann::json::parse(*text, nullptr, false);
    if (seed->is_discarded()) {
        *error = "the seed " + path + " is not JSON";
        return false;
    }
    return true;
}

}  // namespace tavo::refservice
