#include "SyncBenchSupport.h"

#include <gtest/gtest.h>

namespace tavo::bench {
namespace {

std::optional<SyncBenchOptions> parse(std::vector<std::string> args, std::string* error = nullptr,
                                      bool* help = nullptr) {
    args.insert(args.begin(), "font_sync_bench");
    std::string ignored;
    return parseSyncBenchOptions(args, error ? error : &ignored, help);
}

TEST(SyncBenchOptionsTest, DefaultsQuickAndExplicitCounts) {
    const auto defaults = parse({});
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->fonts, 10000);
    EXPECT_EQ(defaults->events, 100);
    EXPECT_TRUE(defaults->log);

    const auto quick = parse({"--quick"});
    ASSERT_TRUE(quick);
    EXPECT_EQ(quick->fonts, 500);
    EXPECT_EQ(quick->events, 20);

    // Explicit counts win over --quick wherever they stand.
    const auto before = parse({"--fonts", "2000", "--quick"});
    ASSERT_TRUE(before);
    EXPECT_EQ(before->fonts, 2000);
    EXPECT_EQ(before->events, 20);
    const auto after = parse({"--quick", "--events", "5", "--no-log", "--refservice", "bin/svc"});
    ASSERT_TRUE(after);
    EXPECT_EQ(after->fonts, 500);
    EXPECT_EQ(after->events, 5);
    EXPECT_FALSE(after->log);
    EXPECT_EQ(after->refservice, "bin/svc");
}

TEST(SyncBenchOptionsTest, RefusesBadLines) {
    std::string error;
    EXPECT_FALSE(parse({"--fonts"}, &error));
    EXPECT_NE(error.find("--fonts"), std::string::npos);
    for (const auto& bad : {"0", "-3", "12x", "", "99999999999999999999999"})
        EXPECT_FALSE(parse({"--fonts", bad})) << bad;
    EXPECT_FALSE(parse({"--events", "0"}));
    EXPECT_FALSE(parse({"--refservice"}));
    EXPECT_FALSE(parse({"--verbose"}, &error));
    EXPECT_NE(error.find("--verbose"), std::string::npos);
    // Every event needs an installed font of its own.
    EXPECT_FALSE(parse({"--fonts", "10", "--events", "11"}));

    bool help = false;
    EXPECT_FALSE(parse({"--help"}, &error, &help));
    EXPECT_TRUE(help);
}

TEST(ServiceLineTest, ReadsBothAddressesAndNothingElse) {
    ServiceAddresses addresses;
    EXPECT_TRUE(readServiceLine("tavo-refservice: delivery API at http://127.0.0.1:40123/api/v1", addresses));
    EXPECT_FALSE(addresses.complete());
    EXPECT_TRUE(readServiceLine("tavo-refservice: notifications at http://127.0.0.1:40124/notifications\r",
                                addresses));
    ASSERT_TRUE(addresses.complete());
    EXPECT_EQ(addresses.api, "http://127.0.0.1:40123");
    EXPECT_EQ(addresses.sse, "http://127.0.0.1:40124");

    ServiceAddresses other;
    // The admin line names the API address too, but is not one of the two.
    EXPECT_FALSE(readServiceLine("tavo-refservice: admin interface at http://127.0.0.1:1/admin (this machine only)",
                                 other));
    EXPECT_FALSE(readServiceLine("tavo-refservice: delivery API at 127.0.0.1:1/api/v1", other));
    EXPECT_FALSE(readServiceLine("tavo-refservice: delivery API at http://127.0.0.1:1/api/v2", other));
    EXPECT_FALSE(readServiceLine("tavo-refservice: delivery API at /api/v1", other));
    EXPECT_TRUE(other.api.empty());
    EXPECT_TRUE(other.sse.empty());
}

TEST(CurlConfigTest, HeadersOnceThenOneUrlOutputPairPerFile) {
    const std::string config = curlConfig({"X-TAVO-DEVICEID: D1", "Authorization: Bearer t"},
                                          {{"http://h/api/v1/fonts/1", "out/1"}, {"http://h/api/v1/fonts/2", "out/2"}});
    EXPECT_EQ(config,
              "header = \"X-TAVO-DEVICEID: D1\"\n"
              "header = \"Authorization: Bearer t\"\n"
              "url = \"http://h/api/v1/fonts/1\"\n"
              "output = \"out/1\"\n"
              "url = \"http://h/api/v1/fonts/2\"\n"
              "output = \"out/2\"\n");
}

TEST(CurlConfigTest, QuotesWhatWouldEndOrBendTheValue) {
    EXPECT_EQ(curlQuoted("plain"), "\"plain\"");
    EXPECT_EQ(curlQuoted("a \"b\" c"), "\"a \\\"b\\\" c\"");
    EXPECT_EQ(curlQuoted("C:\\fonts"), "\"C:\\\\fonts\"");
    EXPECT_EQ(curlQuoted("line\nnext\tx\r"), "\"line\\nnext\\tx\\r\"");
}

TEST(PercentileTest, NearestRank) {
    EXPECT_EQ(percentile({}, 50), 0);
    EXPECT_EQ(percentile({7}, 99), 7);
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)  // unsorted on purpose
        hundred.push_back(i);
    EXPECT_EQ(percentile(hundred, 50), 50);
    EXPECT_EQ(percentile(hundred, 99), 99);
    EXPECT_EQ(percentile(hundred, 100), 100);
    // With 20 samples the 99th percentile is the largest, the median the 10th.
    std::vector<double> twenty;
    for (int i = 1; i <= 20; ++i)
        twenty.push_back(i * 1.5);
    EXPECT_EQ(percentile(twenty, 99), 30);
    EXPECT_EQ(percentile(twenty, 50), 15);
}

TEST(ResultTableTest, AlignsColumnsAndMarksVerdicts) {
    const std::string table = renderTable({{"first sync", "1.000 s", "0.800 s", "1.25x", "<= 1.5x", true},
                                           {"second", "3.000 s", "", "", "", false},
                                           {"memory", "1.0 MB", "", "", "", std::nullopt}});
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = table.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(table.substr(start, end - start));
    ASSERT_EQ(lines.size(), 5u);
    for (const auto& line : lines)
        EXPECT_EQ(line.size(), lines[0].size()) << line;
    EXPECT_EQ(lines[0].rfind("operation ", 0), 0u);
    EXPECT_EQ(lines[2].substr(lines[2].size() - 4), "PASS");
    EXPECT_EQ(lines[3].substr(lines[3].size() - 4), "FAIL");
    // Empty cells and rows without a target print as "-".
    EXPECT_NE(lines[3].find("|        - |"), std::string::npos) << lines[3];
    EXPECT_EQ(lines[4].substr(lines[4].size() - 1), "-");
}

TEST(UnitsTest, PicksTheReadableUnit) {
    EXPECT_EQ(durationText(12.3456), "12.346 s");
    EXPECT_EQ(durationText(0.0123), "12.3 ms");
    EXPECT_EQ(durationText(0.000456), "0.456 ms");
    EXPECT_EQ(ratioText(1.234), "1.23x");
    EXPECT_EQ(megabytesText(2048), "2.0 MB");
}

}  // namespace
}  // namespace tavo::bench
