// The property-list writer against libplist's own XML output, byte for byte.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "foundation/PlistValue.h"
#include "foundation/PlistXmlWriter.h"

namespace tavo::test {
namespace {

constexpr std::int64_t kPlistEpoch = 978307200;

// The same value as a libplist tree, built independently of the writer.
plist_t libplistNode(const PlistValue& value) {
    struct Visitor {
        plist_t operator()(const std::string& s) const { return plist_new_string(s.c_str()); }
        plist_t operator()(const PlistData& d) const {
            return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
        }
        plist_t operator()(bool b) const { return plist_new_bool(b); }
        plist_t operator()(std::int64_t i) const {
            return plist_new_uint(static_cast<uint64_t>(i));
        }
        plist_t operator()(double d) const { return plist_new_real(d); }
        plist_t operator()(const PlistDate& date) const {
            using namespace std::chrono;
            const auto micros = duration_cast<microseconds>(date.time_since_epoch()).count() -
                                kPlistEpoch * 1000000;
            auto sec = micros / 1000000;
            auto usec = micros % 1000000;
            if (usec < 0) {
                usec += 1000000;
                sec -= 1;
            }
            return plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>(usec));
        }
        plist_t operator()(const PlistArray& a) const {
            plist_t node = plist_new_array();
            for (const auto& item : a)
                plist_array_append_item(node, libplistNode(item));
            return node;
        }
        plist_t operator()(const PlistDict& d) const {
            plist_t node = plist_new_dict();
            for (const auto& [key, item] : d)
                plist_dict_set_item(node, key.c_str(), libplistNode(item));
            return node;
        }
    };
    return std::visit(Visitor{}, value.variant());
}

std::string libplistXml(const PlistValue& value) {
    plist_t node = libplistNode(value);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    std::string out = xml ? std::string(xml, length) : std::string();
    plist_to_xml_free(xml);
    plist_free(node);
    return out;
}

PlistDate dateAt(std::int64_t secondsSince1970, std::int64_t micros = 0) {
    return PlistDate(std::chrono::duration_cast<PlistDate::duration>(
        std::chrono::seconds(secondsSince1970) + std::chrono::microseconds(micros)));
}

TEST(PlistXmlWriterTest, EveryKindOfValueIsWrittenAsLibplistWritesIt) {
    PlistData bytes;
    for (int i = 0; i < 200; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i * 7));
    const PlistDict dict{
        {"string", std::string("a<b>&c\"' \t\xc3\xa9 ]]>")},
        {"empty", std::string()},
        {"negative", std::int64_t{-5}},
        {"large", std::int64_t{12345678901}},
        {"extremes", PlistArray{std::numeric_limits<std::int64_t>::min(),
                                std::numeric_limits<std::int64_t>::max(), std::int64_t{0}}},
        {"yes", true},
        {"no", false},
        {"reals", PlistArray{1.5, 0.1, 1e300, 3.0, 0.0, -0.0, 1e-310, 123456789.125, 1e17, 1e16,
                             std::nan(""), HUGE_VAL, -HUGE_VAL, -2.5, 1e-5}},
        {"dates", PlistArray{dateAt(978307300, 5), dateAt(1767225600), dateAt(0), dateAt(-86401)}},
        {"data", bytes},
        {"data one", PlistData{1}},
        {"data two", PlistData{1, 2}},
        {"no data", PlistData{}},
        {"nested", PlistArray{std::string("x"), PlistDict{}, PlistArray{},
                              PlistDict{{"deep", PlistArray{PlistDict{{"k", bytes}}}}}}},
        {"k<&>", std::string("v")},
    };
    EXPECT_EQ(PlistXmlWriter::document(dict), libplistXml(dict));
    EXPECT_EQ(PlistXmlWriter::document(PlistDict{}), libplistXml(PlistDict{}));
    EXPECT_EQ(PlistXmlWriter::document(std::string("top")), libplistXml(std::string("top")));
    EXPECT_EQ(PlistXmlWriter::document(bytes), libplistXml(bytes));
}

// Font lists of many records, with random texts: what is written most.
TEST(PlistXmlWriterTest, RandomFontListsAreWrittenAsLibplistWritesThemAndReadBack) {
    std::mt19937 random(20261209);
    auto text = [&] {
        static const std::string alphabet =
            "abcXYZ 019_-.&<>\"'/\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
        std::string s;
        const int n = static_cast<int>(random() % 24);
        for (int i = 0; i < n; ++i)
            s += alphabet[random() % alphabet.size()];
        // Cut UTF-8 sequences would differ only in what a reader makes of them.
        return PlistValue::parse(libplistXml(s)) ? s : std::string("plain");
    };
    for (int round = 0; round < 20; ++round) {
        PlistDict list;
        for (int i = 0; i < 50; ++i)
            list[std::to_string(random())] = PlistDict{
                {"fontFileName", text()},
                {"displayFontName", text()},
                {"isActivate", random() % 2 == 0},
                {"contractIds", PlistArray{text(), text()}},
                {"fileSize", static_cast<std::int64_t>(random())},
                {"version", static_cast<double>(random()) / 1000.0},
            };
        const std::string written = PlistXmlWriter::document(list);
        ASSERT_EQ(written, libplistXml(list)) << "round " << round;
        const auto read = PlistValue::parse(written);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, PlistValue(list));
    }
}

}  // namespace
}  // namespace tavo::test
