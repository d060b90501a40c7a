#pragma once

#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"

namespace tavo {

// The user-information key of the fonts-added notification: the file URL
// texts of the font files that became available.
inline constexpr const char* kFontManagerAvailableFontURLsAdded =
    "CTFontManagerAvailableFontURLsAdded";

// "file://" followed by the path with the bytes that a URL cannot carry as
// they stand percent-encoded.
std::string fileURLFromPath(const std::string& path);
// The path of a file URL text; empty for any other text.
std::string pathFromFileURL(const std::string& url);

// The notification the font manager's fonts-added source becomes.
Notification fontsAddedNotification(const std::vector<std::string>& paths);

}  // namespace tavo
