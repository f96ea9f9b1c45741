#include "convert/ImageFormat.h"

#include <cstring>

namespace {

// The formats opened by default first, in the order the file dialogs list them.
constexpr ImageFormat kFormats[] = {
    {".bmp", "BMP", ImageReader::kCopy, false},       {".gif", "GIF", ImageReader::kGif, false},
    {".jpg", "JPEG", ImageReader::kJpeg, false},      {".jpeg", "JPEG", ImageReader::kJpeg, false},
    {".jpe", "JPEG", ImageReader::kJpeg, false},      {".pcd", "PCD", ImageReader::kPhotoCd, false},
    {".png", "PNG", ImageReader::kPng, true},         {".apng", "PNG", ImageReader::kPng, true},
    {".webp", "WEBP", ImageReader::kWebp, true},      {".tif", "TIFF", ImageReader::kLibrary, true},
    {".tiff", "TIFF", ImageReader::kLibrary, true},   {".heic", "HEIC", ImageReader::kHeif, true},
    {".heif", "HEIC", ImageReader::kHeif, true},      {".avif", "AVIF", ImageReader::kHeif, true},
    {".jxl", "JXL", ImageReader::kJxl, true},
    // Cameras' RAW files: DNG, NEF, ARW and PEF are TIFF inside and go by their names.
    {".dng", "DNG", ImageReader::kRaw, true},         {".cr2", "CR2", ImageReader::kRaw, true},
    {".cr3", "CR3", ImageReader::kRaw, true},         {".nef", "NEF", ImageReader::kRaw, true},
    {".arw", "ARW", ImageReader::kRaw, true},         {".raf", "RAF", ImageReader::kRaw, true},
    {".rw2", "RW2", ImageReader::kRaw, true},         {".orf", "ORF", ImageReader::kRaw, true},
    {".pef", "PEF", ImageReader::kRaw, true},
};

bool IsOpened(const ImageFormat& format, bool bOtherFormats) { return !format.bOptIn || bOtherFormats; }

// Whether name ends in ending, ASCII letters folded (ending is lower case).
bool EndsIn(const char* name, std::size_t length, const char* ending) {
  const std::size_t endingLength = std::strlen(ending);
  if (length < endingLength) return false;
  const char* tail = name + length - endingLength;
  for (std::size_t i = 0; i < endingLength; ++i) {
    const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
    if (c != ending[i]) return false;
  }
  return true;
}

}  // namespace

const ImageFormat* ImageFormatOfName(const char* name, bool bOtherFormats) {
  // Compared in place: a large folder's count tests every one of its names.
  const std::size_t length = std::strlen(name);
  for (const ImageFormat& format : kFormats) {
    if (IsOpened(format, bOtherFormats) && EndsIn(name, length, format.extension)) return &format;
  }
  return nullptr;
}

ImageReader ImageReaderOfFormat(const std::string& name, bool bOtherFormats) {
  for (const ImageFormat& format : kFormats) {
    if (!IsOpened(format, bOtherFormats)) continue;
    const bool bGif = format.reader == ImageReader::kGif && name.rfind(format.name, 0) == 0;  // GIF87, GIF89
    if (bGif || name == format.name) return format.reader;
  }
  return ImageReader::kNone;
}

std::string FormatOfFile(const std::string& contentFormat, const char* name) {
  if (contentFormat != "TIFF") return contentFormat;
  const ImageFormat* named = ImageFormatOfName(name, true);
  return named != nullptr && named->reader == ImageReader::kRaw ? named->name : contentFormat;
}

std::string JoinedImageExtensions(bool bOtherFormats, const char* prefix, const char* separator) {
  std::string joined;
  for (const ImageFormat& format : kFormats) {
    if (!IsOpened(format, bOtherFormats)) continue;
    if (!joined.empty()) joined += separator;
    joined += std::string(prefix) + format.extension;
  }
  return joined;
}
