// GIF reading into the image library's images, for conversions that need them (a colour
// reduction); other conversions stream GIFs straight into the BMP file (GifStream.h).
//
// The program's GIF parser reads every GIF rather than the image library's own reader, because
// that reader gives no image at all for a stream whose data ends early or holds an invalid code,
// while the viewer keeps the frames read so far.
#pragma once

#include <cstdio>

#include "convert/ConvertImage.h"
#include "convert/GifParser.h"
#include "convert/MagickLibrary.h"

namespace vimo::convert {

// Reads the GIF in file (from its start; the caller keeps the file): one image per image descriptor, in file order, each at its own descriptor's size
// (logical screen and frame offsets play no part), interlaced frames put in row order.
// A frame is colour-mapped with only the colour-map entries its pixels use, in their map order;
// a frame after a graphic-control extension with the transparency flag is a true-colour image
// with transparency whose pixels keep their colour-map colours.
// When the image data ends early or holds an invalid code, the rest of that frame takes
// colour-map entry 0 and reading stops after it; a frame no GIF decoder reads (its LZW code size)
// ends the reading before it. Returns the image list, or nullptr when the file is not a
// GIF87/GIF89 stream, holds no image, or a frame exceeds the library's resource limits; when the
// first frame could not be decoded, failure (if given) says why.
Image* ReadGifImages(std::FILE* file, const ImageInfo* info, ExceptionInfo* exception, ConvertOutcome* failure = nullptr);

}  // namespace vimo::convert
