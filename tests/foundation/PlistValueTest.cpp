#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "foundation/PlistValue.h"
#include "support/Sandbox.h"

using tavo::PlistArray;
using tavo::PlistData;
using tavo::PlistDate;
using tavo::PlistDict;
using tavo::PlistValue;

namespace {

// A user configuration as the other platform's property-list writer leaves it.
constexpr const char* kAppleWritten = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>Device ID</key>
	<data>
	q83vASNFZ4mrze8BI0VniQ==
	</data>
	<key>Forced Update</key>
	<false/>
	<key>HelpPageURL</key>
	<string>https://help.example.com/</string>
	<key>Scheduled Date</key>
	<date>2024-05-01T09:15:02Z</date>
	<key>Count</key>
	<integer>-42</integer>
	<key>Ratio</key>
	<real>0.25</real>
	<key>ContractIds</key>
	<array>
		<string>c-1</string>
		<true/>
	</array>
</dict>
</plist>
)";

}  // namespace

TEST(PlistValue, ReadsWhatTheOtherPlatformWrites) {
    const auto value = PlistValue::parse(kAppleWritten);
    ASSERT_TRUE(value);
    const auto& dict = *value->get<PlistDict>();
    const PlistData expected{0xab, 0xcd, 0xef, 0x01, 0x23, 0x45, 0x67, 0x89,
                             0xab, 0xcd, 0xef, 0x01, 0x23, 0x45, 0x67, 0x89};
    EXPECT_EQ(*tavo::plistGet<PlistData>(dict, "Device ID"), expected);
    EXPECT_EQ(*tavo::plistGet<bool>(dict, "Forced Update"), false);
    EXPECT_EQ(*tavo::plistGet<std::string>(dict, "HelpPageURL"), "https://help.example.com/");
    EXPECT_EQ(tavo::plistGet<PlistDate>(dict, "Scheduled Date")->time_since_epoch(),
              std::chrono::seconds(1714554902));
    EXPECT_EQ(*tavo::plistGet<std::int64_t>(dict, "Count"), -42);
    EXPECT_DOUBLE_EQ(*tavo::plistGet<double>(dict, "Ratio"), 0.25);
    const auto& ids = *tavo::plistGet<PlistArray>(dict, "ContractIds");
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(*ids[1].get<bool>(), true);
}

TEST(PlistValue, WrittenValuesReadBackUnchanged) {
    const auto original = PlistValue::parse(kAppleWritten);
    ASSERT_TRUE(original);
    const auto again = PlistValue::parse(original->toXml());
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *original);

    const PlistDate before1970 = PlistDate(std::chrono::seconds(-86400 * 400));
    const PlistValue dates(PlistDict{{"d", before1970}, {"e", PlistData{}}});
    EXPECT_EQ(*PlistValue::parse(dates.toXml()), dates);
}

TEST(PlistValue, NotAPropertyListReadsAsNothing) {
    EXPECT_FALSE(PlistValue::parse(""));
    EXPECT_FALSE(PlistValue::parse("garbage that is no plist"));
    EXPECT_FALSE(PlistValue::parse(std::string(kAppleWritten).substr(0, 200)));
    EXPECT_FALSE(PlistValue::readFile("/nonexistent/file.plist"));
}

TEST(PlistValue, FilesAreWrittenWithTheirModeAndReplacedWhole) {
    tavo::test::Sandbox sandbox;
    const std::string path = sandbox.home() + "/x.plist";
    tavo::test::Sandbox::writeFile(path, "old contents");
    ASSERT_TRUE(PlistValue(PlistDict{{"k", "v"}}).writeToFile(path, true, 0600));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(*PlistValue::readFile(path), PlistValue(PlistDict{{"k", "v"}}));

    tavo::Error error;
    EXPECT_FALSE(PlistValue(PlistDict{})
                     .writeToFile(sandbox.home() + "/missing/x.plist", true, 0600, &error));
    EXPECT_NE(error.code, 0);
}

// A binary list of one dictionary entry whose key and value are UTF-16
// strings of the given code units.
std::string binaryListOfOneEntry(const std::u16string& key, const std::u16string& value) {
    std::string out = "bplist00";
    std::vector<std::size_t> offsets;
    auto object = [&](const std::string& bytes) {
        offsets.push_back(out.size());
        out += bytes;
    };
    auto utf16 = [](const std::u16string& text) {
        std::string bytes(1, static_cast<char>(0x60 | text.size()));
        for (char16_t unit : text) {
            bytes.push_back(static_cast<char>(unit >> 8));
            bytes.push_back(static_cast<char>(unit & 0xff));
        }
        return bytes;
    };
    object(std::string("\xd1\x01\x02", 3));  // a dictionary: key object 1, value object 2
    object(utf16(key));
    object(utf16(value));
    const std::size_t table = out.size();
    for (std::size_t offset : offsets)
        out.push_back(static_cast<char>(offset));
    std::string trailer(32, '\0');
    trailer[6] = 1;   // offset size
    trailer[7] = 1;   // object reference size
    trailer[15] = 3;  // objects
    trailer[31] = static_cast<char>(table);
    return out + trailer;
}

TEST(PlistValue, ABinaryListWithANulInsideAStringOrKeyIsRefusedNotACrash) {
    // Reading such a text made libplist abort the program.
    const std::u16string withNul(u"\u00e9\0b", 3);
    EXPECT_FALSE(PlistValue::parse(binaryListOfOneEntry(u"k", withNul)));
    EXPECT_FALSE(PlistValue::parse(binaryListOfOneEntry(withNul, u"v")));

    // The same lists without the NUL read as usual.
    const auto value = PlistValue::parse(binaryListOfOneEntry(u"k", u"\u00e9-b"));
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, PlistValue(PlistDict{{"k", "\u00e9-b"}}));
    const auto key = PlistValue::parse(binaryListOfOneEntry(u"\u00e9-b", u"v"));
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, PlistValue(PlistDict{{"\u00e9-b", "v"}}));
}
