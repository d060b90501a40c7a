#include "foundation/DateUtil.h"

#include <cstdio>
#include <ctime>

namespace tavo {

namespace {

std::string padded(long value, size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

// The zone as the pattern letter Z asks for it: "+0000" for one to three
// letters, "GMT+05:30" (or "GMT") for four, "+05:30" (or "Z") for five.
std::string zoneText(long offsetSeconds, size_t letters) {
    const char sign = offsetSeconds < 0 ? '-' : '+';
    const long minutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
    const std::string hours = padded(minutes / 60, 2);
    const std::string rest = padded(minutes % 60, 2);
    if (letters <= 3)
        return sign + hours + rest;
    if (letters == 4)
        return offsetSeconds == 0 ? std::string("GMT")
                                  : "GMT" + std::string(1, sign) + hours + ":" + rest;
    return offsetSeconds == 0 ? std::string("Z") : sign + hours + ":" + rest;
}

}  // namespace

std::string DateUtil::getCurrentDate(const std::string& pattern) {
    return getFormatStringFromDate(Clock::current().systemNow(), pattern);
}

std::string DateUtil::getFormatStringFromDate(Clock::SystemTime date, const std::string& pattern) {
    namespace chrono = std::chrono;
    const auto sinceEpoch = date.time_since_epoch();
    auto secs = chrono::duration_cast<chrono::seconds>(sinceEpoch);
    if (secs > sinceEpoch)
        secs -= chrono::seconds(1);  // floor for dates before 1970
    const long long nanos = chrono::duration_cast<chrono::nanoseconds>(sinceEpoch - secs).count();
    const std::time_t t = static_cast<std::time_t>(secs.count());
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return {};

    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'') {  // quoted literal; '' is one quote
            size_t end = pattern.find('\'', i + 1);
            if (end == i + 1)
                out += '\'';
            else
                out += pattern.substr(i + 1,
                                      (end == std::string::npos ? pattern.size() : end) - i - 1);
            i = end == std::string::npos ? pattern.size() : end + 1;
            continue;
        }
        size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c)
            ++run;
        switch (c) {
            case 'y':
                out += run == 2 ? padded((tm.tm_year + 1900) % 100, 2)
                                : padded(tm.tm_year + 1900, run);
                break;
            case 'M':
                out += padded(tm.tm_mon + 1, run);
                break;
            case 'd':
                out += padded(tm.tm_mday, run);
                break;
            case 'H':
                out += padded(tm.tm_hour, run);
                break;
            case 'm':
                out += padded(tm.tm_min, run);
                break;
            case 's':
                out += padded(tm.tm_sec, run);
                break;
            case 'S': {
                std::string fraction = padded(nanos, 9);
                if (run <= 9)
                    out += fraction.substr(0, run);
                else
                    out += fraction + std::string(run - 9, '0');
                break;
            }
            case 'Z':
                out += zoneText(tm.tm_gmtoff, run);
                break;
            default:
                out.append(run, c);
        }
        i += run;
    }
    return out;
}

double DateUtil::getCurrentDateTimeInteval(Clock::SystemTime date) {
    return std::chrono::duration<double>(Clock::current().systemNow() - date).count();
}

std::optional<Clock::SystemTime> DateUtil::dateFromString(const std::string& text) {
    std::tm tm{};
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 6 ||
        static_cast<size_t>(consumed) != text.size())
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return std::chrono::system_clock::from_time_t(t);
}

}  // namespace tavo
