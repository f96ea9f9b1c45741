// GIF reading through giflib, into the image library's images.
//
// giflib reads every GIF rather than the image library's own reader, because that reader gives
// no image at all for a stream whose data ends early or holds an invalid code, while the viewer
// keeps the frames read so far; one reader for intact and damaged files keeps them alike.
#pragma once

#include <cstdio>

#include "convert/MagickLibrary.h"

namespace vimo::convert {

// Reads the GIF in file (from its start; the caller keeps the file): one image per image descriptor, in file order, each at its own descriptor's size
// (logical screen and frame offsets play no part), interlaced frames put in row order.
// A frame is colour-mapped with only the colour-map entries its pixels use, in their map order;
// a frame after a graphic-control extension with the transparency flag is a true-colour image
// with transparency whose pixels keep their colour-map colours.
// When the image data ends early or holds an invalid code, the rest of that frame takes
// colour-map entry 0 and reading stops after it. Returns the image list, or nullptr when the
// file is not a GIF87/GIF89 stream, holds no image, or a frame exceeds the library's resource
// limits.
Image* ReadGifImages(std::FILE* file, const ImageInfo* info, ExceptionInfo* exception);

}  // namespace vimo::convert
