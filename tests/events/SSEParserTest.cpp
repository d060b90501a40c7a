// The event-stream parser against the format's cases and the classic parser
// faults, each fed whole, byte by byte and in random chunk sizes.
#include <gtest/gtest.h>

#include <random>

#include "events/SSEParser.h"

namespace tavo {
namespace {

struct Expected {
    std::optional<std::string> id;
    std::optional<std::string> event;
    std::optional<std::string> data;
};

struct Case {
    const char* name;
    std::string input;
    std::vector<Expected> events;  // in order
    std::string rest;              // text left in the buffer
};

std::vector<Case> cases() {
    return {
        {"one event",
         "id: 5\nevent: font-activate\ndata: {}\n\n",
         {{"5", "font-activate", "{}"}},
         ""},
        {"repeated data lines", "event: x\ndata: a\ndata: b\n\n", {{{}, "x", "a\nb"}}, ""},
        {"comments only", ": connected\n: keep-alive\n\n", {}, ""},
        {"comment lines inside an event",
         ": hello\nid: 1\n: mid\nevent: e\n\n",
         {{"1", "e", {}}},
         ""},
        {"text after the last blank line stays",
         "id: 1\nevent: e\n\nid: 2\nevent: f\n",
         {{"1", "e", {}}},
         "id: 2\nevent: f\n"},
        {"crlf pairs do not end a block",
         "id: 3\r\nevent: e\r\n\r\ndata: d\r\n",
         {},
         "id: 3\r\nevent: e\r\n\r\ndata: d\r\n"},
        {"crlf block ended by two line feeds",
         "id: 3\r\nevent: e\r\ndata: d\n\n",
         {{"3", "e", "d"}},
         ""},
        {"empty blocks make no event", "\n\n\n\nid: 1\nevent: e\n\n", {{"1", "e", {}}}, ""},
        {"white space around names and values",
         "  event:    spaced  \n\tdata:\tx\n\n",
         {{{}, "spaced  ", "x"}},
         ""},
        {"lines without a value or a name are ignored",
         "event: e\ndata:\ndata:   \nnocolon\n: \n:data: y\n\n",
         {{{}, "e", {}}},
         ""},
        {"value keeps later colons",
         "event: e\ndata: {\"a\":\"b:c\"}\n\n",
         {{{}, "e", "{\"a\":\"b:c\"}"}},
         ""},
        {"split UTF-8 characters", "event: é\ndata: Grüße 😀 字\n\n", {{{}, "é", "Grüße 😀 字"}}, ""},
        {"three events in a row",
         "id: 1\nevent: a\n\nid: 2\nevent: b\n\nid: 3\nevent: c\n\n",
         {{"1", "a", {}}, {"2", "b", {}}, {"3", "c", {}}},
         ""},
    };
}

// Feeds input in chunks of the sizes next() gives; collects the events.
std::vector<SSEEvents> feed(SSEParser& parser, const std::string& input,
                            const std::function<std::size_t()>& next) {
    std::vector<SSEEvents> events;
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t size = std::min(next(), input.size() - at);
        for (auto& block : parser.parse(std::string_view(input).substr(at, size)))
            if (block)
                events.push_back(*block);
        at += size;
    }
    return events;
}

void expectCase(const Case& c, const std::vector<SSEEvents>& events, const SSEParser& parser,
                const std::string& how) {
    SCOPED_TRACE(std::string(c.name) + " (" + how + ")");
    ASSERT_EQ(events.size(), c.events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].identifier(), c.events[i].id);
        EXPECT_EQ(events[i].event(), c.events[i].event);
        EXPECT_EQ(events[i].data(), c.events[i].data);
    }
    EXPECT_EQ(parser.buffer(), c.rest);
}

TEST(SSEParserTest, EveryCaseWholeByteByByteAndInRandomChunks) {
    std::mt19937 random(20240501);
    for (const Case& c : cases()) {
        {
            SSEParser parser;
            expectCase(c, feed(parser, c.input, [&] { return c.input.size(); }), parser, "whole");
        }
        {
            SSEParser parser;
            expectCase(c, feed(parser, c.input, [] { return std::size_t{1}; }), parser, "bytes");
        }
        for (int round = 0; round < 50; ++round) {
            SSEParser parser;
            std::uniform_int_distribution<std::size_t> size(1, 7);
            expectCase(c, feed(parser, c.input, [&] { return size(random); }), parser,
                       "random round " + std::to_string(round));
        }
    }
}

TEST(SSEParserTest, AnEventSplitInsideTheWordEventArrivesOnceTheBlankLineDoes) {
    SSEParser parser;
    EXPECT_TRUE(parser.parse("id: 5\nev").empty());
    EXPECT_TRUE(parser.parse("ent: font-activate\ndata: {}\n").empty());
    const auto blocks = parser.parse("\n");
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_TRUE(blocks[0]);
    EXPECT_EQ(blocks[0]->identifier(), "5");
    EXPECT_EQ(blocks[0]->event(), "font-activate");
    EXPECT_EQ(blocks[0]->data(), "{}");
    EXPECT_EQ(parser.buffer(), "");
}

TEST(SSEParserTest, CommentBlocksAreReportedAsBlocksWithoutEvents) {
    SSEParser parser;
    const auto blocks = parser.parse(": keep-alive\n\n");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_FALSE(blocks[0]);
    EXPECT_EQ(parser.buffer(), "");
}

