// The GIF reader (giflib's container parsing and the program's own LZW decoder) on any bytes,
// and the BMP writer on whatever it reads.
#include "FuzzSupport.h"
#include "convert/GifReader.h"

namespace {

Image* ReadGif(std::FILE* file, const ImageInfo* info, ExceptionInfo* exception) {
  return vimo::convert::ReadGifImages(file, info, exception);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vimo::fuzz::ReadWriteAndCheck(ReadGif, data, size);
  return 0;
}
