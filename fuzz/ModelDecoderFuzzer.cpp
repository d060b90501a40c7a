// libFuzzer target for the envelope and model decoder. Every input is a
// server body: it is decoded as the envelope of every answer the client
// reads. Decoding never throws; what a model holds, exported and decoded
// again, gives the same model; and the export of the font list page is JSON
// that reads back. The header reader gets the input as well, as a
// Content-Disposition and as an address.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "service/AccountModels.h"
#include "service/AuthModels.h"
#include "service/ClientAppsModels.h"
#include "service/FontModels.h"
#include "service/Response.h"

namespace {

using tavo::BaseModel;
using Json = BaseModel::Json;

const std::string kPath = "/fuzz";

// Decodes the envelope as initWithJson does from an already parsed body, and
// checks that exporting it and decoding the export changes nothing.
template <typename Base>
void decode(const std::optional<Json>& json) {
    Base model;
    if (json && json->is_object())
        model.propertyInjection(*json, kPath);
    const Json exported = BaseModel::toJson(model);
    FUZZ_CHECK(exported.is_object());
    Base again;
    again.propertyInjection(exported, kPath);
    FUZZ_CHECK(again == model);
}

void checkSuggestedFilename(const std::string& bytes) {
    tavo::HttpUrlResponse response;
    response.headers["content-disposition"] = bytes;
    response.url = bytes;
    for (int pass = 0; pass < 2; ++pass) {
        const std::string name = response.suggestedFilename();
        FUZZ_CHECK(!name.empty() && name != "." && name != "..");
        FUZZ_CHECK(name.find('/') == std::string::npos);
        FUZZ_CHECK(name.find('\\') == std::string::npos);
        response.headers.clear();  // then from the address alone
    }
    (void)response.mimeType();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<std::string> body(std::in_place, reinterpret_cast<const char*>(data), size);
    const std::optional<Json> json = BaseModel::parseJson(body, kPath);

    decode<tavo::FontsBase>(json);
    decode<tavo::LoginBase>(json);
    decode<tavo::Auth2FactBase>(json);
    decode<tavo::TokenBase>(json);
    decode<tavo::RefreshTokenBase>(json);
    decode<tavo::DeviceIdBase>(json);
    decode<tavo::DevicesBase>(json);
    decode<tavo::DeviceBase>(json);
    decode<tavo::LogoutBase>(json);
    decode<tavo::CustomerBase>(json);
    decode<tavo::ScreensBase>(json);
    decode<tavo::NoticeBase>(json);
    decode<tavo::ClientAppsBase>(json);

    // The whole way once, from the body's text, and back through text.
    const tavo::FontsBase fonts = tavo::FontsBase::initWithJson(body, kPath);
    const std::string text = BaseModel::toJson(fonts).dump();
    FUZZ_CHECK(tavo::FontsBase::initWithJson(text, kPath) == fonts);

    checkSuggestedFilename(*body);
    return 0;
}
