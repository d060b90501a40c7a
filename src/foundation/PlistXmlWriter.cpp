#include "foundation/PlistXmlWriter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace tavo {

namespace {

// Property-list dates count from 2001-01-01 00:00:00 UTC; the text keeps
// whole seconds.
void appendDate(std::string& out, const PlistDate& date) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(date.time_since_epoch()).count();
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    ::gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    out += text;
}

void appendEscaped(std::string& out, std::string_view text) {
    // Most texts have nothing to escape: they are copied whole.
    auto special = [](char c) { return c == '&' || c == '<' || c == '>'; };
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!special(text[i]))
            continue;
        out.append(text, plain, i - plain);
        out += text[i] == '&' ? "&amp;" : text[i] == '<' ? "&lt;" : "&gt;";
        plain = i + 1;
    }
    out.append(text, plain, text.size() - plain);
}

void indent(std::string& out, int depth) {
    out.append(static_cast<std::size_t>(depth), '\t');
}

// Base64 in lines that end by column 76 (a tab counting eight), each at
// the element's depth.
void appendData(std::string& out, const PlistData& data, int depth) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t kLine = static_cast<std::size_t>(std::max(1, (76 - 8 * depth) / 4) * 4);
    std::string encoded;
    encoded.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const unsigned a = data[i];
        const unsigned b = i + 1 < data.size() ? data[i + 1] : 0;
        const unsigned c = i + 2 < data.size() ? data[i + 2] : 0;
        encoded += kAlphabet[a >> 2];
        encoded += kAlphabet[((a & 3) << 4) | (b >> 4)];
        encoded += i + 1 < data.size() ? kAlphabet[((b & 15) << 2) | (c >> 6)] : '=';
        encoded += i + 2 < data.size() ? kAlphabet[c & 63] : '=';
    }
    out += "<data>\n";
    for (std::size_t at = 0; at < encoded.size(); at += kLine) {
        indent(out, depth);
        out.append(encoded, at, kLine);
        out += '\n';
    }
    indent(out, depth);
    out += "</data>";
}

}  // namespace

std::string PlistXmlWriter::document(const PlistValue& value) {
    std::string out(kHeader);
    appendValue(out, value, 0);
    out += kFooter;
    return out;
}

void PlistXmlWriter::appendKey(std::string& out, std::string_view key, int depth) {
    indent(out, depth);
    out += "<key>";
    appendEscaped(out, key);
    out += "</key>\n";
}

void PlistXmlWriter::appendValue(std::string& out, const PlistValue& value, int depth) {
    struct Visitor {
        std::string& out;
        int depth;
        void operator()(const std::string& s) const {
            out += "<string>";
            appendEscaped(out, s);
            out += "</string>";
        }
        void operator()(const PlistData& d) const { appendData(out, d, depth); }
        void operator()(bool b) const { out += b ? "<true/>" : "<false/>"; }
        void operator()(std::int64_t i) const {
            out += "<integer>";
            out += std::to_string(i);
            out += "</integer>";
        }
        void operator()(double d) const {
            char text[40];
            if (d == 0)
                std::snprintf(text, sizeof text, "0.0");  // also for -0
            else if (std::isinf(d))
                std::snprintf(text, sizeof text, "%s", d > 0 ? "+infinity" : "-infinity");
            else
                std::snprintf(text, sizeof text, "%.17g", d);
            out += "<real>";
            out += text;
            out += "</real>";
        }
        void operator()(const PlistDate& date) const {
            out += "<date>";
            appendDate(out, date);
            out += "</date>";
        }
        void operator()(const PlistArray& a) const {
            if (a.empty()) {
                out += "<array/>";
                return;
            }
            out += "<array>\n";
            for (const auto& item : a)
                appendValue(out, item, depth + 1);
            indent(out, depth);
            out += "</array>";
        }
        void operator()(const PlistDict& d) const {
            if (d.empty()) {
                out += "<dict/>";
                return;
            }
            out += "<dict>\n";
            for (const auto& [key, item] : d) {
                appendKey(out, key, depth + 1);
                appendValue(out, item, depth + 1);
            }
            indent(out, depth);
            out += "</dict>";
        }
    };
    indent(out, depth);
    std::visit(Visitor{out, depth}, value.variant());
    out += '\n';
}

}  // namespace tavo
