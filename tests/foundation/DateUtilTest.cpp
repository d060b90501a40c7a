// Date texts against the Unicode date-pattern rules: the letters the system's
// patterns use, zones, fractions, quoted literals, in several time zones.
#include <gtest/gtest.h>

#include <ctime>
#include <ostream>

#include "foundation/DateUtil.h"
#include "support/ScopedEnvironment.h"

namespace tavo {
namespace {

using namespace std::chrono;

// The process's time zone for the lifetime of the object. POSIX zone texts
// need no zone database.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& zone) : environment_("TZ", zone) { ::tzset(); }
    ~ScopedTimeZone() { ::tzset(); }  // after the environment is put back

private:
    test::ScopedEnvironment environment_;
};

Clock::SystemTime utc(int y, int mo, int d, int h, int mi, int s, int micros = 0) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return system_clock::from_time_t(::timegm(&tm)) + microseconds(micros);
}

struct Case {
    const char* zone;
    Clock::SystemTime date;
    const char* pattern;
    const char* expected;
};

// 2024-05-01 09:15:02.123456 UTC is a Wednesday, the 122nd day, in the 2nd quarter.
const Clock::SystemTime kMorning = utc(2024, 5, 1, 9, 15, 2, 123456);
const Clock::SystemTime kJustAfterMidnight = utc(2024, 5, 1, 0, 5, 0);
const Clock::SystemTime kJustAfterNoon = utc(2024, 5, 1, 12, 30, 0);
constexpr const char* kUtc = "UTC0";
constexpr const char* kIndia = "IST-5:30";                  // UTC+05:30, no daylight time
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";  // UTC-04:00 in May

const Case kCases[] = {
    // The system's own patterns.
    {kUtc, kMorning, "yyyy-MM-dd HH:mm:ss", "2024-05-01 09:15:02"},
    {kUtc, kMorning, "yyyy-MM-dd HH:mm:ss.SSSS", "2024-05-01 09:15:02.1234"},
    {kUtc, kMorning, "yyyy-MM-dd HH:mm:ss Z", "2024-05-01 09:15:02 +0000"},
    {kIndia, kMorning, "yyyy-MM-dd HH:mm:ss Z", "2024-05-01 14:45:02 +0530"},
    {kNewYork, kMorning, "yyyy-MM-dd HH:mm:ss Z", "2024-05-01 05:15:02 -0400"},
    // Years, months, days.
    {kUtc, kMorning, "y yy yyy yyyyy", "2024 24 2024 02024"},
    {kUtc, kMorning, "M MM MMM MMMM MMMMM", "5 05 May May M"},
    {kUtc, kMorning, "L LL LLL LLLL", "5 05 May May"},
    {kUtc, kMorning, "d dd D DDDD", "1 01 122 0122"},
    {kUtc, kMorning, "E EEE EEEE EEEEE EEEEEE", "Wed Wed Wednesday W We"},
    {kUtc, kMorning, "Q QQ QQQ QQQQ", "2 02 Q2 2nd quarter"},
    {kUtc, kMorning, "G GGGG GGGGG", "AD Anno Domini A"},
    // Hours in their four cycles, and the day period.
    {kUtc, kMorning, "h hh H HH K k a", "9 09 9 09 9 9 AM"},
    {kUtc, kJustAfterMidnight, "h H K k a", "12 0 0 24 AM"},
    {kUtc, kJustAfterNoon, "h H K k a", "12 12 0 12 PM"},
    {kNewYork, kMorning, "h:mm a", "5:15 AM"},
    // Fractions are truncated, never rounded, to as many digits as letters.
    {kUtc, kMorning, "s.S", "2.1"},
    {kUtc, kMorning, "ss.SSS", "02.123"},
    {kUtc, kMorning, "SSSSSS", "123456"},
    {kUtc, kMorning, "SSSSSSSSSSSS", "123456000000"},
    {kUtc, utc(1969, 12, 31, 23, 59, 59, 500000), "yyyy-MM-dd HH:mm:ss.SS",
     "1969-12-31 23:59:59.50"},
    // Zones: RFC 822, localized GMT, ISO 8601 with and without Z, the abbreviation.
    {kUtc, kMorning, "Z ZZ ZZZ", "+0000 +0000 +0000"},
    {kUtc, kMorning, "ZZZZ|ZZZZZ|O|OOOO", "GMT|Z|GMT|GMT"},
    {kUtc, kMorning, "X XX XXX XXXX XXXXX", "Z Z Z Z Z"},
    {kUtc, kMorning, "x xx xxx xxxx xxxxx", "+00 +0000 +00:00 +0000 +00:00"},
    {kIndia, kMorning, "ZZZZ|ZZZZZ|O|OOOO", "GMT+05:30|+05:30|GMT+5:30|GMT+05:30"},
    {kIndia, kMorning, "X XX XXX x xx xxx", "+0530 +0530 +05:30 +0530 +0530 +05:30"},
    {kIndia, kMorning, "z", "IST"},
    {kNewYork, kMorning, "z|ZZZZ|O|X|XXX", "EDT|GMT-04:00|GMT-4|-04|-04:00"},
    // Literals: quoted text, a doubled quote, other characters as they stand.
    {kUtc, kMorning, "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ", "2024-05-01T09:15:02.123Z"},
    {kUtc, kMorning, "hh 'o''clock' a", "09 o'clock AM"},
    {kUtc, kMorning, "''H''", "'9'"},
    {kUtc, kMorning, "'at' H 'h', 'unclosed", "at 9 h, unclosed"},
    {kUtc, kMorning, "yyyy\xe5\xb9\xb4M\xe6\x9c\x88",
     "2024\xe5\xb9\xb4"
     "5\xe6\x9c\x88"},
    {kUtc, kMorning, "[yyyy/MM/dd] #", "[2024/05/01] #"},
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << "\"" << c.pattern << "\" in " << c.zone;
}

class DateUtilPatterns : public ::testing::TestWithParam<Case> {};

TEST_P(DateUtilPatterns, FollowTheUnicodeDatePatternRules) {
    const Case& c = GetParam();
    ScopedTimeZone zone(c.zone);
    EXPECT_EQ(DateUtil::getFormatStringFromDate(c.date, c.pattern), c.expected)
        << "pattern " << c.pattern << " in " << c.zone;
}

INSTANTIATE_TEST_SUITE_P(Table, DateUtilPatterns, ::testing::ValuesIn(kCases));

// A letter the rules reserve but this formatter does not know cannot be
// formatted: the text is empty, never the letter printed as a literal.
TEST(DateUtil, UnknownPatternLettersYieldAnEmptyText) {
    ScopedTimeZone zone(kUtc);
    EXPECT_EQ(DateUtil::getFormatStringFromDate(kMorning, "yyyy-MM-dd p"), "");
    EXPECT_EQ(DateUtil::getFormatStringFromDate(kMorning, "yyyy-MM-dd 'p'"), "2024-05-01 p");
    EXPECT_EQ(DateUtil::getFormatStringFromDate(kMorning, ""), "");
}

}  // namespace
}  // namespace tavo
