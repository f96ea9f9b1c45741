#include "convert/ReadThroughLibrary.h"

#include <cstdio>

namespace vimo::convert {

namespace {

Image* ReadNamed(const char* magick, std::FILE* file, const ImageInfo* info, ExceptionInfo* exception, bool ping) {
  if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
  ImageInfoPtr readInfo(CloneImageInfo(info));
  if (!readInfo) return nullptr;
  readInfo->file = file;  // the library reads from it and leaves closing it to the owner
  (void)std::snprintf(readInfo->filename, MaxTextExtent, "%s:source", magick);
  return ping ? PingImage(readInfo.get(), exception) : ReadImage(readInfo.get(), exception);
}

}  // namespace

Image* ReadThroughLibrary(const char* magick, std::FILE* file, const ImageInfo* info, ExceptionInfo* exception) {
  return ReadNamed(magick, file, info, exception, false);
}

Image* PingThroughLibrary(const char* magick, std::FILE* file, const ImageInfo* info, ExceptionInfo* exception) {
  return ReadNamed(magick, file, info, exception, true);
}

}  // namespace vimo::convert
