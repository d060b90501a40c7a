#include "foundation/DateUtil.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tavo {

namespace {

constexpr const char* kMonthNames[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};
constexpr const char* kWeekdayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
constexpr const char* kQuarterOrdinals[] = {"1st", "2nd", "3rd", "4th"};

// The broken-down local time of one date.
struct Moment {
    std::tm tm{};
    long long nanos = 0;  // within the second
    long offset = 0;      // seconds east of UTC
};

std::string padded(long long value, size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

// Names in the POSIX locale's widths: abbreviated (up to three letters),
// wide (four), narrow (five) and, for weekdays, short (six).
std::string nameText(const std::string& name, size_t run) {
    if (run <= 3)
        return name.substr(0, 3);
    if (run == 4)
        return name;
    return name.substr(0, run == 5 ? 1 : 2);
}

std::string monthText(const Moment& m, size_t run) {
    if (run <= 2)
        return padded(m.tm.tm_mon + 1, run);
    return nameText(kMonthNames[m.tm.tm_mon], run == 6 ? 5 : run);
}

std::string quarterText(const Moment& m, size_t run) {
    const int quarter = m.tm.tm_mon / 3 + 1;
    switch (run) {
        case 1:
        case 2:
            return padded(quarter, run);
        case 3:
            return "Q" + std::to_string(quarter);
        case 4:
            return std::string(kQuarterOrdinals[quarter - 1]) + " quarter";
        default:
            return std::to_string(quarter);
    }
}

std::string eraText(const Moment& m, size_t run) {
    const bool common = m.tm.tm_year + 1900 > 0;
    if (run <= 3)
        return common ? "AD" : "BC";
    if (run == 4)
        return common ? "Anno Domini" : "Before Christ";
    return common ? "A" : "B";
}

std::string yearText(const Moment& m, size_t run) {
    const long long year = m.tm.tm_year + 1900LL;
    const long long eraYear = year > 0 ? year : 1 - year;
    return run == 2 ? padded(eraYear % 100, 2) : padded(eraYear, run);
}

std::string fractionText(const Moment& m, size_t run) {
    // Truncated, like every other field, to as many digits as letters.
    const std::string nine = padded(m.nanos, 9);
    return run <= 9 ? nine.substr(0, run) : nine + std::string(run - 9, '0');
}

// An offset from UTC as "+HH", "+HHMM" or "+HH:MM"; minutes only when asked
// for or not zero.
std::string offsetText(long offset, bool minutes, bool colon, bool padHours = true) {
    const char sign = offset < 0 ? '-' : '+';
    const long magnitude = offset < 0 ? -offset : offset;
    const long hours = magnitude / 3600;
    const long mins = magnitude % 3600 / 60;
    std::string text(1, sign);
    text += padHours ? padded(hours, 2) : std::to_string(hours);
    if (minutes || mins != 0) {
        if (colon)
            text += ':';
        text += padded(mins, 2);
    }
    return text;
}

// "GMT", "GMT+05:30" (long) or "GMT+5:30", "GMT-4" (short).
std::string gmtText(long offset, bool longForm) {
    if (offset == 0)
        return "GMT";
    return "GMT" +
           (longForm ? offsetText(offset, true, true) : offsetText(offset, false, true, false));
}

// ISO 8601: X (hours, minutes when any), XX and XXXX (basic), XXX and XXXXX
// (extended); X uses "Z" for UTC, x never does.
std::string isoText(long offset, size_t run, bool utcAsZ) {
    if (utcAsZ && offset == 0)
        return "Z";
    if (run == 1)
        return offsetText(offset, false, false);
    return offsetText(offset, true, run == 3 || run >= 5);
}

std::string zoneNameText(const Moment& m, size_t run) {
    const char* abbreviation = m.tm.tm_zone;
    if (run <= 3 && abbreviation && *abbreviation)
        return abbreviation;
    return gmtText(m.offset, true);  // no zone names here: the GMT form stands in
}

std::string hourText(const Moment& m, char letter, size_t run) {
    const int hour = m.tm.tm_hour;
    switch (letter) {
        case 'h':
            return padded(hour % 12 == 0 ? 12 : hour % 12, run);
        case 'K':
            return padded(hour % 12, run);
        case 'k':
            return padded(hour == 0 ? 24 : hour, run);
        default:
            return padded(hour, run);
    }
}

// The text of one run of a pattern letter; none for a letter this formatter
// does not know.
std::optional<std::string> fieldText(const Moment& m, char letter, size_t run) {
    switch (letter) {
        case 'G':
            return eraText(m, run);
        case 'y':
            return yearText(m, run);
        case 'Q':
        case 'q':
            return quarterText(m, run);
        case 'M':
        case 'L':
            return monthText(m, run);
        case 'd':
            return padded(m.tm.tm_mday, run);
        case 'D':
            return padded(m.tm.tm_yday + 1, run);
        case 'E':
            return nameText(kWeekdayNames[m.tm.tm_wday], run);
        case 'a':
            if (run == 5)
                return std::string(m.tm.tm_hour < 12 ? "a" : "p");
            return std::string(m.tm.tm_hour < 12 ? "AM" : "PM");
        case 'h':
        case 'H':
        case 'K':
        case 'k':
            return hourText(m, letter, run);
        case 'm':
            return padded(m.tm.tm_min, run);
        case 's':
            return padded(m.tm.tm_sec, run);
        case 'S':
            return fractionText(m, run);
        case 'Z':
            if (run <= 3)
                return offsetText(m.offset, true, false);
            return run == 4 ? gmtText(m.offset, true) : isoText(m.offset, 5, true);
        case 'O':
            return gmtText(m.offset, run >= 4);
        case 'X':
            return isoText(m.offset, run, true);
        case 'x':
            return isoText(m.offset, run, false);
        case 'z':
            return zoneNameText(m, run);
        default:
            return std::nullopt;
    }
}

bool isPatternLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Copies quoted text from pattern[at], the opening quote, to out; returns
// where the pattern goes on. A doubled quote stands for one quote, inside
// quoted text or outside; an unclosed quote runs to the end.
size_t copyQuoted(const std::string& pattern, size_t at, std::string& out) {
    if (at + 1 < pattern.size() && pattern[at + 1] == '\'') {
        out += '\'';
        return at + 2;
    }
    for (size_t i = at + 1; i < pattern.size();) {
        if (pattern[i] != '\'') {
            out += pattern[i++];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
        }
        return i + 1;
    }
    return pattern.size();
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
    Moment moment;
    moment.nanos = chrono::duration_cast<chrono::nanoseconds>(sinceEpoch - secs).count();
    const std::time_t t = static_cast<std::time_t>(secs.count());
    if (!localtime_r(&t, &moment.tm))
        return {};
    moment.offset = moment.tm.tm_gmtoff;

    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'') {
            i = copyQuoted(pattern, i, out);
            continue;
        }
        if (!isPatternLetter(c)) {
            out += c;
            ++i;
            continue;
        }
        size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c)
            ++run;
        const auto text = fieldText(moment, c, run);
        if (!text)
            return {};  // a formatter that cannot format yields nothing
        out += *text;
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
