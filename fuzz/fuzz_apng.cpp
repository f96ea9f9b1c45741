// The conversion of animated PNG files (the program's reading of acTL, fcTL and fdAT, libpng for each frame), on any bytes named .png: as
// `vimo --convert` makes it (every BMP written checked) and as the viewer makes it (what it wrote
// played by the animation player).
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vimo::fuzz::ConvertPictureBothWays(data, size, ".png");
  return 0;
}
