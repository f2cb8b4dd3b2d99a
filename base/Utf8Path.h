// Utf8Path.h: std::filesystem paths to and from the UTF-8 strings the code passes around (a
// narrow path means the ANSI code page on Windows, UTF-8 elsewhere).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace oggmix {

[[nodiscard]] inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

[[nodiscard]] inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace oggmix
