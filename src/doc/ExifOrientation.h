// The orientation a JPEG photo's EXIF block records (or a RAW file's, whose JPEG preview is
// shown): how its stored pixels are to be turned to be seen upright (1 to 8, as DrawDibDraw
// takes them).
#pragma once

// Reads only the file's head, up to the end of its EXIF block (a RAW file's structure). 1 (as
// stored) for a file that is not a JPEG or RAW file, has no EXIF orientation or cannot be read;
// other formats are turned upright, where that applies, by their readers.
int ReadExifOrientation(const char* path);
