#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavo {

class ApiClient;

namespace signin {

// Input limits of the sign-in pages (exclusive bounds, in characters as the
// text fields count them: UTF-16 code units).
inline constexpr int kMinMailAddressDigitCheck = 0;
inline constexpr int kMaxMailAddressDigitCheck = 122;
inline constexpr int kMinPasswordDigitCheck = 0;
inline constexpr int kMaxPasswordDigitCheck = 129;
inline constexpr int kAuthorizationCodeDigitCheck = 8;

// Identifiers of the pages of the sign-in window; a step names the page the
// window goes to next.
inline constexpr const char* kSegueLogin = "toLogin";
inline constexpr const char* kSegueTwoAuthorization = "toTwoAuthorization";
inline constexpr const char* kSegueThirdUnitNgDialog = "toThirdUnitNgDialog";
inline constexpr const char* kSegueLoginCompletion = "toLoginCompletion";

// The error texts of the pages (localization keys).
inline constexpr const char* kNetworkErrorText =
    "A network error has occurred. please retry fix issues.";
inline constexpr const char* kWrongCredentialsText = "Email address or password is wrong";
inline constexpr const char* kAccountLockedText = "Your account is locked";
inline constexpr const char* kCodeNotInputtedText = "Not inputted correctly";
inline constexpr const char* kWrongCodeText = "Wrong authorization code";
inline constexpr const char* kCodeExpiredText = "Authentication code has expired";

// Which of the two fields of the first page failed the input check.
struct InputCheck {
    bool mailAddressValid = false;
    bool passwordValid = false;
    bool ok() const { return mailAddressValid && passwordValid; }
};

// What one step of the flow asks the page to do.
struct StepOutcome {
    std::optional<std::string> segue;  // the page to go to; none: stay
    bool closeWindow = false;          // the flow cannot go on in this window
    bool showError = false;            // show the page's error label...
    std::optional<std::string>
        errorText;             // ...with this text (a localization key); none: keep its text
    bool enableButton = true;  // enable the page's button again
    // Going back to the first page: why, in the service's own words (empty
    // when it gave none).
    std::optional<std::string> returnReason;
};

// One row of the device table.
struct DeviceEntry {
    std::string name;  // "<hostname> <osUserName>"
    std::string hostname;
    std::string osUserName;
    std::string system;  // the operating system and its version, as the service knows them
    std::string deviceId;
    bool active = true;
};

// The sign-in conversation with the service, shared by the sign-in window's
// pages and by `tavoctl login`: each call makes the requests of one user
// action, stores what the service hands out, logs as the pages do, and says
// what the page shows or where it goes next. Blocking; no user interface.
class SignInFlow {
public:
    explicit SignInFlow(ApiClient& client);

    // Both checks always run; a failing one logs its error code.
    static InputCheck inputCheck(const std::string& mailAddress, const std::string& password);
    static bool isValidAuthorizationCode(const std::string& code);  // exactly 8 characters

    // The first page's button, after a passing input check: device key and
    // id, POST /login, tokens stored.
    StepOutcome login(const std::string& mailAddress, const std::string& password);
    // The two-factor page's button, after a passing length check.
    StepOutcome submitCode(const std::string& code);

    // The device-limit page: the account's devices (empty when the list
    // cannot be fetched), releasing one (false on refusal, logged), and
    // taking this device into use.
    std::vector<DeviceEntry> devices();
    bool releaseDevice(const std::string& deviceId);
    StepOutcome takeIntoUse();

    // Page addresses of the service's web site; none when refused.
    std::optional<std::string> passwordResetUrl();
    std::optional<std::string> memberRegistrationUrl();
    std::optional<std::string> fontListUrl();

private:
    ApiClient& client_;
};

}  // namespace signin
}  // namespace tavo
