#include "convert/ConvertCommand.h"

#include <cstdio>

int ConvertCommandMain(int /*argc*/, char** /*argv*/) {
  std::fputs("usage: vimo --convert SRC DST [--colors N]\n", stderr);
  return 2;
}
