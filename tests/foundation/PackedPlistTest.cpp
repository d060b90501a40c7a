#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <random>
#include <string>

#include "foundation/PackedPlist.h"

namespace tavo::test {
namespace {

PlistValue everyKind() {
    using namespace std::chrono;
    std::string longText(300, 'x');  // a length that takes two bytes
    longText[7] = '\0';
    return PlistDict{
        {"", "empty key"},
        {"Activate", true},
        {"Available Font", false},
        {"ContractIds", PlistArray{"C1", "C2", PlistArray{}, PlistDict{}}},
        {"Data", PlistData{0, 1, 0x80, 0xff}},
        {"Date", PlistDate(nanoseconds(1765432109123456789LL))},
        {"Before 1970", PlistDate(seconds(-86400))},
        {"Integer", std::numeric_limits<std::int64_t>::min()},
        {"Real", -0.1},
        {"Long", longText},
        {"Nested", PlistDict{{"Inner", PlistDict{{"Deep", 3}}}}},
        {"Status Type", "installed"},
        {"\xc3\xa9t\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac"},
    };
}

TEST(PackedPlistTest, UnpackingGivesBackExactlyWhatWasPacked) {
    const PlistValue value = everyKind();
    EXPECT_EQ(PackedPlist(value).value(), value);
    for (const PlistValue& scalar :
         {PlistValue("top-level text"), PlistValue(42), PlistValue(PlistArray{}),
          PlistValue(PlistDict{}), PlistValue(PlistData{})})
        EXPECT_EQ(PackedPlist(scalar).value(), scalar);

    // Random font lists, as the store keeps them.
    std::mt19937 random(20261211);
    for (int round = 0; round < 200; ++round) {
        PlistDict record;
        const int fields = static_cast<int>(random() % 12);
        for (int i = 0; i < fields; ++i) {
            std::string text(random() % 200, ' ');
            for (char& c : text)
                c = static_cast<char>(random());
            record[std::to_string(random())] =
                i % 3 == 0 ? PlistValue(text)
                : i % 3 == 1
                    ? PlistValue(static_cast<std::int64_t>(random()) - (std::int64_t{1} << 31))
                    : PlistValue(PlistArray{text, static_cast<double>(random())});
        }
        EXPECT_EQ(PackedPlist(record).value(), PlistValue(record));
    }
}

TEST(PackedPlistTest, ATextIsFoundByItsKeyWithoutUnpacking) {
    const PackedPlist packed(everyKind());
    EXPECT_TRUE(packed.isDict());
    // Past keys holding arrays, dictionaries, data and dates.
    EXPECT_EQ(packed.text("Status Type"), "installed");
    EXPECT_EQ(packed.text(""), "empty key");
    EXPECT_EQ(packed.text("\xc3\xa9t\xc3\xa9"), "\xe6\x97\xa5\xe6\x9c\xac");
    EXPECT_EQ(packed.text("Long")->size(), 300u);
    // Not a text, missing, or only inside a nested dictionary.
    EXPECT_EQ(packed.text("Activate"), std::nullopt);
    EXPECT_EQ(packed.text("Status"), std::nullopt);
    EXPECT_EQ(packed.text("zzz"), std::nullopt);
    EXPECT_EQ(packed.text("Inner"), std::nullopt);

    EXPECT_FALSE(PackedPlist(PlistValue("text")).isDict());
    EXPECT_EQ(PackedPlist(PlistValue("text")).text("text"), std::nullopt);
    EXPECT_EQ(PackedPlist().text("Status Type"), std::nullopt);
    EXPECT_EQ(PackedPlist().value(), PlistValue());
}

TEST(PackedPlistTest, EqualValuesPackEqualAndAFontRecordPacksSmall) {
    const PlistValue value = everyKind();
    const PlistDict& a = *value.get<PlistDict>();
    PlistDict b = a;
    EXPECT_EQ(PackedPlist(a), PackedPlist(b));
    b["Status Type"] = "downloading";
    EXPECT_NE(PackedPlist(a), PackedPlist(b));

    const PlistDict record{
        {"File Name", "OskavelleSans-BoldItalic.otf"},
        {"Display Font Name", "Oskavelle Sans Bold Italic"},
        {"Activate", true},
        {"Available Font", true},
        {"Freemium", false},
        {"ContractIds", PlistArray{"CT-000123"}},
        {"Status Type", "installed"},
        {"Font File Update Date", "2026-12-11 08:00:00"},
        {"Font StorageLocation Type", "3"},
    };
    EXPECT_LT(PackedPlist(record).size(), 260u);
}

}  // namespace
}  // namespace tavo::test
