// Fixtures of the formats with libraries of their own (HEIF and AVIF, JPEG XL, WebP, animated
// PNG, RAW), made by those libraries' own tools and by the builders beside this file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/ImageFixtures.h"

namespace vimo::test {

// Runs a shell command (a library's tool); fails the current test when it fails.
void RunTool(const std::string& command);
// The command of a builder in tests/support (make-dng, make-apng, exif-block), for RunTool.
std::string SupportTool(const std::string& name);

// The pixels of an image file as ImageMagick decodes it, the first image only, with its alpha
// (opaque where it has none) laid on `under`.
DecodedImage DecodeLaidOn(const std::filesystem::path& path, Rgb under);

// A HEIC file of width x height in one colour whose thumbnail (thumbnailSize on its longer side)
// is of another colour, written with libheif's encoder: which of the two a reader shows is seen.
void MakeHeicWithThumbnail(const std::filesystem::path& path, int width, int height, Rgb colour, Rgb thumbnailColour,
                           int thumbnailSize);

// The largest difference of one sample between two images of one size; 256 when their sizes
// differ.
int LargestDifference(const DecodedImage& a, const std::vector<Rgb>& pixels, int width, int height);

}  // namespace vimo::test
