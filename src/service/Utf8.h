#pragma once

#include <string_view>

namespace tavo {

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view bytes);

}  // namespace tavo
