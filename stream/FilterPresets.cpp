// FilterPresets.cpp: looking a preset up by its caption.
#include "stream/FilterPresets.h"

#include <algorithm>

#include "base/AsciiText.h"

namespace oggmix {

const FilterPreset* FindFilterPreset(std::string_view Caption) noexcept {
    const auto found = std::ranges::find_if(kFilterPresets, [Caption](const FilterPreset& p) {
        return EqualIgnoringCase(p.Caption, Caption);
    });
    return found == kFilterPresets.end() ? nullptr : &*found;
}

}  // namespace oggmix
