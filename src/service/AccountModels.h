#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "service/BaseModel.h"
#include "service/Envelope.h"

namespace tavo {

// The signed-in account (GET /customer).
struct Customer : BaseModel {
    std::optional<std::string> mailAddress;
    std::optional<std::string> lastName;
    std::optional<std::string> firstName;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Customer&) const = default;
};

// The address of a page of the service's web site (GET /screens/.../url).
struct Screens : BaseModel {
    std::optional<std::string> url;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Screens&) const = default;
};

// The account's notices (GET /notice).
struct Notice : BaseModel {
    std::optional<std::int64_t> total;
    std::optional<bool> existsLatestNotice;  // a notice newer than the last one seen

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const Notice&) const = default;
};

using CustomerBase = Envelope<Customer>;
using ScreensBase = Envelope<Screens>;
using NoticeBase = Envelope<Notice>;

extern template struct Envelope<Customer>;
extern template struct Envelope<Screens>;
extern template struct Envelope<Notice>;

}  // namespace tavo
