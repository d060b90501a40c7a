#include "foundation/PackedPlist.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tavo {

namespace {

void appendLength(std::string& out, std::size_t n) {
    while (n >= 0x80) {
        out += static_cast<char>(0x80 | (n & 0x7f));
        n >>= 7;
    }
    out += static_cast<char>(n);
}

template <typename T>
void appendFixed(std::string& out, T v) {
    static_assert(sizeof(T) == 8 && std::is_trivially_copyable_v<T>);
    char raw[8];
    std::memcpy(raw, &v, 8);
    out.append(raw, 8);
}

void appendBytes(std::string& out, const char* data, std::size_t n) {
    appendLength(out, n);
    out.append(data, n);
}

void pack(std::string& out, const PlistValue& value) {
    std::visit(
        [&out](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                out += 's';
                appendBytes(out, v.data(), v.size());
            } else if constexpr (std::is_same_v<T, PlistData>) {
                out += 'd';
                appendBytes(out, reinterpret_cast<const char*>(v.data()), v.size());
            } else if constexpr (std::is_same_v<T, bool>) {
                out += v ? 't' : 'f';
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                out += 'i';
                appendFixed(out, v);
            } else if constexpr (std::is_same_v<T, double>) {
                out += 'r';
                appendFixed(out, v);
            } else if constexpr (std::is_same_v<T, PlistDate>) {
                out += 'D';
                appendFixed(out, static_cast<std::int64_t>(v.time_since_epoch().count()));
            } else if constexpr (std::is_same_v<T, PlistArray>) {
                out += 'a';
                appendLength(out, v.size());
                for (const PlistValue& item : v)
                    pack(out, item);
            } else {
                static_assert(std::is_same_v<T, PlistDict>);
                out += 'k';
                appendLength(out, v.size());
                for (const auto& [key, item] : v) {
                    appendBytes(out, key.data(), key.size());
                    pack(out, item);
                }
            }
        },
        value.variant());
}

// Reads what pack() wrote. The bytes never come from outside the process;
// still, a read past the end stops the reader instead of going on.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }

    char tag() { return take(1) ? bytes_[pos_ - 1] : '\0'; }

    std::size_t length() {
        std::size_t n = 0;
        for (int shift = 0; ok_ && shift < 64; shift += 7) {
            const char c = tag();
            n |= static_cast<std::size_t>(static_cast<unsigned char>(c) & 0x7f) << shift;
            if (!(static_cast<unsigned char>(c) & 0x80))
                return n;
        }
        ok_ = false;
        return 0;
    }

    std::string_view bytes() {
        const std::size_t n = length();
        return take(n) ? bytes_.substr(pos_ - n, n) : std::string_view();
    }

    template <typename T>
    T fixed() {
        T v{};
        if (take(8))
            std::memcpy(&v, bytes_.data() + pos_ - 8, 8);
        return v;
    }

    PlistValue value() {
        switch (tag()) {
            case 's':
                return std::string(bytes());
            case 'd': {
                const std::string_view raw = bytes();
                return PlistData(raw.begin(), raw.end());
            }
            case 't':
                return true;
            case 'f':
                return false;
            case 'i':
                return fixed<std::int64_t>();
            case 'r':
                return fixed<double>();
            case 'D':
                return PlistDate(PlistDate::duration(fixed<std::int64_t>()));
            case 'a': {
                PlistArray array;
                const std::size_t n = length();
                for (std::size_t i = 0; i < n && ok_; ++i)
                    array.push_back(value());
                return array;
            }
            case 'k': {
                PlistDict dict;
                const std::size_t n = length();
                for (std::size_t i = 0; i < n && ok_; ++i) {
                    std::string key(bytes());
                    dict.emplace_hint(dict.end(), std::move(key), value());
                }
                return dict;
            }
            default:
                ok_ = false;
                return {};
        }
    }

    void skip() {
        switch (tag()) {
            case 's':
            case 'd':
                bytes();
                return;
            case 't':
            case 'f':
                return;
            case 'i':
            case 'r':
            case 'D':
                take(8);
                return;
            case 'a':
                for (std::size_t n = length(); n > 0 && ok_; --n)
                    skip();
                return;
            case 'k':
                for (std::size_t n = length(); n > 0 && ok_; --n) {
                    bytes();
                    skip();
                }
                return;
            default:
                ok_ = false;
        }
    }

private:
    bool take(std::size_t n) {
        if (!ok_ || n > bytes_.size() - pos_) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }

    std::string_view bytes_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace

PackedPlist::PackedPlist(const PlistValue& value) {
    // Packed where it can grow, then copied once at its size: one allocation
    // per value kept.
    thread_local std::string scratch;
    scratch.clear();
    pack(scratch, value);
    bytes_.assign(scratch);
    if (scratch.capacity() > 64 * 1024)
        std::string().swap(scratch);  // a rare large value does not stay
}

PlistValue PackedPlist::value() const {
    if (bytes_.empty())
        return {};
    Reader reader(bytes_);
    return reader.value();
}

bool PackedPlist::isDict() const {
    return !bytes_.empty() && bytes_[0] == 'k';
}

std::optional<std::string_view> PackedPlist::text(std::string_view key) const {
    if (!isDict())
        return std::nullopt;
    Reader reader(bytes_);
    reader.tag();
    for (std::size_t n = reader.length(); n > 0 && reader.ok(); --n) {
        // Keys are in order: past the key, it is not there.
        const std::string_view name = reader.bytes();
        if (name == key) {
            if (reader.tag() != 's')
                return std::nullopt;
            const std::string_view found = reader.bytes();
            return reader.ok() ? std::optional<std::string_view>(found) : std::nullopt;
        }
        if (name > key)
            return std::nullopt;
        reader.skip();
    }
    return std::nullopt;
}

}  // namespace tavo
