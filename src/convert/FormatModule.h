// What the program and the module of the format libraries (libvimo-formats.so, built from
// src/formats) agree on: the one function the module exports, and what it hands back.
//
// The readers of HEIF and AVIF, JPEG XL, WebP and RAW previews live in that module so that their
// libraries (libheif with its HEVC and AV1 codecs, libjxl with highway, libwebp, libraw), some
// fifteen shared objects, are loaded at the first such file rather than at every start.
#pragma once

#include <cstdint>

#include "convert/ConvertImage.h"
#include "convert/ImageFormat.h"

namespace vimo::convert {

class CPictureReader;
class CRawReader;

// Raised whenever what is below changes: a module from another build is refused.
inline constexpr unsigned kFormatModuleVersion = 1;
inline constexpr char kFormatModuleFile[] = "libvimo-formats.so";
inline constexpr char kFormatModuleEntry[] = "vimo_format_module";

struct FormatModule {
  unsigned version;
  // A new reader of kHeif, kJxl or kWebp (null for any other), the caller's to delete.
  CPictureReader* (*createPicture)(ImageReader reader);
  // A new reader of RAW previews, the caller's to delete.
  CRawReader* (*createRaw)();
};

// The program's limit on a picture decoded whole (PictureLimits.h), which the module's readers
// keep: the program hands it over, since the limits come from the image library's policy.
using CheckPictureSizeCall = ConvertOutcome (*)(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel);

// The module's entry: its table, when version is its own; null otherwise.
using FormatModuleEntry = const FormatModule* (*)(unsigned version, CheckPictureSizeCall check);

}  // namespace vimo::convert
