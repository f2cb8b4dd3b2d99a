#pragma once
// ConversionOffer.h: the box that tells the user why a file just loaded plays silence (its
// rate or channel count) and, where the stream's conversion can play it, offers to convert.
// Nothing else waits for the box: the other channel's music and the display go on.
// Threads: UI thread. Memory: allocates.

#include <QWidget>

#include <functional>
#include <string>

#include "stream/OggDataLib.h"

namespace oggmix {

inline constexpr const char* kConversionBoxName = "ConversionBox";
inline constexpr const char* kConvertCaption = "Convert";

// When stream, just loaded from FileName, renders silence: opens a window-modal box named
// kConversionBoxName over Window and returns at once. Its kConvertCaption button (only for
// formats the conversion plays) switches the stream's conversion on and calls OnConverted.
void OfferConversion(QWidget* Window, TOggData& Stream, const std::string& FileName,
                     std::function<void()> OnConverted);

}  // namespace oggmix
