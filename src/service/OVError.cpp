#include "service/OVError.h"

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "service/ResultCodes.h"

namespace tavo {

namespace {

bool judge(const std::optional<Error>& error, std::optional<std::int64_t> code,
           const std::optional<std::string>& message) {
    if (error) {
        ELog("code=%ld, message=%@: Description(api): [%@]", error->code, kMessageNetworkError,
             *error);
        NotificationCenter::defaultCenter().post(
            kOVErrorNotificationKeyErrorEvent,
            {{kOVErrorUserInfoKeyCode, format("%ld", error->code)},
             {kOVErrorUserInfoKeyMessage, error->description},
             {kOVErrorUserInfoKeyError, *error}});
        return false;
    }
    std::int64_t result = code.value_or(kHttpResponceCodeUndefinedValue);
    std::string text = message.value_or("(unknown)");
    TAVO_DLOG("error is nil: code:[%ld] message:[%@]", result, text);
    if (result == kHttpResponceCodeSucceeded || result == kHttpResponceCodeTwoFARequired)
        return true;
    ELog("code=%ld, message=%@", result, text);
    NotificationCenter::defaultCenter().post(kOVErrorNotificationKeyErrorEvent,
                                             {{kOVErrorUserInfoKeyCode, format("%ld", result)},
                                              {kOVErrorUserInfoKeyMessage, text},
                                              {kOVErrorUserInfoKeyError, std::string("nil")}});
    return false;
}

}  // namespace

bool OVError::checkApiError(const std::optional<Error>& error, std::optional<std::int64_t> code,
                            const std::optional<std::string>& message) {
    TAVO_DLOG("start");
    bool accepted = judge(error, code, message);
    TAVO_DLOG("end");
    return accepted;
}

}  // namespace tavo
