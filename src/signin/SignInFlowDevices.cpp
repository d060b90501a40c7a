// The device-limit page of the sign-in flow: the account's devices, logging
// one of them out, and taking this device into use.
#include "foundation/Log.h"
#include "service/ApiClient.h"
#include "service/LoginApi.h"
#include "service/OVError.h"
#include "service/ResultCodes.h"
#include "signin/SignInFlow.h"
#include "signin/SignInSupport.h"

namespace tavo::signin {

using namespace detail;

std::vector<DeviceEntry> SignInFlow::devices() {
    std::optional<Error> error;
    const auto answer = LoginApi(client_).getDevicesWithError(&error);
    std::vector<DeviceEntry> entries;
    if (!OVError::checkApiError(error, answer.code, answer.message) || !answer.data)
        return entries;
    for (const Devices& device : *answer.data) {
        const std::string hostname = device.hostname.value_or("");
        DeviceEntry entry;
        entry.name = hostname + " " + device.osUserName.value_or("");
        entry.hostname = printable(hostname);
        entry.osUserName = printable(device.osUserName.value_or(""));
        const std::string type = device.osType.value_or("");
        const std::string version = device.osVersion.value_or("");
        entry.system =
            printable(type.empty() || version.empty() ? type + version : type + " " + version);
        entry.deviceId = device.deviceId.value_or("");
        entry.active = true;
        entries.push_back(std::move(entry));
        ILog("Using device detected: %@", printable(hostname));
    }
    return entries;
}

bool SignInFlow::releaseDevice(const std::string& deviceId) {
    std::optional<Error> error;
    const auto answer = LoginApi(client_).deviceOutOfUseWithTargetDeviceId(deviceId, &error);
    if (OVError::checkApiError(error, answer.code, answer.message))
        return true;
    ELog("code=%@, message=%@", kMsgE2007, kMsgE2007Text);
    return false;
}

StepOutcome SignInFlow::takeIntoUse() {
    std::optional<Error> error;
    const auto answer = LoginApi(client_).deviceInUseWithError(&error);
    const bool accepted = OVError::checkApiError(error, answer.code, answer.message);
    if (error) {
        StepOutcome outcome;
        outcome.closeWindow = true;
        outcome.enableButton = false;
        return outcome;
    }
    if (accepted && answer.resultCode() == kHttpResponceCodeSucceeded) {
        const auto refresh = answer.data ? answer.data->refreshToken : std::nullopt;
        const auto access = answer.data ? answer.data->accessToken : std::nullopt;
        // Without a stored refresh token this device is not signed in: start over.
        if (takeTokens(client_, refresh, access, "Third Unit"))
            return segueTo(kSegueLoginCompletion);
    }
    StepOutcome outcome = segueTo(kSegueLogin);
    outcome.returnReason = accepted ? std::string() : printable(answer.message.value_or(""));
    return outcome;
}

}  // namespace tavo::signin
