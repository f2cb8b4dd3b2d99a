// MemoryStream.cpp: file loading, reads and seeks over a byte vector.
#include "base/MemoryStream.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "base/Exceptions.h"
#include "base/FileCloser.h"
#include "base/platform/Platform.h"

namespace oggmix {
namespace {

[[noreturn]] void ThrowIo(const std::string& what, const std::string& fileName) {
    throw EInOutError(what + ": " + fileName);
}

}  // namespace

MemoryStream::MemoryStream(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {
    if (FBytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw EInOutError("stream too large for 32-bit positions");
}

void MemoryStream::LoadFromFile(const std::string& fileName) {
    UniqueFile file(platform::OpenFile(fileName, "rb"));
    if (!file) ThrowIo("cannot open file", fileName);

    // Read in pieces rather than trusting a size from the file system: pipes and files that
    // change while we read still come out whole.
    std::vector<uint8_t> bytes;
    std::array<uint8_t, 65536> piece;
    for (;;) {
        const size_t got = std::fread(piece.data(), 1, piece.size(), file.get());
        if (got > 0) {
            if (bytes.size() + got > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
                ThrowIo("file too large", fileName);
            bytes.insert(bytes.end(), piece.begin(), piece.begin() + got);
        }
        if (got < piece.size()) break;
    }
    if (std::ferror(file.get())) ThrowIo("cannot read file", fileName);

    FBytes = std::move(bytes);
    FPosition = 0;
}

int32_t MemoryStream::Read(void* dest, int32_t countBytes) noexcept {
    if (countBytes <= 0 || FPosition >= Size()) return 0;
    const int32_t n = std::min(countBytes, Size() - FPosition);
    std::memcpy(dest, FBytes.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int32_t MemoryStream::Seek(int32_t offsetBytes, uint16_t origin) noexcept {
    int64_t base;
    switch (origin) {
        case FromBeginning: base = 0; break;
        case FromCurrent: base = FPosition; break;
        case FromEnd: base = Size(); break;
        default: return -1;
    }
    const int64_t target = base + offsetBytes;
    if (target < 0 || target > std::numeric_limits<int32_t>::max()) return -1;
    FPosition = static_cast<int32_t>(target);
    return FPosition;
}

}  // namespace oggmix
