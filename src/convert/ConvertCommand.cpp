#include "convert/ConvertCommand.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "convert/ConvertImage.h"
#include "win32/Kernel.h"

namespace {

constexpr const char* kUsage =
    "usage: vimo --convert SRC DST [--colors N]\n"
    "  Converts the JPEG, GIF or Photo CD file SRC into the BMP file DST (several images back to\n"
    "  back for an animated GIF), optionally reduced to at most N colours (N from 1 to 65536).\n"
    "  Exit status: 0 when an image was read and written, 1 when none could be read or nothing\n"
    "  was written (a line on standard error says why), 2 for bad usage.\n";

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

// What a destination file looks like: whether the conversion wrote it shows as a change.
struct DestinationState {
  bool exists = false;
  std::uintmax_t size = 0;
  std::filesystem::file_time_type modified;
  bool operator==(const DestinationState&) const = default;
};

DestinationState StateOf(const char* path) {
  DestinationState state;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return state;
  state.exists = true;
  state.size = std::filesystem::file_size(path, error);
  state.modified = std::filesystem::last_write_time(path, error);
  return state;
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
  const char* source = argv[0];
  const char* destination = argv[1];
  const DestinationState before = StateOf(destination);
  if (ConvertImage(source, destination, colours) == 0) {
    std::FILE* file = vimo::platform::OpenRegularFile(source);
    if (file == nullptr) std::fprintf(stderr, "vimo: %s: %s\n", source, std::strerror(errno));
    else std::fprintf(stderr, "vimo: %s: no JPEG, GIF or Photo CD image could be read from it\n", source);
    if (file != nullptr) std::fclose(file);
    return 1;
  }
  if (StateOf(destination) == before) {
    std::fprintf(stderr, "vimo: nothing was written to %s (its name must end in .bmp, in a folder that can be written)\n",
                 destination);
    return 1;
  }
  return 0;
}
