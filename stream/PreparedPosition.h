#pragma once
// PreparedPosition.h: a stream's playing state at a source frame, built beside the stream
// without its lock: a decoder of its own over a copy of the compressed file, moved to the
// frame, and, for a stream through a converter, a converter primed with the music before it.
// TOggData::ApplyPosition swaps it in under the lock in constant time. Nothing in it is for
// anyone but the stream that made it.
// Threads: made on any thread; applied to the stream that made it, once.
// Memory:  made by TOggData::PreparePosition (allocates); freeing it frees a decoder.

#include <cstdint>
#include <memory>

#include "stream/DecoderSession.h"
#include "stream/RateConverter.h"

namespace oggmix {

class TOggData;

class PreparedPosition {
public:
    PreparedPosition() = default;
    PreparedPosition(const PreparedPosition&) = delete;
    PreparedPosition& operator=(const PreparedPosition&) = delete;

private:
    friend class TOggData;

    std::unique_ptr<DecoderSession> FDecoder;   // at FFrame, or before a converter's history
    std::unique_ptr<RateConverter> FConverter;  // primed; null for a stream without one
    int64_t FFrame = 0;                         // source frame played first from here
    uint64_t FLoadNumber = 0;                   // of the stream's load it was made for
};

}  // namespace oggmix
