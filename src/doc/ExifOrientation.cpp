#include "doc/ExifOrientation.h"

#include "convert/ExifBlock.h"

int ReadExifOrientation(const char* path) { return CExifBlock(path).GetOrientation(); }
