#pragma once

namespace tavo {

// The "serverSentEvent" notification: posted by the client when it goes
// online, by the event stream when it connects or closes, and by the stream's
// delegate for each event received (the event's name as key, the event as
// value, beside its data text).
inline constexpr const char* kSSENotificationKeyServerSentEvent = "serverSentEvent";
inline constexpr const char* kPCUserInfoKeyOpen = "open";
inline constexpr const char* kPCUserInfoKeyClose = "close";
inline constexpr const char* kFMUserInfoKeyJsonData = "jsonData";

}  // namespace tavo
