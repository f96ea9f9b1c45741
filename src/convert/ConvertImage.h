// Converts one JPEG, GIF or Photo CD file into a BMP file.
#pragma once

// Reads every image of src (the reader chosen by the file's content), optionally reduces each
// to at most `colours` colours, and writes them back to back as BMP images into dst when dst's
// name ends in a BMP format name (".bmp"); any other name writes nothing.
// Returns 1 when at least one image was read (dst is then written, unless writing itself
// failed), 0 when no image could be read (nothing is written). Paths are at most 2047 bytes.
// Runs on the conversion worker, one call at a time: not reentrant.
int ConvertImage(const char* src, const char* dst, int colours);
