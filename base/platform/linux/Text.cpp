// Text.cpp: code page conversion through iconv.
#include <iconv.h>

#include <cerrno>

#include "base/platform/Platform.h"

namespace oggmix::platform {
namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : FCd(iconv_open(to, from)) {}
    ~Iconv() {
        if (Valid()) iconv_close(FCd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    [[nodiscard]] bool Valid() const noexcept { return FCd != reinterpret_cast<iconv_t>(-1); }
    [[nodiscard]] iconv_t Get() const noexcept { return FCd; }

private:
    iconv_t FCd;
};

}  // namespace

std::string ToCodePage932(const std::string& utf8) {
    const Iconv cd("CP932", "UTF-8");
    if (!cd.Valid()) return utf8;
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* dest = out.data();
    size_t destLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd.Get(), &in, &inLeft, &dest, &destLeft) != static_cast<size_t>(-1)) break;
        if (errno != EILSEQ && errno != EINVAL) break;
        // Skip one UTF-8 sequence and mark the gap.
        size_t skip = 1;
        while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
        in += skip;
        inLeft -= skip;
        if (destLeft == 0) break;
        *dest++ = '?';
        --destLeft;
    }
    out.resize(out.size() - destLeft);
    return out;
}

}  // namespace oggmix::platform
