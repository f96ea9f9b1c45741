// The whole conversion call as the worker makes it (no colour reduction, a .bmp destination) on
// any bytes named .jpg: the content picks the reader, a colour JPEG streams through libjpeg, the
// rest through ImageMagick. Every file written must be well formed; no image, no file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "FuzzSupport.h"
#include "convert/ConvertImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vimo::fuzz::StartImageLibrary();
  static const std::string source = vimo::fuzz::ScratchPath("in.jpg");
  static const std::string destination = vimo::fuzz::ScratchPath("out.bmp");
  vimo::fuzz::WriteBytes(source, data, size);
  std::filesystem::remove(destination);
  const int result = ConvertImage(source.c_str(), destination.c_str(), 0);
  const bool written = std::filesystem::exists(destination);
  if (result == 0 && written) {
    std::fprintf(stderr, "no image, yet a file was written\n");
    std::abort();
  }
  if (result == 1 && !written) {
    std::fprintf(stderr, "an image, yet no file on a writable folder\n");
    std::abort();
  }
  if (written) vimo::fuzz::CheckBmpFile(vimo::fuzz::ReadBytes(destination));
  return 0;
}
