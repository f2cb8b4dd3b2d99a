#pragma once
// DecoderSession.h: a stream's compressed file and the decoder that reads it, owned as one.
// From a successful open on the decoder owns the file and frees it through its close
// callback when it is cleared; a file the decoder refused is freed here. Closing clears the
// decoder, or, when the binding is gone or cannot clear it, frees the file itself, so no
// path leaks the file or frees it twice.
// Threads: the owner's; not thread-safe (the owning stream serialises it).
// Memory:  Open allocates (the decoder's state), and so does WarmUp (its decoding state);
//          Close frees.

#include <memory>

#include "base/MemoryStream.h"
#include "decoder/OggWuvorbisLib.h"

namespace oggmix {

class DecoderSession {
public:
    DecoderSession() = default;
    ~DecoderSession() { Close(); }
    // The decoder state points into itself: it stays where it was opened.
    DecoderSession(const DecoderSession&) = delete;
    DecoderSession& operator=(const DecoderSession&) = delete;

    // The binding every call of this session goes through; null (the default) stands for the
    // process-wide VorbisFileDLL, looked up at each call. Set while closed.
    void SetBinding(TVorbisFileDLL* Binding) noexcept { FBinding = Binding; }
    // The binding in use, or null when neither is there.
    [[nodiscard]] TVorbisFileDLL* Binding() const noexcept {
        return FBinding != nullptr ? FBinding : VorbisFileDLL.get();
    }

    // Closes, then opens the bound decoder over Source. False when there is no binding or the
    // decoder refuses the data: Source is freed and the session stays closed.
    [[nodiscard]] bool Open(std::unique_ptr<MemoryStream> Source) noexcept;
    void Close() noexcept;
    // A second session with the same binding over a copy of this one's file, at its start;
    // null while closed or when it cannot be opened. Reads only the file's bytes, which no
    // decoder changes, so it may run beside the decoder's use on another thread. Allocates.
    [[nodiscard]] std::unique_ptr<DecoderSession> OpenAnother() const;
    [[nodiscard]] bool IsOpen() const noexcept { return FSource != nullptr; }
    // Decodes a few blocks from where the decoder stands, so that what it sets up on its first
    // decode (the synthesis state, the block memory grown to fit its largest block) is in
    // place before anyone renders from it; a seek keeps all of it. The position is left
    // wherever the decoding got to: seek before reading on. Allocates.
    void WarmUp() noexcept;
    // The decoder state for the binding's calls; meaningful while open.
    [[nodiscard]] OggVorbis_File* Get() noexcept { return &FDecoder; }

private:
    OggVorbis_File FDecoder{};
    MemoryStream* FSource = nullptr;     // owned by FDecoder while open; null while closed
    TVorbisFileDLL* FBinding = nullptr;  // not owned
};

}  // namespace oggmix
