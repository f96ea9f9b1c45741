// The readers of HEIF and AVIF, JPEG XL, WebP and RAW previews, from the module of their
// libraries (FormatModule.h), loaded at the first file that needs one of them: beside the
// program's executable, or in the folder above it (where the tests and tools of a build run).
#pragma once

#include <memory>

#include "convert/ImageFormat.h"
#include "convert/PictureReader.h"

namespace vimo::convert {

// A reader of kHeif, kJxl or kWebp; when the module cannot be loaded, one whose Open says why.
std::unique_ptr<CPictureReader> CreateLibraryReader(ImageReader reader);

}  // namespace vimo::convert
