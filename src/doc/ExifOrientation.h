// The orientation a JPEG photo's EXIF block records: how its stored pixels are to be turned to
// be seen upright (1 to 8, as DrawDibDraw takes them).
#pragma once

// Reads only the file's head, up to the end of its EXIF block. 1 (as stored) for a file that is
// not a JPEG, has no EXIF orientation or cannot be read; other formats are turned upright, where
// that applies, by their readers.
int ReadExifOrientation(const char* path);
