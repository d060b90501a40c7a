#include "service/AccountModels.h"

namespace tavo {

template struct Envelope<Customer>;
template struct Envelope<Screens>;
template struct Envelope<Notice>;

void Customer::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "mailAddress", mailAddress, path);
    inject(dictionary, "lastName", lastName, path);
    inject(dictionary, "firstName", firstName, path);
}

void Screens::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "url", url, path);
}

void Notice::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "total", total, path);
    inject(dictionary, "existsLatestNotice", existsLatestNotice, path);
}

void Customer::propertyExport(Json& dictionary) const {
    put(dictionary, "mailAddress", mailAddress);
    put(dictionary, "lastName", lastName);
    put(dictionary, "firstName", firstName);
}

void Screens::propertyExport(Json& dictionary) const {
    put(dictionary, "url", url);
}

void Notice::propertyExport(Json& dictionary) const {
    put(dictionary, "total", total);
    put(dictionary, "existsLatestNotice", existsLatestNotice);
}

}  // namespace tavo
