#include "doc/ExifOrientation.h"

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>

#include <cstdio>
#include <memory>

#include "afx/afx.h"

namespace {

struct LoaderRelease {
  void operator()(ExifLoader* loader) const { exif_loader_unref(loader); }
};
struct DataRelease {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

}  // namespace

int ReadExifOrientation(const char* path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(path), &std::fclose);
  if (!file) return 1;
  unsigned char buffer[4096];
  std::size_t got = std::fread(buffer, 1, sizeof(buffer), file.get());
  if (got < 3 || buffer[0] != 0xFF || buffer[1] != 0xD8 || buffer[2] != 0xFF) return 1;
  // The loader takes the file piece by piece and says when it has seen the whole EXIF block (or
  // that there is none), so the pixels are never read.
  const std::unique_ptr<ExifLoader, LoaderRelease> loader(exif_loader_new());
  if (!loader) return 1;
  while (got > 0 && exif_loader_write(loader.get(), buffer, static_cast<unsigned int>(got)) != 0)
    got = std::fread(buffer, 1, sizeof(buffer), file.get());
  const std::unique_ptr<ExifData, DataRelease> data(exif_loader_get_data(loader.get()));
  if (!data) return 1;
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 || entry->size < 2) return 1;
  const int value = exif_get_short(entry->data, exif_data_get_byte_order(data.get()));
  return value >= 1 && value <= 8 ? value : 1;
}
