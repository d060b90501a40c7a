#pragma once

#include <optional>
#include <string>

#include "foundation/Clock.h"

namespace tavo {

inline constexpr const char* kDefaultDateFormat = "yyyy-MM-dd HH:mm:ss";
inline constexpr const char* kLogDateFormat = "yyyy-MM-dd HH:mm:ss.SSSS";

// Date texts in the system's patterns (Gregorian calendar, POSIX locale, the
// system time zone), by the Unicode date-pattern rules. Letters: G (era),
// y (year; yy its last two digits), Q q (quarter), M L (month: 1-2 digits,
// MMM May, MMMM May, MMMMM M), d, D (day of year), E (weekday), a (AM/PM),
// h H K k (hours 1-12, 0-23, 0-11, 1-24), m, s, S... (fraction, truncated to
// as many digits as letters), Z (+0000; ZZZZ GMT+05:30; ZZZZZ +05:30 or Z),
// O (GMT+5:30), X x (ISO 8601, X with Z for UTC), z (the zone's
// abbreviation). 'Quoted text' is literal and '' is a quote; characters
// other than ASCII letters stand as they are. A pattern with any other
// letter cannot be formatted: the text is empty.
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
