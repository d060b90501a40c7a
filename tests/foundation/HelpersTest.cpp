#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "foundation/DateUtil.h"
#include "foundation/Localization.h"
#include "foundation/NotificationUtil.h"
#include "platform/UserNotificationCenter.h"
#include "support/ScopedEnvironment.h"

using namespace tavo;

namespace {

Clock::SystemTime localTime(int y, int mo, int d, int h, int mi, int s, int micros) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm)) +
           std::chrono::microseconds(micros);
}

class RecordingCenter : public platform::UserNotificationCenter {
public:
    void deliver(const platform::UserNotification& n) override { delivered.push_back(n); }
    std::vector<platform::UserNotification> delivered;
};

}  // namespace

TEST(DateUtil, PatternsOfTheSystem) {
    const auto date = localTime(2024, 5, 1, 9, 15, 2, 123456);
    EXPECT_EQ(DateUtil::getFormatStringFromDate(date, kLogDateFormat), "2024-05-01 09:15:02.1234");
    EXPECT_EQ(DateUtil::getFormatStringFromDate(date, kDefaultDateFormat), "2024-05-01 09:15:02");
    EXPECT_EQ(DateUtil::getFormatStringFromDate(date, "yy/M/d 'at' H"), "24/5/1 at 9");
    EXPECT_TRUE(std::regex_match(DateUtil::getCurrentDate(),
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    EXPECT_EQ(DateUtil::dateFromString("2024-05-01 09:15:02"), localTime(2024, 5, 1, 9, 15, 2, 0));
    EXPECT_FALSE(DateUtil::dateFromString("2024-05-01"));
    EXPECT_FALSE(DateUtil::dateFromString("yesterday"));
}

// The letter Z is the zone, never a literal "Z".
TEST(DateUtil, ZoneLettersGiveTheOffset) {
    const auto date =
        std::chrono::system_clock::from_time_t(1714554902);  // 2024-05-01 09:15:02 UTC
    const struct {
        const char* zone;
        const char* pattern;
        const char* expected;
    } cases[] = {
        {"UTC0", "yyyy-MM-dd HH:mm:ss Z", "2024-05-01 09:15:02 +0000"},
        {"IST-5:30", "yyyy-MM-dd HH:mm:ss Z", "2024-05-01 14:45:02 +0530"},
        {"EST5EDT,M3.2.0,M11.1.0", "HH:mm Z", "05:15 -0400"},
        {"UTC0", "ZZZZ|ZZZZZ", "GMT|Z"},
        {"IST-5:30", "ZZZZ|ZZZZZ", "GMT+05:30|+05:30"},
        {"UTC0", "'Z' Z", "Z +0000"},
    };
    for (const auto& c : cases) {
        test::ScopedEnvironment zone("TZ", c.zone);
        ::tzset();
        EXPECT_EQ(DateUtil::getFormatStringFromDate(date, c.pattern), c.expected)
            << c.zone << " " << c.pattern;
    }
    ::tzset();
}

TEST(DateUtil, IntervalToNowIsPositiveForThePast) {
    const auto hourAgo = Clock::current().systemNow() - std::chrono::hours(1);
    EXPECT_NEAR(DateUtil::getCurrentDateTimeInteval(hourAgo), 3600.0, 5.0);
}

TEST(Localization, StringsTables) {
    const auto table = Localization::parseStrings(R"(/* Menu */
"Logout" = "Log Out";
// comment
"Quote \"x\"" = "Line\nbreak";
"broken" = ;
"After" = "ok";
)");
    EXPECT_EQ(table.at("Logout"), "Log Out");
    EXPECT_EQ(table.at("Quote \"x\""), "Line\nbreak");
    EXPECT_EQ(table.at("After"), "ok");
    EXPECT_EQ(table.count("broken"), 0u);
    // Without a translation the key is shown.
    EXPECT_EQ(localized("No such key anywhere"), "No such key anywhere");
}

TEST(NotificationUtil, DeliversThroughThePlatformCentre) {
    auto center = std::make_shared<RecordingCenter>();
    platform::UserNotificationCenter::setDefaultCenter(center);
    NotificationUtil::deliverNotificationWithSubtile("Font Download Success", "3 fonts");
    NotificationUtil::deliverNotificationWithSubtile(std::nullopt);
    platform::UserNotificationCenter::setDefaultCenter(nullptr);
    ASSERT_EQ(center->delivered.size(), 2u);
    EXPECT_EQ(center->delivered[0].subtitle, "Font Download Success");
    EXPECT_EQ(center->delivered[0].informativeText, "3 fonts");
    EXPECT_EQ(center->delivered[1].subtitle, "-");
    EXPECT_EQ(center->delivered[1].informativeText, "");
}
