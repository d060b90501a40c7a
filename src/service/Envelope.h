#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "service/BaseModel.h"
#include "service/ResultCodes.h"

namespace tavo {

// The JSON envelope of every answer of the delivery API server: the result
// code, its message and the payload.
template <typename Data>
struct Envelope : BaseModel {
    std::optional<std::int64_t> code;
    std::optional<std::string> message;
    std::optional<Data> data;

    // Never fails: an absent or unreadable body gives an envelope with every
    // member unset. Logs the result line when a code was read.
    static Envelope initWithJson(const std::optional<std::string>& body, const std::string& path) {
        return BaseModel::initWithJson<Envelope>(body, path);
    }
    // The code, or kHttpResponceCodeUndefinedValue when none was read.
    std::int64_t resultCode() const { return code.value_or(kHttpResponceCodeUndefinedValue); }

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Envelope&) const = default;
};

// An envelope without payload.
template <>
struct Envelope<void> : BaseModel {
    std::optional<std::int64_t> code;
    std::optional<std::string> message;

    static Envelope initWithJson(const std::optional<std::string>& body, const std::string& path) {
        return BaseModel::initWithJson<Envelope>(body, path);
    }
    std::int64_t resultCode() const { return code.value_or(kHttpResponceCodeUndefinedValue); }

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Envelope&) const = default;
};

template <typename Data>
void Envelope<Data>::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "code", code, path);
    inject(dictionary, "message", message, path);
    inject(dictionary, "data", data, path);
    logResult(dictionary, code, path);
}

inline void Envelope<void>::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "code", code, path);
    inject(dictionary, "message", message, path);
    logResult(dictionary, code, path);
}

template <typename Data>
void Envelope<Data>::propertyExport(Json& dictionary) const {
    put(dictionary, "code", code);
    put(dictionary, "message", message);
    put(dictionary, "data", data);
}

inline void Envelope<void>::propertyExport(Json& dictionary) const {
    put(dictionary, "code", code);
    put(dictionary, "message", message);
}

}  // namespace tavo
