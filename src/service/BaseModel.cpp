#include "service/BaseModel.h"

#include <cmath>
#include <limits>

#include "foundation/Log.h"
#include "service/ResultCodes.h"

namespace tavo {

namespace {

using Json = BaseModel::Json;

// Builds the document from the parser's events and stops the parse as soon as
// the nesting passes the limit, so a hostile body costs neither stack nor
// memory. The parser itself keeps its state on the heap.
class DepthLimitedBuilder {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    bool null() { return put(Json(nullptr)); }
    bool boolean(bool value) { return put(Json(value)); }
    bool number_integer(number_integer_t value) { return put(Json(value)); }
    bool number_unsigned(number_unsigned_t value) { return put(Json(value)); }
    bool number_float(number_float_t value, const string_t&) { return put(Json(value)); }
    bool string(string_t& value) { return put(Json(std::move(value))); }
    bool binary(binary_t& value) { return put(Json::binary(std::move(value))); }
    bool start_object(std::size_t) { return open(Json::object()); }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_array() { return close(); }
    bool key(string_t& name) {
        key_ = std::move(name);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const Json::exception& error) {
        error_ = error.what();
        return false;
    }

    Json& root() { return root_; }
    const std::string& error() const { return error_; }

private:
    // Places a value in the open container (or as the document) and returns
    // where it landed.
    Json* insert(Json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& container = *open_.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return &container.back();
        }
        Json& slot = container[key_];  // a repeated name keeps its last value
        slot = std::move(value);
        return &slot;
    }
    bool put(Json value) {
        insert(std::move(value));
        return true;
    }
    bool open(Json container) {
        if (open_.size() >= BaseModel::kMaximumJsonDepth) {
            error_ = format("nesting deeper than %ld levels",
                            static_cast<long>(BaseModel::kMaximumJsonDepth));
            return false;
        }
        open_.push_back(insert(std::move(container)));
        return true;
    }
    bool close() {
        open_.pop_back();
        return true;
    }

    Json root_;
    std::vector<Json*> open_;
    std::string key_;
    std::string error_;
};

// The text of a member for the result line, as the server sent it.
std::string memberText(const Json& dictionary, const char* name) {
    auto it = dictionary.find(name);
    if (it == dictionary.end() || it->is_null())
        return "(null)";
    if (it->is_string())
        return it->get<std::string>();
    return it->dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The kind of a JSON value, as the warnings name it.
const char* kindText(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
            return "null";
        case Json::value_t::boolean:
            return "a boolean";
        case Json::value_t::string:
            return "a string";
        case Json::value_t::array:
            return "an array";
        case Json::value_t::object:
            return "an object";
        case Json::value_t::number_float:
            return std::trunc(value.get<double>()) == value.get<double>() ? "a number"
                                                                          : "a fractional number";
        case Json::value_t::number_unsigned:
            return value.get<std::uint64_t>() >
                           static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                       ? "a number beyond 64 bits"
                       : "a number";
        case Json::value_t::number_integer:
            return "a number";
        default:
            return "a value of another kind";
    }
}

// Parses a text as JSON; the parser's reason in error when it is none.
std::optional<Json> parse(const std::string& text, std::string* error) {
    DepthLimitedBuilder builder;
    bool parsed = false;
    try {
        parsed = Json::sax_parse(text, &builder);
    } catch (const Json::exception& failure) {
        parsed = false;
        if (builder.error().empty())
            builder.parse_error(0, "", failure);
    }
    if (!parsed) {
        *error = builder.error().empty() ? std::string("unknown") : builder.error();
        return std::nullopt;
    }
    return std::move(builder.root());
}

}  // namespace

