// Vimo: an image viewer. Creates the application object and runs it.
#include <cstdio>
#include <cstring>

#include "app/VimoApp.h"
#include "convert/ConvertCommand.h"

namespace {

constexpr const char* kUsage =
    "Usage: vimo [FILE]\n"
    "  or:  vimo --convert SRC DST [--colors N]\n"
    "  or:  vimo --screenshot PNG [FILE]\n"
    "Shows the image FILE at its natural size; Tab and Shift+Tab step through the other\n"
    "images of its folder. A second start with a file hands it to the viewer already running.\n"
    "\n"
    "Options:\n"
    "  --convert SRC DST [--colors N]  convert one image to BMP (N colours at most); exit 0\n"
    "                                  when an image was read\n"
    "  --screenshot PNG [FILE]         run the viewer without a display, write its window as\n"
    "                                  PNG and exit\n"
    "  --help                          show this help and exit\n"
    "  --version                       show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--convert") == 0) return ConvertCommandMain(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("Vimo Version 3.2 Build 140");
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--screenshot") == 0) return RunScreenshot(argc, argv);
  if (argc >= 2 && std::strncmp(argv[1], "--", 2) == 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return AfxWinMain(argc, argv);
}
