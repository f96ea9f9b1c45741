// `vimo --convert SRC DST [--colors N]`: the conversion call alone, for scripts and tests.
#pragma once

// args are the words after "--convert". Returns the process exit code: 0 when an image was
// read, 1 when none could be read, 2 for bad usage (a usage text goes to stderr).
int ConvertCommandMain(int argc, char** argv);