std::optional<Json> BaseModel::parseJson(const std::optional<std::string>& body,
                                         const std::string& path) {
    if (!body)
        return std::nullopt;
    if (body->empty()) {
        ILog("Response %@: empty json string", path);
        return std::nullopt;
    }
    std::string error;
    auto json = parse(*body, &error);
    if (!json) {
        ILog("Response %@: Failed serialization of json string: Description: [%@]", path, error);
        DLog("Received raw json: [%@]", *body);
    }
    return json;
}

std::string BaseModel::jsonObjectProblem(const std::string& text) {
    std::string error;
    const auto json = parse(text, &error);
    if (!json)
        return "is not valid JSON: " + error;
    if (!json->is_object())
        return std::string("is ") + kindText(*json) + ", not a JSON object";
    return {};
}

const Json* BaseModel::member(const Json& dictionary, const char* name) {
    auto it = dictionary.find(name);
    if (it == dictionary.end() || it->is_null())
        return nullptr;
    return &*it;
}

void BaseModel::logNotHeld(const char* name, const Json& value, const char* expected,
                           const std::string& path) {
    WLog("Response %@: member %@ left out: %@ where %@ is expected", path, name, kindText(value),
         expected);
}

void BaseModel::inject(const Json& dictionary, const char* name, std::optional<std::string>& field,
                       const std::string& path) {
    const Json* value = member(dictionary, name);
    if (!value)
        return;
    if (!value->is_string())
        return logNotHeld(name, *value, "a string", path);
    field = value->get<std::string>();
}

void BaseModel::inject(const Json& dictionary, const char* name, std::optional<std::int64_t>& field,
                       const std::string& path) {
    const Json* value = member(dictionary, name);
    if (!value)
        return;
    switch (value->type()) {
        case Json::value_t::number_integer:
            field = value->get<std::int64_t>();
            return;
        case Json::value_t::number_unsigned:
            if (value->get<std::uint64_t>() <=
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                field = static_cast<std::int64_t>(value->get<std::uint64_t>());
                return;
            }
            break;
        case Json::value_t::number_float: {
            // Whole numbers written as decimals (1024.0, 1e3) keep their value; a
            // fraction is no integer and is never rounded into one (0.5 is no
            // result code 0).
            double number = value->get<double>();
            constexpr double kLimit = 9223372036854775808.0;  // 2^63
            if (std::trunc(number) == number && number >= -kLimit && number < kLimit) {
                field = static_cast<std::int64_t>(number);
                return;
            }
            break;
        }
        case Json::value_t::boolean:
            field = value->get<bool>() ? 1 : 0;
            return;
        default:
            break;
    }
    logNotHeld(name, *value, "an integer", path);
}

void BaseModel::inject(const Json& dictionary, const char* name, std::optional<bool>& field,
                       const std::string& path) {
    const Json* value = member(dictionary, name);
    if (!value)
        return;
    switch (value->type()) {
        case Json::value_t::boolean:
            field = value->get<bool>();
            return;
        case Json::value_t::number_integer:
            field = value->get<std::int64_t>() != 0;
            return;
        case Json::value_t::number_unsigned:
            field = value->get<std::uint64_t>() != 0;
            return;
        case Json::value_t::number_float:
            field = value->get<double>() != 0.0;
            return;
        default:
            logNotHeld(name, *value, "a boolean", path);
    }
}

void BaseModel::injectRawArray(const Json& dictionary, const char* name, std::optional<Json>& field,
                               const std::string& path) {
    const Json* value = member(dictionary, name);
    if (!value)
        return;
    if (!value->is_array())
        return logNotHeld(name, *value, "an array", path);
    field = *value;
}

void BaseModel::logResult(const Json& dictionary, const std::optional<std::int64_t>& code,
                          const std::string& path) {
    if (!code)
        return;
    std::string message = memberText(dictionary, "message");
    if (*code == kHttpResponceCodeSucceeded || *code == kHttpResponceCodeTwoFARequired)
        ILog("Response %@ message=%@", path, message);
    else
        ILog("Response %@ code=%@, message=%@", path, *code, message);
}

}  // namespace tavo
