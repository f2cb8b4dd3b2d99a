#pragma once
// MessageText.h: text from a user's file in oggmix-cli's messages, made safe to print on a
// terminal: every byte that is not printable (control bytes, C1 controls, bytes outside
// well-formed UTF-8) shown as \xNN, and a quoted token cut to its first and last
// kShownTokenBytes / 2 bytes around "...".
// Threads: any. Memory: allocates.

#include <cstddef>
#include <string>
#include <string_view>

namespace oggmix::cli {

inline constexpr size_t kShownTokenBytes = 200;

// text with its unprintable bytes escaped; nothing cut.
[[nodiscard]] std::string Printable(std::string_view text);
// A token of a plan as messages quote it: cut when longer than kShownTokenBytes, escaped.
[[nodiscard]] std::string ShownToken(std::string_view token);

}  // namespace oggmix::cli
