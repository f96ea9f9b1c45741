#include "convert/ConvertCommand.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "convert/ConvertImage.h"

namespace {

constexpr const char* kUsage =
    "usage: vimo --convert SRC DST [--colors N]\n"
    "  Converts the JPEG, GIF or Photo CD file SRC into the BMP file DST (several images back to\n"
    "  back for an animated GIF), optionally reduced to at most N colours (N from 1 to 65536).\n"
    "  Exit status: 0 when an image was read, 1 when none could be read, 2 for bad usage.\n";

constexpr long kMostColours = 65536;  // the image library's largest colour map

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Reads N of "--colors N": a whole decimal number from 1 to kMostColours, else -1.
int ParseColours(const char* text) {
  if (*text == '\0') return -1;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > kMostColours) return -1;
  return static_cast<int>(value);
}

}  // namespace

int ConvertCommandMain(int argc, char** argv) {
  if (argc != 2 && argc != 4) return Usage();
  int colours = 0;
  if (argc == 4) {
    if (std::strcmp(argv[2], "--colors") != 0) return Usage();
    colours = ParseColours(argv[3]);
    if (colours < 0) return Usage();
  }
  return ConvertImage(argv[0], argv[1], colours) != 0 ? 0 : 1;
}
