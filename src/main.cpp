// Vimo: an image viewer. Creates the application object and runs it.
#include <cstdio>
#include <cstring>

#include "app/VimoApp.h"
#include "convert/ConvertCommand.h"

namespace {

constexpr const char* kUsage =
    "usage: vimo [FILE]\n"
    "       vimo --convert SRC DST [--colors N]\n"
    "       vimo --screenshot PNG [FILE]\n"
    "       vimo --help | --version\n";

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
