#include "signin/SignInFlow.h"

#include "foundation/Config.h"
#include "foundation/CryptorUtil.h"
#include "foundation/Log.h"
#include "platform/SystemInfo.h"
#include "service/ApiClient.h"
#include "service/FontsApi.h"
#include "service/LoginApi.h"
#include "service/OVError.h"
#include "service/ResultCodes.h"
#include "signin/SignInSupport.h"

namespace tavo::signin {

using namespace detail;

namespace {

// Which request of the first page was refused: the texts differ a little.
enum class CredentialStep { DeviceId, Login };

StepOutcome credentialRefusal(CredentialStep step, const std::optional<Error>& error,
                              std::int64_t code, const std::optional<std::string>& message) {
    // Without a readable answer nothing more can be said than "retry".
    if (error || !message)
        return showErrorText(kNetworkErrorText);
    if (code == kHttpResponceCodeAuthenticationFailed ||
        (code == kHttpResponceCodeInvalidArgument && step == CredentialStep::Login)) {
        ELog("code=%@, message=%@", kMsgE2001, kMsgE2001Text);
        return showErrorText(kWrongCredentialsText);
    }
    if (code == kHttpResponceCodeAccountLocked)
        return showErrorText(kAccountLockedText);
    return showErrorText(kNetworkErrorText);
}

std::optional<std::string> acceptedUrl(const ScreensBase& answer,
                                       const std::optional<Error>& error) {
    if (!OVError::checkApiError(error, answer.code, answer.message) || !answer.data)
        return std::nullopt;
    auto url = openableUrl(answer.data->url);
    if (!url)
        WLog("The page address from the service cannot be opened: [%@]",
             printable(answer.data->url.value_or("(none)")));
    return url;
}

}  // namespace

SignInFlow::SignInFlow(ApiClient& client) : client_(client) {}

InputCheck SignInFlow::inputCheck(const std::string& mailAddress, const std::string& password) {
    InputCheck check;
    const std::size_t mailLength = utf16Length(mailAddress);
    check.mailAddressValid = mailLength > static_cast<std::size_t>(kMinMailAddressDigitCheck) &&
                             mailLength < static_cast<std::size_t>(kMaxMailAddressDigitCheck);
    if (!check.mailAddressValid)
        ELog("code=%@, message=%@", kMsgE2002, kMsgE2002Text);
    const std::size_t passwordLength = utf16Length(password);
    check.passwordValid = passwordLength > static_cast<std::size_t>(kMinPasswordDigitCheck) &&
                          passwordLength < static_cast<std::size_t>(kMaxPasswordDigitCheck);
    if (!check.passwordValid)
        ELog("code=%@, message=%@", kMsgE2003, kMsgE2003Text);
    return check;
}

bool SignInFlow::isValidAuthorizationCode(const std::string& code) {
    if (utf16Length(code) == static_cast<std::size_t>(kAuthorizationCodeDigitCheck))
        return true;
    ELog("code=%@, message=%@", kMsgE2005, kMsgE2005Text);
    return false;
}

StepOutcome SignInFlow::login(const std::string& mailAddress, const std::string& password) {
    const std::string hostname = currentHostName();
    const std::string osUserName = platform::SystemInfo::loginName();

    if (client_.deviceKey().value_or("").empty()) {
        ILog("Generating device key");
        client_.setDeviceKey(newDeviceKey());
        TAVO_DLOG("Generated deviceKey=[%@]", secretShape(client_.deviceKey()));
    }
    const std::string deviceKey = client_.deviceKey().value_or("");

    // Every attempt starts from a fresh configuration; the device id this key
    // was registered with is kept, so the device is registered only once.
    const auto registeredId = storedDeviceId(deviceKey);
    Config::createConfigPlist(CryptorUtil::encryptString(deviceKey));
    if (registeredId)
        storeDeviceId(*registeredId);

    LoginApi api(client_);
    const auto registerDevice = [&]() -> std::optional<StepOutcome> {
        ILog("Login with user: %@: on the host: %@", osUserName, hostname);
        std::optional<Error> error;
        const auto answer = api.deviceIdWithMailAddress(mailAddress, password, hostname, osUserName,
                                                        deviceKey, &error);
        if (!OVError::checkApiError(error, answer.code, answer.message))
            return credentialRefusal(CredentialStep::DeviceId, error, answer.resultCode(),
                                     answer.message);
        const auto deviceId = answer.data ? answer.data->deviceId : std::nullopt;
        if (!isHeaderSafe(deviceId)) {
            ELog("code=%ld, message=%@", answer.resultCode(),
                 "the service issued no usable device id");
            return showErrorText(kNetworkErrorText);
        }
        client_.setDeviceId(deviceId);
        TAVO_DLOG("received deviceId=[%@]", *deviceId);
        storeDeviceId(*deviceId);
        return std::nullopt;
    };

    const auto config = Config::userConfig();
    const auto storedId = config ? Config::decryptedValue(*config, kConfigDeviceId) : std::nullopt;
    bool registeredNow = !isHeaderSafe(storedId);
    if (registeredNow) {
        if (auto refusal = registerDevice())
            return *refusal;
    } else {
        client_.setDeviceId(storedId);
    }

    for (;;) {
        std::optional<Error> error;
        const auto answer = api.loginWithMailAddress(mailAddress, password, &error);
        const std::int64_t code = answer.resultCode();
        const auto refresh = answer.data ? answer.data->refreshToken : std::nullopt;
        const auto access = answer.data ? answer.data->accessToken : std::nullopt;
        if (OVError::checkApiError(error, answer.code, answer.message)) {
            if (code == kHttpResponceCodeTwoFARequired)
                return segueTo(kSegueTwoAuthorization);
            // Without a stored refresh token the next start would not be signed in.
            if (!takeTokens(client_, refresh, access, "Login"))
                return showErrorText(kNetworkErrorText);
            return segueTo(kSegueLoginCompletion);
        }
        if (!error && answer.message && code == kHttpResponceCodeMaximumNumberDevicesUse) {
            // The tokens open the device list, so another device can be
            // logged out; they are stored once this device is taken into use.
            holdTokens(client_, refresh, access, "Login with ThirdUnit");
            return segueTo(kSegueThirdUnitNgDialog);
        }
        if (!error && answer.message && code == kHttpResponceCodeInvalidArgument &&
            !registeredNow) {
            // The service no longer knows the stored device id (it was
            // removed on the service's side): register the device again, once.
            WLog(
                "The service refused the stored device id: code=%ld, message=%@: registering the "
                "device again",
                code, printable(*answer.message));
            dropDeviceId();
            client_.setDeviceId(std::nullopt);
            registeredNow = true;
            if (auto refusal = registerDevice())
                return *refusal;
            continue;
        }
        return credentialRefusal(CredentialStep::Login, error, code, answer.message);
    }
}

StepOutcome SignInFlow::submitCode(const std::string& code) {
    LoginApi api(client_);
    std::optional<Error> error;
    const auto answer = api.auth2FactWithTwoFactCode(code, &error);
    const std::int64_t result = answer.resultCode();
    const auto refresh = answer.data ? answer.data->refreshToken : std::nullopt;
    const auto access = answer.data ? answer.data->accessToken : std::nullopt;
    const bool accepted = OVError::checkApiError(error, answer.code, answer.message);
    if (accepted && result == kHttpResponceCodeSucceeded) {
        if (!takeTokens(client_, refresh, access, "TwoAuthorization"))
            return showErrorText(kNetworkErrorText);
        return segueTo(kSegueLoginCompletion);
    }
    // A transport failure or an unreadable answer: the user may try again.
    if (error || !answer.message)
        return showErrorText(kNetworkErrorText);
    switch (result) {
        case kHttpResponceCodeAuthenticationFailed:
            ELog("code=%@, message=%@", kMsgE2004, kMsgE2004Text);
            return showErrorText(kWrongCodeText);
        case kHttpResponceCodeTwoFACodeExpired:
            ELog("code=%@, message=%@", kMsgE2006, kMsgE2006Text);
            return showErrorText(kCodeExpiredText);
        case kHttpResponceCodeMaximumNumberDevicesUse:
            holdTokens(client_, refresh, access, "TwoAuthorization with ThirdUnit");
            return segueTo(kSegueThirdUnitNgDialog);
        case kHttpResponceCodeAccountLocked:
            return showErrorText(kAccountLockedText);
        case kHttpResponceCodeInternalServerError:
            return showErrorText(kNetworkErrorText);
        default:
            return showErrorText(kWrongCodeText);
    }
}

std::optional<std::string> SignInFlow::passwordResetUrl() {
    std::optional<Error> error;
    const auto answer = LoginApi(client_).getScreensPasswordResetUrlWithError(&error);
    return acceptedUrl(answer, error);
}

std::optional<std::string> SignInFlow::memberRegistrationUrl() {
    std::optional<Error> error;
    const auto answer = LoginApi(client_).getScreensMemberRegistrationUrlWithError(&error);
    return acceptedUrl(answer, error);
}

std::optional<std::string> SignInFlow::fontListUrl() {
    std::optional<Error> error;
    const auto answer = FontsApi(client_).getScreensFontListUrlWithError(&error);
    return acceptedUrl(answer, error);
}

}  // namespace tavo::signin
