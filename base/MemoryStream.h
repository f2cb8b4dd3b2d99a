#pragma once
// MemoryStream.h: a whole file held in memory, read and sought like a file.
// Positions are 32-bit byte offsets (files of up to 2 GiB - 1).
// Threads: one at a time. Memory: LoadFromFile and the byte constructor allocate;
// Read, Seek and Position do not.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace oggmix {

class MemoryStream {
public:
    enum Origin : uint16_t { FromBeginning = 0, FromCurrent = 1, FromEnd = 2 };

    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes);

    // Replaces the contents with the file's bytes and rewinds. Throws EInOutError when
    // the file cannot be opened or read, or is larger than 32-bit positions can address.
    void LoadFromFile(const std::string& fileName);

    // Copies up to countBytes from the position on; returns the bytes copied (0 at or past
    // the end, or for a negative count) and advances the position by that much.
    [[nodiscard]] int32_t Read(void* dest, int32_t countBytes) noexcept;

    // Moves the position to offset from the origin and returns the new position. A
    // position before the start or an unknown origin is refused: -1, position unchanged.
    // A position past the end is allowed; reads there return 0.
    [[nodiscard]] int32_t Seek(int32_t offsetBytes, uint16_t origin) noexcept;

    [[nodiscard]] int32_t Position() const noexcept { return FPosition; }
    [[nodiscard]] int32_t Size() const noexcept { return static_cast<int32_t>(FBytes.size()); }
    [[nodiscard]] std::span<const uint8_t> Bytes() const noexcept { return FBytes; }

private:
    std::vector<uint8_t> FBytes;
    int32_t FPosition = 0;
};

}  // namespace oggmix
