// The conversion of WebP files (libwebp's demux and animation decoder), on any bytes named .webp: as
// `vimo --convert` makes it (every BMP written checked) and as the viewer makes it (what it wrote
// played by the animation player).
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vimo::fuzz::ConvertPictureBothWays(data, size, ".webp");
  return 0;
}
