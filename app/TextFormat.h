#pragma once
// TextFormat.h: how the window turns the stream's bytes and numbers into text.
// Threads: any. Memory: allocates.

#include <QString>

#include <string>

namespace oggmix {

// Comment and vendor bytes as text: UTF-8 when they are valid UTF-8, otherwise Shift-JIS
// (CP932, the other encoding found in loop-tagged files), otherwise Latin-1, so that no byte
// is lost from view.
[[nodiscard]] QString DisplayText(const std::string& bytes);

// The general floating-point format with up to 15 significant digits: "59.5", "3.25",
// "0.000123", "1.5E20", "1E-5" (a plain exponent without "+" or leading zeros).
[[nodiscard]] std::string FormatGeneral(double value);

}  // namespace oggmix
