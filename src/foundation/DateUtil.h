#pragma once

#include <optional>
#include <string>

#include "foundation/Clock.h"

namespace tavo {

inline constexpr const char* kDefaultDateFormat = "yyyy-MM-dd HH:mm:ss";
inline constexpr const char* kLogDateFormat = "yyyy-MM-dd HH:mm:ss.SSSS";

// Date texts in the system's patterns (Gregorian calendar, POSIX locale, the
// system time zone). Pattern letters: yyyy yy MM M dd d HH H mm m ss s S...
// (fraction of a second, truncated); anything else, or 'quoted text', is
// copied as it stands.
class DateUtil {
public:
    static std::string getCurrentDate(const std::string& pattern = kDefaultDateFormat);
    static std::string getFormatStringFromDate(Clock::SystemTime date, const std::string& pattern);
    // Seconds from date to now; positive for past dates.
    static double getCurrentDateTimeInteval(Clock::SystemTime date);
    // The inverse of the default pattern, for font-list dates; none when unparsable.
    static std::optional<Clock::SystemTime> dateFromString(const std::string& text);
};

}  // namespace tavo
