// What the fuzz targets share: a scratch folder on tmpfs for the calls that take paths, the image
// library's start, and an in-process check of the BMP files the conversion writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "convert/MagickLibrary.h"

namespace vimo::fuzz {

// A path in this process's scratch folder (on /dev/shm when there is one; removed at exit).
std::string ScratchPath(const char* name);
void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

// Starts the image library once. Its width and height limits are lowered to 1024 and its
// list-length limit to 32 images, so that an input cannot spend the run's time limit merely
// filling the sizes and frames it declares (the installed policy bounds those by memory and
// disk, not by time); every other policy limit stays as installed.
void StartImageLibrary();

// Aborts, naming the rule, unless bytes are BMP images back to back exactly as the conversion
// writes them: headers that agree with the pixel data, a colour table whose referenced entries
// are exactly its first ones (the rest zero), RLE8 of encoded runs only that fills every row and
// ends with end-of-bitmap, chosen by the run rule. An empty file passes (nothing written).
void CheckBmpFile(const std::vector<std::uint8_t>& bytes);

// One of the conversion's readers (the file open at its start; the caller keeps it).
using ImageReader = Image* (*)(std::FILE* file, const ImageInfo* info, ExceptionInfo* exception);

// Reads data with reader and, when it yields images, writes them with the BMP writer and checks
// the file (CheckBmpFile).
void ReadWriteAndCheck(ImageReader reader, const std::uint8_t* data, std::size_t size);

}  // namespace vimo::fuzz
