#pragma once

namespace tavo {

// Names the event stream and its users share.
inline constexpr const char* kSSEOperationQueueName = "oskavelle.ServerSentEvent.operationQueue";
// User-information keys of the "serverSentEvent" notification.
inline constexpr const char* kPCUserInfoKeyOpen = "open";
inline constexpr const char* kPCUserInfoKeyClose = "close";
inline constexpr const char* kFMUserInfoKeyJsonData = "jsonData";
// Event names the application acts on.
inline constexpr const char* kEventFontActivate = "font-activate";
inline constexpr const char* kEventFontDeactivate = "font-deactivate";
inline constexpr const char* kEventFontAllUninstall = "font-all-uninstall";

}  // namespace tavo
