// Wide.h: UTF-8 to and from UTF-16, the Windows API's own text.
#pragma once

#include <string>

namespace oggmix::platform {

[[nodiscard]] std::wstring Widen(const std::string& utf8);
[[nodiscard]] std::string Narrow(const std::wstring& utf16);

}  // namespace oggmix::platform
