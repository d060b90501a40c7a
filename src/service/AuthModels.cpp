#include "service/AuthModels.h"

namespace tavo {

template struct Envelope<Login>;
template struct Envelope<Auth2Fact>;
template struct Envelope<Token>;
template struct Envelope<RefreshToken>;
template struct Envelope<DeviceId>;
template struct Envelope<std::vector<Devices>>;
template struct Envelope<Device>;

void Login::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "accessToken", accessToken, path);
    inject(dictionary, "refreshToken", refreshToken, path);
}

void Auth2Fact::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "accessToken", accessToken, path);
    inject(dictionary, "refreshToken", refreshToken, path);
}

void Token::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "accessToken", accessToken, path);
}

void RefreshToken::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "accessToken", accessToken, path);
    inject(dictionary, "refreshToken", refreshToken, path);
}

void DeviceId::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "deviceId", deviceId, path);
}

void Devices::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "userDeviceId", userDeviceId, path);
    inject(dictionary, "deviceId", deviceId, path);
    inject(dictionary, "hostname", hostname, path);
    inject(dictionary, "osUserName", osUserName, path);
    inject(dictionary, "osType", osType, path);
    inject(dictionary, "osVersion", osVersion, path);
}

void Device::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "accessToken", accessToken, path);
    inject(dictionary, "refreshToken", refreshToken, path);
}

void Login::propertyExport(Json& dictionary) const {
    put(dictionary, "accessToken", accessToken);
    put(dictionary, "refreshToken", refreshToken);
}

void Auth2Fact::propertyExport(Json& dictionary) const {
    put(dictionary, "accessToken", accessToken);
    put(dictionary, "refreshToken", refreshToken);
}

void Token::propertyExport(Json& dictionary) const {
    put(dictionary, "accessToken", accessToken);
}

void RefreshToken::propertyExport(Json& dictionary) const {
    put(dictionary, "accessToken", accessToken);
    put(dictionary, "refreshToken", refreshToken);
}

void DeviceId::propertyExport(Json& dictionary) const {
    put(dictionary, "deviceId", deviceId);
}

void Devices::propertyExport(Json& dictionary) const {
    put(dictionary, "userDeviceId", userDeviceId);
    put(dictionary, "deviceId", deviceId);
    put(dictionary, "hostname", hostname);
    put(dictionary, "osUserName", osUserName);
    put(dictionary, "osType", osType);
    put(dictionary, "osVersion", osVersion);
}

void Device::propertyExport(Json& dictionary) const {
    put(dictionary, "accessToken", accessToken);
    put(dictionary, "refreshToken", refreshToken);
}

}  // namespace tavo
