#include "fontid/RecordCodec.h"

#include <nlohmann/json.hpp>

namespace tavo::fontid {

using nlohmann::json;

namespace {

// The identifier as text: a string, or an integer id written as a number.
std::optional<std::string> identifierText(const json& value) {
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        if (text.empty())
            return std::nullopt;
        return text;
    }
    if (value.is_number_unsigned())
        return std::to_string(value.get<std::uint64_t>());
    return std::nullopt;
}

}  // namespace

std::optional<FontRecord> RecordCodec::decode(std::string_view payload) {
    // The JSON parser takes a NUL for the end of its input: one anywhere
    // would let trailing bytes pass unseen.
    if (payload.empty() || payload.size() > kMaximumRecordSize ||
        payload.find('\0') != std::string_view::npos)
        return std::nullopt;
    const json document = json::parse(payload.begin(), payload.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return std::nullopt;

    const auto fontId = document.find("fontId");
    const auto version = document.find("version");
    if (fontId == document.end() || version == document.end() || !version->is_string())
        return std::nullopt;
    std::optional<std::string> id = identifierText(*fontId);
    if (!id)
        return std::nullopt;
    return FontRecord{std::move(*id), version->get<std::string>()};
}

std::string RecordCodec::encode(const FontRecord& record) {
    const json document = {{"fontId", record.fontId}, {"version", record.version}};
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace tavo::fontid
