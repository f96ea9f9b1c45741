// The conversion of HEIF and AVIF files (libheif), on any bytes named .heic: as
// `vimo --convert` makes it (every BMP written checked) and as the viewer makes it (what it wrote
// played by the animation player).
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vimo::fuzz::ConvertPictureBothWays(data, size, ".heic");
  return 0;
}
