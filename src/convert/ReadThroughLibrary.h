// Reading a file with one of the image library's own readers, named explicitly.
#pragma once

#include <cstdio>

#include "convert/MagickLibrary.h"

namespace vimo::convert {

// Reads the whole of file (from its start) with the library's reader called magick ("JPEG",
// "PCD"). The reader is named, so the library never guesses the format; the path never reaches
// the library, so none of its file-name syntax (scene suffixes, prefixes, '@' lists) applies.
// Returns the image list, or nullptr when the reader produced no image.
Image* ReadThroughLibrary(const char* magick, std::FILE* file, const ImageInfo* info, ExceptionInfo* exception);
// The same, reading only what the file says about itself (size, profiles), not its pixels.
Image* PingThroughLibrary(const char* magick, std::FILE* file, const ImageInfo* info, ExceptionInfo* exception);

}  // namespace vimo::convert
