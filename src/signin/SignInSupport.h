#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "signin/SignInFlow.h"

namespace tavo {
class ApiClient;
}

// Helpers of the sign-in flow: what the pages' steps share.
namespace tavo::signin::detail {

// Length of UTF-8 text in UTF-16 code units, as a text field counts it; a
// malformed byte counts as one.
std::size_t utf16Length(std::string_view text);

// Whether a value handed out by the service may be kept and sent back in a
// header: non-empty printable ASCII without spaces.
bool isHeaderSafe(const std::optional<std::string>& value);
// Text from the service for a log line: control characters replaced.
std::string printable(std::string_view text);
// "(32 characters)" or "(empty)": a secret's shape for debug lines.
std::string secretShape(const std::optional<std::string>& value);
// A web address from the service that may be opened: http or https, without
// spaces or control characters.
std::optional<std::string> openableUrl(const std::optional<std::string>& url);

// A new device key: a random UUID in upper case without dashes.
std::string newDeviceKey();
// This machine's name as the "hostname" command prints it, without line
// feeds; the system's name when the command prints nothing.
std::string currentHostName();

// The device id stored for the device key in the user configuration, if any.
std::optional<std::string> storedDeviceId(const std::string& deviceKey);
// Stores the device id encrypted and writes the configuration atomically.
bool storeDeviceId(const std::string& deviceId);
// Forgets the stored device id (written atomically), so that the next
// attempt registers the device again.
bool dropDeviceId();

// Takes the tokens of an answer into the client, logging "<prefix> set
// refresh token" or "<prefix> has empty refresh token" (and the same for the
// access token), and stores the refresh token encrypted. A token that could
// not be sent back in a header counts as missing. True when a refresh token
// was there and stored.
bool takeTokens(ApiClient& client, const std::optional<std::string>& refreshToken,
                const std::optional<std::string>& accessToken, const std::string& logPrefix);
// The same for the tokens issued at the device limit, which only open the
// device page: they are held by the client and never stored, so a sign-in
// abandoned there leaves this machine signed out. Whatever an earlier
// attempt stored is removed.
void holdTokens(ApiClient& client, const std::optional<std::string>& refreshToken,
                const std::optional<std::string>& accessToken, const std::string& logPrefix);

// Outcomes of a step.
StepOutcome segueTo(const char* segue);
StepOutcome showErrorText(const char* text);

}  // namespace tavo::signin::detail
