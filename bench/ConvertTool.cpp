// vimo-convert SRC DST [--colors N]: what `vimo --convert` does, without the viewer linked in.
#include "convert/ConvertCommand.h"

int main(int argc, char** argv) { return ConvertCommandMain(argc - 1, argv + 1); }
