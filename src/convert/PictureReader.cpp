#include "convert/PictureReader.h"

#include "convert/ApngReader.h"
#include "convert/FormatLibraries.h"

namespace vimo::convert {

std::unique_ptr<CPictureReader> CPictureReader::Create(ImageReader reader) {
  switch (reader) {
    case ImageReader::kHeif:
    case ImageReader::kJxl:
    case ImageReader::kWebp:
      return CreateLibraryReader(reader);
    case ImageReader::kPng:
      return std::make_unique<CApngReader>();
    default:
      return nullptr;
  }
}

}  // namespace vimo::convert
