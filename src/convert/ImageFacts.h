// What the image library reads from a file about its picture without decoding the pixels: the
// format, the size, and the EXIF block the file carries.
#pragma once

#include <string>

struct ImageFacts {
  std::string format;       // the library's name of the format ("JPEG"); empty when unreadable
  std::string description;  // the library's description of that format
  unsigned long width = 0;
  unsigned long height = 0;
  std::string exif;  // the EXIF block, starting "Exif\0\0"; empty when there is none
};

// Reads the facts of the regular file at path (symlinks followed), in any format the program
// browses, its other formats included; the reader is chosen by the content (and, for a RAW file
// that is TIFF inside, its name). The formats with libraries of their own are read by them.
ImageFacts ReadImageFacts(const char* path);
