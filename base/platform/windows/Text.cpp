// Text.cpp: UTF-8, UTF-16 and code page 932 through the Windows API.
#include <windows.h>

#include "base/platform/Platform.h"
#include "base/platform/windows/Wide.h"

namespace oggmix::platform {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(const std::wstring& utf16) {
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::string ToCodePage932(const std::string& utf8) {
    constexpr UINT kShiftJis = 932;
    const std::wstring wide = Widen(utf8);
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const char unmapped = '?';
    const int length =
        WideCharToMultiByte(kShiftJis, 0, wide.data(), size, nullptr, 0, &unmapped, nullptr);
    if (length <= 0) return utf8;
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(kShiftJis, 0, wide.data(), size, out.data(), length, &unmapped, nullptr);
    return out;
}

}  // namespace oggmix::platform
