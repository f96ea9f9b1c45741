// What a file says about its colours: the ICC profile it embeds, and a profile's name.
#pragma once

#include <string>

#include "convert/ColourTransform.h"

namespace vimo::convert {

// The ICC profile the image file at path embeds (a JPEG's APP2 markers; a PNG's iCCP chunk and
// a TIFF's profile through the image library; the profile of the formats with libraries of their
// own through them, a HEIF file's nclx colours as a profile), read without decoding its pixels. Empty when it has none (GIF, Photo CD and BMP files never have one), when the file
// cannot be read or is none of these formats. Any thread: libjpeg and the image library's
// readers keep their state per call.
IccBytes ReadEmbeddedProfile(const char* path);

// The profile's description ("Adobe RGB (1998)", "sRGB IEC61966-2.1"), in English where it has
// several; empty when the bytes are no ICC profile or it has none.
std::string DescribeProfile(const IccBytes& profile);

// Whether the bytes are an RGB profile that colours can be turned into (a monitor's).
bool IsRgbTargetProfile(const IccBytes& profile);

}  // namespace vimo::convert
