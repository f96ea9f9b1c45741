// The whole conversion call as the worker makes it (no colour reduction, a .bmp destination,
// colours managed into sRGB, so that embedded ICC profiles are read) on any bytes named .jpg: the
// content picks the reader, a colour or CMYK JPEG streams through libjpeg, the rest through
// ImageMagick. Every file written must be well formed; no image, no file; a write
// that fails leaves no file either.
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "FuzzSupport.h"
#include "convert/ConvertImage.h"

namespace {

// A colour JPEG is streamed at any size a BMP holds, so a few bytes can declare gigabytes. Files
// of this process stop at 4 MiB (about the 1024 x 1024 the library's readers are held to here):
// a larger image fails its first row's write, as on a full disk, instead of filling the scratch
// folder and spending the run's time.
void LimitFileSizes() {
  static const bool limited = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, rlim_t{4} << 20);
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }();
  (void)limited;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vimo::fuzz::StartImageLibrary();
  LimitFileSizes();
  static const std::string source = vimo::fuzz::ScratchPath("in.jpg");
  static const std::string destination = vimo::fuzz::ScratchPath("out.bmp");
  vimo::fuzz::WriteBytes(source, data, size);
  std::filesystem::remove(destination);
  ConvertOptions options;
  options.colourTarget = std::make_shared<const std::vector<std::uint8_t>>();
  const int result = ConvertImageEx(source.c_str(), destination.c_str(), 0, options).status == ConvertStatus::kWritten ? 1 : 0;
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
