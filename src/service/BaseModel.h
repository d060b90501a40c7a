#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace tavo {

// A model of a server answer: it fills its own fields from a JSON object.
template <typename T>
concept Model = requires(T& model, const T& constModel, const nlohmann::json& dictionary,
                         nlohmann::json& out, const std::string& path) {
    model.propertyInjection(dictionary, path);
    constModel.propertyExport(out);
};

template <typename T>
struct IsModelArray : std::false_type {};
template <Model T>
struct IsModelArray<std::vector<T>> : std::true_type {};

// Root of the models of server answers. A model declares one std::optional
// field per JSON member, named as the member, and fills them in
// propertyInjection with one inject call per member, in declaration order.
//
// Decoding rules: members match by exact name; members the model does not
// declare are ignored; a missing member or JSON null leaves the field unset;
// objects recurse into the declared model type; values are never converted
// between kinds, except that booleans and numbers are held by value (true is
// 1, a nonzero number is true). A value the field cannot hold (a string where
// a number is declared, a fractional number where an integer is declared, a
// non-object element in an array of models) leaves the field unset or the
// element out.
class BaseModel {
public:
    using Json = nlohmann::json;

    // Deeper bodies are refused before they are built.
    static constexpr std::size_t kMaximumJsonDepth = 64;

    bool operator==(const BaseModel&) const = default;

    // Parses a body as JSON, a top-level fragment allowed. None, after logging
    // why, when the body is absent, empty, not valid JSON (or not UTF-8), or
    // nested deeper than kMaximumJsonDepth. Never throws.
    static std::optional<Json> parseJson(const std::optional<std::string>& body,
                                         const std::string& path);
    // Why a text is no JSON object ("is not valid JSON: ...", "is an array,
    // not a JSON object"); empty when it is one. Logs nothing.
    static std::string jsonObjectProblem(const std::string& text);

    // A T filled from the body; every field unset unless the body is a JSON
    // object. The path only names the exchange in log lines.
    template <Model T>
    static T initWithJson(const std::optional<std::string>& body, const std::string& path);

    // The fields that are set, as a JSON object named as the members.
    template <Model T>
    static Json toJson(const T& model) {
        Json dictionary = Json::object();
        model.propertyExport(dictionary);
        return dictionary;
    }

protected:
    template <typename T>
    static void put(Json& dictionary, const char* name, const std::optional<T>& field) {
        if (!field)
            return;
        if constexpr (Model<T>)
            dictionary[name] = toJson(*field);
        else if constexpr (IsModelArray<T>::value) {
            Json array = Json::array();
            for (const auto& element : *field)
                array.push_back(toJson(element));
            dictionary[name] = std::move(array);
        } else
            dictionary[name] = *field;
    }

    static void inject(const Json& dictionary, const char* name, std::optional<std::string>& field,
                       const std::string& path);
    static void inject(const Json& dictionary, const char* name, std::optional<std::int64_t>& field,
                       const std::string& path);
    static void inject(const Json& dictionary, const char* name, std::optional<bool>& field,
                       const std::string& path);
    // An array without element class: its values are kept as they are.
    static void injectRawArray(const Json& dictionary, const char* name, std::optional<Json>& field,
                               const std::string& path);
    template <Model T>
    static void inject(const Json& dictionary, const char* name, std::optional<T>& field,
                       const std::string& path);
    template <Model T>
    static void inject(const Json& dictionary, const char* name,
                       std::optional<std::vector<T>>& field, const std::string& path);

    // The result line of an envelope, once it is filled.
    static void logResult(const Json& dictionary, const std::optional<std::int64_t>& code,
                          const std::string& path);

private:
    // The member of that name; null when absent or JSON null.
    static const Json* member(const Json& dictionary, const char* name);
    // The warning for a member the server sent in a kind its field cannot
    // hold: which member, what it was and what it should have been.
    static void logNotHeld(const char* name, const Json& value, const char* expected,
                           const std::string& path);
};

template <Model T>
T BaseModel::initWithJson(const std::optional<std::string>& body, const std::string& path) {
    T model;
    std::optional<Json> json = parseJson(body, path);
    if (json && json->is_object())
        model.propertyInjection(*json, path);
    return model;
}

template <Model T>
void BaseModel::inject(const Json& dictionary, const char* name, std::optional<T>& field,
                       const std::string& path) {
    const Json* value = member(dictionary, name);
    if (!value)
        return;
    if (!value->is_object())
        return logNotHeld(name, *value, "an object", path);
    T model;
    model.propertyInjection(*value, path);
    field = std::move(model);
}

template <Model T>
void BaseModel::inject(const Json& dictionary, const char* name,
                       std::optional<std::vector<T>>& field, const std::string& path) {
    const Json* value = member(dictionary, name);
    if (!value)
        return;
    if (!value->is_array())
        return logNotHeld(name, *value, "an array", path);
    std::vector<T> elements;
    elements.reserve(value->size());
    for (const Json& element : *value) {
        if (!element.is_object()) {
            logNotHeld(name, element, "an object", path);
            continue;
        }
        T model;
        model.propertyInjection(element, path);
        elements.push_back(std::move(model));
    }
    field = std::move(elements);
}

}  // namespace tavo
