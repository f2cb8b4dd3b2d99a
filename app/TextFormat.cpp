// TextFormat.cpp: text decoding for the memo and the general number format.
#include "app/TextFormat.h"

#include <iconv.h>

#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace oggmix {
namespace {

struct IconvCloser {
    void operator()(void* cd) const noexcept { iconv_close(static_cast<iconv_t>(cd)); }
};

// Empty when the bytes are not valid CP932.
std::optional<QString> FromCp932(const std::string& bytes) {
    const iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::unique_ptr<void, IconvCloser> guard(cd);
    std::string input = bytes;
    std::vector<char> output(bytes.size() * 3 + 4);
    char* in = input.data();
    char* out = output.data();
    size_t inLeft = input.size();
    size_t outLeft = output.size();
    if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) return std::nullopt;
    return QString::fromUtf8(output.data(), static_cast<qsizetype>(output.size() - outLeft));
}

}  // namespace

QString DisplayText(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) return text;
    if (auto sjis = FromCp932(bytes)) return *sjis;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string FormatGeneral(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    std::string text = buffer;
    const auto e = text.find('E');
    if (e == std::string::npos) return text;
    // "1.5E+20" -> "1.5E20", "1E-05" -> "1E-5".
    std::string mantissa = text.substr(0, e);
    const int exponent = std::atoi(text.c_str() + e + 1);
    return mantissa + "E" + std::to_string(exponent);
}

}  // namespace oggmix
