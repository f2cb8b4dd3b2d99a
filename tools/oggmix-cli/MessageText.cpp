// MessageText.cpp: escaping and cutting user text for messages.
#include "tools/oggmix-cli/MessageText.h"

#include <cstdint>
#include <cstdio>

namespace oggmix::cli {
namespace {

// The bytes of the well-formed, printable UTF-8 character at text[at], or 0 when the byte
// there is to be escaped.
size_t PrintableCharBytes(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80) return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    // Two to four bytes; the second byte's range excludes overlong forms and surrogates.
    size_t length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2) low = 0xA0;  // U+0080..U+009F are the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

// Moves a cut back off the continuation bytes of a character.
size_t CharStart(std::string_view text, size_t at) {
    while (at > 0 && at < text.size() && (static_cast<uint8_t>(text[at]) & 0xC0) == 0x80) --at;
    return at;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        if (const size_t bytes = PrintableCharBytes(text, at); bytes > 0) {
            shown.append(text.substr(at, bytes));
            at += bytes;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<uint8_t>(text[at]));
        shown += escaped;
        ++at;
    }
    return shown;
}

std::string ShownToken(std::string_view token) {
    if (token.size() <= kShownTokenBytes) return Printable(token);
    const size_t head = CharStart(token, kShownTokenBytes / 2);
    const size_t tail = CharStart(token, token.size() - kShownTokenBytes / 2);
    return Printable(token.substr(0, head)) + "..." + Printable(token.substr(tail));
}

}  // namespace oggmix::cli
