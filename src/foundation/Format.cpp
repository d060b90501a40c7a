#include "foundation/Format.h"

#include <cstdio>
#include <string>

namespace tavo {

namespace {

// Conversion letters and length modifiers of printf.
bool isConversion(char c) { return std::string_view("diouxXeEfFgGaAcsp@").find(c) != std::string_view::npos; }
bool isFlagOrWidth(char c) {
    return std::string_view("-+ #0123456789.hlLqjzt").find(c) != std::string_view::npos;
}

std::string printfOne(const std::string& spec, auto value) {
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, spec.c_str(), value);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof buffer)
        return std::string(buffer, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), spec.c_str(), value);
    out.resize(static_cast<size_t>(n));
    return out;
}

// The flags, width and precision of a spec, without length modifiers.
std::string flagsOf(std::string_view spec) {
    std::string out;
    for (char c : spec.substr(1, spec.size() - 2))
        if (std::string_view("hlLqjzt").find(c) == std::string_view::npos)
            out += c;
    return out;
}

}  // namespace

std::string FormatArg::render(std::string_view spec) const {
    const char conv = spec.back();
    const std::string flags = "%" + flagsOf(spec);
    const bool integral = std::string_view("diouxXc").find(conv) != std::string_view::npos;
    const bool real = std::string_view("eEfFgGaA").find(conv) != std::string_view::npos;
    switch (kind_) {
        case Kind::Signed:
            if (integral)
                return printfOne(flags + "ll" + (conv == 'c' ? 'd' : conv), static_cast<long long>(i_));
            if (real)
                return printfOne(flags + conv, static_cast<double>(i_));
            return std::to_string(i_);
        case Kind::Unsigned:
            if (integral)
                return printfOne(flags + "ll" + (conv == 'c' ? 'u' : conv),
                                 static_cast<unsigned long long>(u_));
            if (real)
                return printfOne(flags + conv, static_cast<double>(u_));
            return std::to_string(u_);
        case Kind::Real:
            if (real)
                return printfOne(flags + conv, d_);
            if (integral)
                return printfOne(flags + "lld", static_cast<long long>(d_));
            return printfOne("%g", d_);
        case Kind::Text:
            if (conv == 's' || conv == '@')
                return flags.size() > 1 ? printfOne(flags + 's', text_.c_str()) : text_;
            return text_;
    }
    return {};
}

std::string formatArgs(std::string_view format, const std::vector<FormatArg>& args) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < format.size() && isFlagOrWidth(format[j]))
            ++j;
        if (j >= format.size() || !isConversion(format[j])) {
            out += format.substr(i, j - i);  // not a placeholder: keep it as written
            i = j - 1;
            continue;
        }
        if (next < args.size())
            out += args[next++].render(format.substr(i, j - i + 1));
        i = j;
    }
    return out;
}

}  // namespace tavo
