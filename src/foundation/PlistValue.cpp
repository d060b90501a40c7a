#include "foundation/PlistValue.h"

#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/DateUtil.h"
#include "foundation/FileUtil.h"
#include "foundation/PlistXmlWriter.h"

namespace tavo {

namespace {

// Property-list dates count from 2001-01-01 00:00:00 UTC.
constexpr std::int64_t kPlistEpoch = 978307200;

struct NodeDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

std::optional<PlistValue> fromNode(plist_t node, int depth);

// Whether a string or a key of the document holds a NUL byte (a binary list
// may, and so may an XML one through a character reference). libplist aborts
// the program on an assertion when such a text is read as a C string, so
// these documents are refused before anything is read. Its XML text carries
// the NUL as it is, everything else there being text.
bool holdsNul(plist_t root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const bool found = xml && std::memchr(xml, 0, length) != nullptr;
    plist_to_xml_free(xml);
    return found;
}

std::optional<PlistValue> fromDict(plist_t node, int depth) {
    PlistDict dict;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    if (!it)
        return dict;
    for (;;) {
        char* key = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, it, &key, &child);
        if (!key || !child) {
            std::free(key);
            break;
        }
        auto value = fromNode(child, depth + 1);
        if (!value) {
            std::free(key);
            std::free(it);
            return std::nullopt;
        }
        dict.emplace(key, std::move(*value));
        std::free(key);
    }
    std::free(it);
    return dict;
}

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (!node || depth > 64)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            char* s = nullptr;
            plist_get_string_val(node, &s);
            std::string text = s ? s : "";
            std::free(s);
            return text;
        }
        case PLIST_DATA: {
            char* bytes = nullptr;
            uint64_t length = 0;
            plist_get_data_val(node, &bytes, &length);
            PlistData data(bytes, bytes + length);
            std::free(bytes);
            return data;
        }
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return b != 0;
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return static_cast<std::int64_t>(u);
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return d;
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            const auto since1970 =
                std::chrono::seconds(kPlistEpoch + sec) + std::chrono::microseconds(usec);
            return PlistDate(std::chrono::duration_cast<PlistDate::duration>(since1970));
        }
        case PLIST_ARRAY: {
            PlistArray array;
            const uint32_t n = plist_array_get_size(node);
            for (uint32_t i = 0; i < n; ++i) {
                auto value = fromNode(plist_array_get_item(node, i), depth + 1);
                if (!value)
                    return std::nullopt;
                array.push_back(std::move(*value));
            }
            return array;
        }
        case PLIST_DICT:
            return fromDict(node, depth);
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<PlistValue> PlistValue::parse(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > UINT32_MAX)
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    Node node(root);
    if (!node || holdsNul(node.get()))
        return std::nullopt;
    return fromNode(node.get(), 0);
}

std::optional<PlistValue> PlistValue::readFile(const std::string& path) {
    const auto bytes = FileUtil::readFile(path);
    return bytes ? parse(*bytes) : std::nullopt;
}

std::string PlistValue::toXml() const {
    return PlistXmlWriter::document(*this);
}

bool PlistValue::writeToFile(const std::string& path, bool atomically, mode_t mode,
                             Error* error) const {
    return FileUtil::writeFile(path, toXml(), atomically, mode, error);
}

std::string PlistValue::text() const {
    struct Visitor {
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const PlistData& d) const {
            return "<" + std::to_string(d.size()) + " bytes>";
        }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(std::int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return std::to_string(d); }
        std::string operator()(const PlistDate& date) const {
            return DateUtil::getFormatStringFromDate(date, kDefaultDateFormat);
        }
        std::string operator()(const PlistArray& a) const {
            return "(" + std::to_string(a.size()) + " items)";
        }
        std::string operator()(const PlistDict& d) const {
            return "{" + std::to_string(d.size()) + " keys}";
        }
    };
    return std::visit(Visitor{}, value_);
}

}  // namespace tavo
