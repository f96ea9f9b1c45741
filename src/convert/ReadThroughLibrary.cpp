#include "convert/ReadThroughLibrary.h"

namespace vimo::convert {

Image* ReadThroughLibrary(const char* magick, std::FILE* file, const ImageInfo* info, ExceptionInfo* exception) {
  if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
  ImageInfoPtr readInfo(CloneImageInfo(info));
  if (!readInfo) return nullptr;
  readInfo->file = file;  // the library reads from it and leaves closing it to the owner
  (void)FormatLocaleString(readInfo->filename, MaxTextExtent, "%s:source", magick);
  return ReadImage(readInfo.get(), exception);
}

}  // namespace vimo::convert
