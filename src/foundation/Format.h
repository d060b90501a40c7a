#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tavo {

// One argument of a log or message format, converted once.
class FormatArg {
public:
    template <typename T>
        requires std::is_integral_v<T> && (!std::is_same_v<T, bool>)
    FormatArg(T v) : kind_(std::is_signed_v<T> ? Kind::Signed : Kind::Unsigned) {
        if constexpr (std::is_signed_v<T>)
            i_ = v;
        else
            u_ = v;
    }
    FormatArg(bool v) : kind_(Kind::Text), text_(v ? "YES" : "NO") {}
    FormatArg(double v) : kind_(Kind::Real), d_(v) {}
    FormatArg(float v) : kind_(Kind::Real), d_(v) {}
    FormatArg(const char* v) : kind_(Kind::Text), text_(v ? v : "(null)") {}
    FormatArg(std::string_view v) : kind_(Kind::Text), text_(v) {}
    FormatArg(const std::string& v) : kind_(Kind::Text), text_(v) {}
    template <typename T>
        requires requires(const T& t) { t.text(); }
    FormatArg(const T& v) : kind_(Kind::Text), text_(v.text()) {}

    std::string render(std::string_view spec) const;

private:
    enum class Kind { Signed, Unsigned, Real, Text };
    Kind kind_;
    std::int64_t i_ = 0;
    std::uint64_t u_ = 0;
    double d_ = 0;
    std::string text_;
};

// printf-style formatting with the object placeholder %@ (any argument as
// text). Type-safe: each placeholder renders the argument it gets, whatever
// its conversion letter says; missing arguments render as nothing.
std::string formatArgs(std::string_view format, const std::vector<FormatArg>& args);

template <typename... Args>
std::string format(std::string_view fmt, const Args&... args) {
    return formatArgs(fmt, std::vector<FormatArg>{FormatArg(args)...});
}

}  // namespace tavo
