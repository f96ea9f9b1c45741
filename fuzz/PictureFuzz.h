// What the fuzz targets of the formats with libraries of their own share: the conversion as
// `vimo --convert` makes it (every BMP written checked), and as the viewer makes it, its frames
// and their record played by the animation player.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vimo::fuzz {

// Writes data as a file named with extension (".heic") and converts it both ways.
void ConvertPictureBothWays(const std::uint8_t* data, std::size_t size, const char* extension);

}  // namespace vimo::fuzz
