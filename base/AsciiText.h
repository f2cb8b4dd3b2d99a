#pragma once
// AsciiText.h: case folding of ASCII letters only. Comment names and preset captions are
// matched without regard to case; bytes beyond ASCII (UTF-8 text) never change, whatever the
// locale.
// Threads: any. Memory: no alloc.

#include <cstddef>
#include <string_view>

namespace oggmix {

[[nodiscard]] constexpr char LowerAscii(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

[[nodiscard]] constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

}  // namespace oggmix
