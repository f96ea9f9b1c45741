// The Photo CD reader (overview files here, base images through ImageMagick's reader with the
// stored orientation kept) on any bytes, and the BMP writer on whatever it reads.
#include "FuzzSupport.h"
#include "convert/PhotoCdReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vimo::fuzz::ReadWriteAndCheck(vimo::convert::ReadPhotoCdImages, data, size);
  return 0;
}