TEST(SSEParserTest, ACharacterSplitAcrossChunksIsWholeInTheTextOfTheChunkThatEndsIt) {
    SSEParser parser;
    const std::string smile = "😀";  // four bytes
    std::string text;
    parser.parse("data: " + smile.substr(0, 1), &text);
    EXPECT_EQ(text, "data: ");
    parser.parse(smile.substr(1, 2), &text);
    EXPECT_EQ(text, "");
    parser.parse(smile.substr(3) + "\n\n", &text);
    EXPECT_EQ(text, smile + "\n\n");
}

TEST(SSEParserTest, BytesThatAreNotUtf8BecomeReplacementCharactersAndTheStreamGoesOn) {
    SSEParser parser;
    const auto blocks = parser.parse(
        "event: e\ndata: a\xFF"
        "b\xC3(\xED\xA0\x80z\n\nevent: next\n\n");
    ASSERT_EQ(blocks.size(), 2u);
    ASSERT_TRUE(blocks[0] && blocks[1]);
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(blocks[0]->data(), "a" + r + "b" + r + "(" + r + r + r + "z");
    EXPECT_EQ(blocks[1]->event(), "next");
}

TEST(SSEParserTest, ABlockBeyondTheBoundIsDroppedAndTheNextEventStillArrives) {
    constexpr std::size_t kBound = 4096;
    SSEParser parser(kBound);
    std::vector<SSEEvents> events;
    auto take = [&](const std::string& chunk) {
        for (auto& block : parser.parse(chunk))
            if (block)
                events.push_back(*block);
        EXPECT_LE(parser.buffer().size(), kBound + chunk.size());
    };
    take("id: 1\nevent: before\n\n");
    take("id: 2\nevent: huge\ndata: ");
    for (int i = 0; i < 100; ++i)
        take(std::string(1000, 'x'));  // a hundred times the bound, no blank line
    EXPECT_LE(parser.buffer().size(), 1u);
    take("\ndata: still the huge one\n");  // its tail must not become an event
    take("\n");                            // the huge block's blank line, split
    take("\nid: 3\nevent: after\n\n");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event(), "before");
    EXPECT_EQ(events[1].event(), "after");
    EXPECT_EQ(events[1].identifier(), "3");
}

TEST(SSEParserTest, AWholeBlockLargerThanTheBoundInOneChunkIsDroppedToo) {
    SSEParser parser(64);
    const auto blocks =
        parser.parse("event: big\ndata: " + std::string(100, 'y') + "\n\nevent: small\n\n");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->event(), "small");
}

TEST(SSEParserTest, ABlockOfJustTheBoundIsKeptWhenItsBlankLineIsSplit) {
    const std::string block = "event: e\ndata: " + std::string(48, 'b');
    SSEParser parser(block.size());
    EXPECT_TRUE(parser.parse(block + "\n").empty());
    const auto blocks = parser.parse("\nevent: next\n\n");
    ASSERT_EQ(blocks.size(), 2u);
    ASSERT_TRUE(blocks[0] && blocks[1]);
    EXPECT_EQ(blocks[0]->data()->size(), 48u);
    EXPECT_EQ(blocks[1]->event(), "next");
}

TEST(SSEParserTest, TheDefaultBoundIsOneMebibyte) {
    SSEParser parser;
    const std::string big(SSEParser::kMaximumBlockSize - 20, 'z');
    auto blocks = parser.parse("event: e\ndata: " + big + "\n\n");
    ASSERT_EQ(blocks.size(), 1u);  // just under the bound: kept
    EXPECT_EQ(blocks[0]->data()->size(), big.size());
    blocks = parser.parse("event: e\ndata: " + big + std::string(40, 'z'));
    EXPECT_TRUE(blocks.empty());
    EXPECT_LE(parser.buffer().size(), 1u);  // over it: dropped at once
}

TEST(SSEParserTest, ClearForgetsBufferedTextAndAHeldBackCharacter) {
    SSEParser parser;
    parser.parse("event: half\ndata: \xF0\x9F");
    parser.clear();
    EXPECT_EQ(parser.buffer(), "");
    const auto blocks = parser.parse("event: fresh\n\n");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->event(), "fresh");
}

TEST(SSEEventsTest, FieldsBecomeTheEventWithRetryAndTheOtherFieldsApart) {
    EXPECT_FALSE(SSEEvents::eventWithFields(std::nullopt));
    EXPECT_FALSE(SSEEvents::eventWithFields(SSEEvents::Fields{}));
    const auto event = SSEEvents::eventWithFields(SSEEvents::Fields{
        {"id", "42"}, {"event", "font-activate"}, {"data", "{}"}, {"retry", "3000"}, {"x", "y"}});
    ASSERT_TRUE(event);
    EXPECT_EQ(event->identifier(), "42");
    EXPECT_EQ(event->retry(), 3000.0);
    EXPECT_EQ(event->userInfo(), (SSEEvents::Fields{{"x", "y"}}));
    EXPECT_EQ(SSEEvents::eventWithFields(SSEEvents::Fields{{"retry", "soon"}})->retry(), 0.0);

    PlistDict coder;
    event->encodeWithCoder(coder);
    EXPECT_EQ(SSEEvents::initWithCoder(coder), event);
}

TEST(SSEEventsTest, IntegerValueReadsLeadingDigitsOnly) {
    EXPECT_EQ(integerValue("42"), 42);
    EXPECT_EQ(integerValue("  -7abc"), -7);
    EXPECT_EQ(integerValue("abc"), 0);
    EXPECT_EQ(integerValue("99999999999999999999999"), std::numeric_limits<long long>::max());
    EXPECT_TRUE(hasIntegerValue(" 12"));
    EXPECT_FALSE(hasIntegerValue("x12"));
    EXPECT_FALSE(hasIntegerValue(""));
}

}  // namespace
}  // namespace tavo
