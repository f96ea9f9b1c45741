// Photo CD reading: base images through the image library's reader, overview files here.
#pragma once

#include <cstdio>

#include "convert/MagickLibrary.h"

namespace vimo::convert {

// Reads the Photo CD file in file (from its start; the caller keeps the file). An image pack gives one 768 x 512 image (base resolution) in the
// orientation in which it is stored: the library's reader turns images whose header marks them
// as turned by a quarter, and that turn is undone here. An overview file (beginning with
// "PCD_OPA") gives one 192 x 128 image per thumbnail. The images are in the Photo CD colour
// space (YCC). Returns nullptr when the file is no Photo CD file or exceeds the resource limits.
Image* ReadPhotoCdImages(std::FILE* file, const ImageInfo* info, ExceptionInfo* exception);

}  // namespace vimo::convert
