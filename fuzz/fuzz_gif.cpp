// The GIF reader (giflib's container parsing and the program's own LZW decoder) on any bytes,
// and the BMP writer on whatever it reads.
#include <cstdio>
#include <memory>

#include "FuzzSupport.h"
#include "convert/BmpWriter.h"
#include "convert/GifReader.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vimo::convert;
  vimo::fuzz::StartImageLibrary();
  if (size == 0) return 0;
  FilePtr input(fmemopen(const_cast<std::uint8_t*>(data), size, "rb"));
  const ImageInfoPtr info(AcquireImageInfo());
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  const ImageListPtr images(ReadGifImages(input.get(), info.get(), exception.get()));
  if (!images) return 0;
  const std::string path = vimo::fuzz::ScratchPath("gif.bmp");
  {
    FilePtr output(std::fopen(path.c_str(), "wb"));
    if (!output || !WriteBmpImages(output.get(), images.get(), exception.get())) std::abort();
  }
  vimo::fuzz::CheckBmpFile(vimo::fuzz::ReadBytes(path));
  return 0;
}
