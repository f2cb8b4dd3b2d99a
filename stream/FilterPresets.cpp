// FilterPresets.cpp: looking a preset up by its caption.
#include "stream/FilterPresets.h"

#include <algorithm>

namespace oggmix {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

}  // namespace

const FilterPreset* FindFilterPreset(std::string_view Caption) noexcept {
    const auto found = std::ranges::find_if(kFilterPresets, [Caption](const FilterPreset& p) {
        return EqualIgnoringCase(p.Caption, Caption);
    });
    return found == kFilterPresets.end() ? nullptr : &*found;
}

}  // namespace oggmix
