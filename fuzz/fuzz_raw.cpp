// The conversion of RAW files (libraw's reading, the largest JPEG preview through libjpeg), on any bytes named .dng: as
// `vimo --convert` makes it (every BMP written checked) and as the viewer makes it (what it wrote
// played by the animation player).
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vimo::fuzz::ConvertPictureBothWays(data, size, ".dng");
  return 0;
}
