// The limits of the readers that decode a whole picture into memory (HEIF and AVIF, JPEG XL,
// WebP, animated PNG): the image library's own, as its policy sets them, so that these formats
// are held to what the library's readers of the other formats are held to.
#pragma once

#include <cstdint>

#include "convert/ConvertImage.h"

namespace vimo::convert {

// Whether a picture of width x height may be decoded by a reader that needs bytesPerPixel
// bytes of memory for each of its pixels (its library's buffers and the program's together):
// kWritten when it may; kTooManyPixels when it has more pixels than the policy's area limit;
// kPictureMemory when the memory it needs exceeds what the policy lets the library hold in
// memory and in mapped files together. Starts the image library. Any thread.
ConvertOutcome CheckPictureSize(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel);

}  // namespace vimo::convert
