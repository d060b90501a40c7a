#pragma once

#include <optional>
#include <string>

namespace tavo {

// Delivers user notifications through the platform's notification centre.
class NotificationUtil {
public:
    // Subtitle "-" when none; informative text empty when none.
    static void deliverNotificationWithSubtile(const std::optional<std::string>& subtitle,
                                               const std::optional<std::string>& informativeText);
    static void deliverNotificationWithSubtile(const std::optional<std::string>& subtitle);
};

}  // namespace tavo
