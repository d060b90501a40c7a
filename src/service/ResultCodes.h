#pragma once

#include <cstdint>

namespace tavo {

// Result codes of the JSON envelope (its "code" member).
inline constexpr std::int64_t kHttpResponceCodeSucceeded = 0;
inline constexpr std::int64_t kHttpResponceCodeTwoFARequired = 100;
inline constexpr std::int64_t kHttpResponceCodeInvalidArgument = 1001;
inline constexpr std::int64_t kHttpResponceCodeAuthenticationFailed = 1002;
inline constexpr std::int64_t kHttpResponceCodeTwoFACodeExpired = 1003;
inline constexpr std::int64_t kHttpResponceCodeAccountLocked = 1004;
inline constexpr std::int64_t kHttpResponceCodeMaximumNumberDevicesUse = 1005;
inline constexpr std::int64_t kHttpResponceCodeContractExpired = 1006;
inline constexpr std::int64_t kHttpResponceCodeAccessTokenExpired = 1007;
inline constexpr std::int64_t kHttpResponceCodeRefreshTokenExpired = 1008;
inline constexpr std::int64_t kHttpResponceCodeNotAuthorizedAccount = 1009;
inline constexpr std::int64_t kHttpResponceCodeInternalServerError = 2000;
// No code could be read from the answer.
inline constexpr std::int64_t kHttpResponceCodeUndefinedValue = -1;

// HTTP status codes the client tells apart; 0 when no answer arrived.
inline constexpr long kHttpStatusCodeSucceeded = 200;
inline constexpr long kHttpStatusCodeBadRequest = 400;
inline constexpr long kHttpStatusCodeInternalServerError = 500;
inline constexpr long kHttpStatusCodeUndefinedValue = 0;

// Identifiers and fixed texts of the failures written as error lines
// "code=%@, message=%@".
inline constexpr const char* kMsgE0001 = "MSG_E0001";
inline constexpr const char* kMsgE0001Text = "a communication error has occurred.";
inline constexpr const char* kMsgE0001TextSse =
    "a communication error has occurred. Move to offline mode(sse).";
inline constexpr const char* kMsgE0001TextNoReachability =
    "a communication error has occurred. Move to offline mode(no reachability).";
inline constexpr const char* kMsgE0003 = "MSG_E0003";
// Followed by the offline suffix of the exchange.
inline constexpr const char* kMsgE0003Format = "a server error has occurred.%@";
inline constexpr const char* kMsgE0003TextSse =
    "a server error has occurred. Move to offline mode(sse).";
inline constexpr const char* kMsgE2001 = "MSG_E2001";
inline constexpr const char* kMsgE2001Text = "email address or password is wrong";
inline constexpr const char* kMsgE2002 = "MSG_E2002";  // e-mail address field
inline constexpr const char* kMsgE2002Text = "not inputted correctly";
inline constexpr const char* kMsgE2003 = "MSG_E2003";  // password field
inline constexpr const char* kMsgE2003Text = "not inputted correctly";
inline constexpr const char* kMsgE2004 = "MSG_E2004";
inline constexpr const char* kMsgE2004Text = "wrong authorization code";
inline constexpr const char* kMsgE2005 = "MSG_E2005";  // two-factor code field
inline constexpr const char* kMsgE2005Text = "not inputted correctly";
inline constexpr const char* kMsgE2006 = "MSG_E2006";
inline constexpr const char* kMsgE2006Text = "authentication code has expired";
inline constexpr const char* kMsgE2007 = "MSG_E2007";
inline constexpr const char* kMsgE2007Text = "failed logout the device";
inline constexpr const char* kMsgE2008 = "MSG_E2008";
inline constexpr const char* kMsgE2008Text = "start the app with administrator privileges";
inline constexpr const char* kMsgE2009 = "MSG_E2009";
inline constexpr const char* kMsgE2009Text = "could not update";
// An update archive whose signature is missing or does not match.
inline constexpr const char* kMsgE2010 = "MSG_E2010";
inline constexpr const char* kMsgE2010Text = "the updater is not signed by the service";
inline constexpr const char* kMsgE2011 = "MSG_E2011";
inline constexpr const char* kMsgE2011Text = "insufficient disk space";
inline constexpr const char* kMsgE2012 = "MSG_E2012";
inline constexpr const char* kMsgE2012Text = "failed font download";

// The message logged and reported for a transport failure.
inline constexpr const char* kMessageNetworkError = "An network error occurs.";

}  // namespace tavo
