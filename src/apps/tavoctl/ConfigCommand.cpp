#include "ConfigCommand.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "foundation/Config.h"
#include "foundation/DateUtil.h"

namespace tavo::ctl {

namespace {

using nlohmann::json;

const std::set<std::string> kEncryptedKeys = {kConfigDeviceKey,   kConfigDeviceId,
                                               kConfigRefreshTokens, kConfigMailAddress,
                                               kConfigLastName,    kConfigFirstName};

std::string masked(const std::string& text) {
    // Count characters, not bytes, so a name is never cut inside one.
    size_t end = 0;
    for (int chars = 0; end < text.size() && chars < 4; ++chars) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            ++end;
    }
    return text.substr(0, end) + "…";
}

std::string hex(const PlistData& data) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto byte : data) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

json toJson(const PlistValue& value) {
    struct Visitor {
        json operator()(const std::string& s) const { return s; }
        json operator()(const PlistData& d) const { return "<data " + hex(d) + ">"; }
        json operator()(bool b) const { return b; }
        json operator()(std::int64_t i) const { return i; }
        json operator()(double d) const { return d; }
        json operator()(const PlistDate& date) const {
            return DateUtil::getFormatStringFromDate(date, kDefaultDateFormat);
        }
        json operator()(const PlistArray& a) const {
            json out = json::array();
            for (const auto& item : a)
                out.push_back(toJson(item));
            return out;
        }
        json operator()(const PlistDict& d) const {
            json out = json::object();
            for (const auto& [key, item] : d)
                out[key] = toJson(item);
            return out;
        }
    };
    return std::visit(Visitor{}, value.variant());
}

json userConfigJson(const PlistDict& config, bool reveal) {
    json out = json::object();
    for (const auto& [key, value] : config) {
        if (!kEncryptedKeys.count(key) || !value.is<PlistData>()) {
            out[key] = toJson(value);
            continue;
        }
        const auto plain = Config::decryptedValue(config, key);
        if (!plain)
            out[key] = "<undecryptable>";
        else
            out[key] = reveal || plain->empty() ? *plain : masked(*plain);
    }
    return out;
}

json fileJson(const std::optional<std::string>& path, const std::optional<PlistDict>& contents,
              const std::function<json(const PlistDict&)>& render) {
    json out = json::object();
    out["path"] = path ? json(*path) : json(nullptr);
    out["contents"] = contents ? render(*contents) : json(nullptr);
    return out;
}

}  // namespace

int runConfigCommand(std::ostream& out, bool reveal) {
    json doc = json::object();
    doc["userConfig"] = fileJson(Config::userConfigPath(), Config::userConfig(),
                                 [reveal](const PlistDict& d) { return userConfigJson(d, reveal); });
    const auto plain = [](const PlistDict& d) { return toJson(d); };
    doc["serverConfig"] = fileJson(Config::serverConfigPath(), Config::serverConfig(), plain);
    doc["fontList"] = fileJson(Config::fontListPath(), Config::fontList(), plain);
    out << doc.dump(2) << '\n';
    return 0;
}

}  // namespace tavo::ctl
