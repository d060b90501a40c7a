#pragma once

#include "service/ServerSentEventNotification.h"

namespace tavo {

// Names the event stream and its users share.
inline constexpr const char* kSSEOperationQueueName = "oskavelle.ServerSentEvent.operationQueue";
// Event names the application acts on.
inline constexpr const char* kEventFontActivate = "font-activate";
inline constexpr const char* kEventFontDeactivate = "font-deactivate";
inline constexpr const char* kEventFontAllUninstall = "font-all-uninstall";

}  // namespace tavo
