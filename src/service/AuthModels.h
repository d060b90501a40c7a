#pragma once

#include <optional>
#include <string>
#include <vector>

#include "service/BaseModel.h"
#include "service/Envelope.h"

namespace tavo {

// Tokens of POST /login.
struct Login : BaseModel {
    std::optional<std::string> accessToken;
    std::optional<std::string> refreshToken;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Login&) const = default;
};

// Tokens of POST /auth2fact.
struct Auth2Fact : BaseModel {
    std::optional<std::string> accessToken;
    std::optional<std::string> refreshToken;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Auth2Fact&) const = default;
};

// The new access token of POST /token.
struct Token : BaseModel {
    std::optional<std::string> accessToken;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Token&) const = default;
};

// Tokens of POST /refresh-token.
struct RefreshToken : BaseModel {
    std::optional<std::string> accessToken;
    std::optional<std::string> refreshToken;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const RefreshToken&) const = default;
};

// The device id issued to this installation by POST /deviceId.
struct DeviceId : BaseModel {
    std::optional<std::string> deviceId;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const DeviceId&) const = default;
};

// One device registered to the account (GET /devices).
struct Devices : BaseModel {
    std::optional<std::string> userDeviceId;
    std::optional<std::string> deviceId;
    std::optional<std::string> hostname;
    std::optional<std::string> osUserName;
    std::optional<std::string> osType;
    std::optional<std::string> osVersion;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Devices&) const = default;
};

// Tokens issued when this device is taken into use (POST /device/in-use).
struct Device : BaseModel {
    std::optional<std::string> accessToken;
    std::optional<std::string> refreshToken;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Device&) const = default;
};

using LoginBase = Envelope<Login>;
using Auth2FactBase = Envelope<Auth2Fact>;
using TokenBase = Envelope<Token>;
using RefreshTokenBase = Envelope<RefreshToken>;
using DeviceIdBase = Envelope<DeviceId>;
using DevicesBase = Envelope<std::vector<Devices>>;
using DeviceBase = Envelope<Device>;
using LogoutBase = Envelope<void>;

extern template struct Envelope<Login>;
extern template struct Envelope<Auth2Fact>;
extern template struct Envelope<Token>;
extern template struct Envelope<RefreshToken>;
extern template struct Envelope<DeviceId>;
extern template struct Envelope<std::vector<Devices>>;
extern template struct Envelope<Device>;

}  // namespace tavo
