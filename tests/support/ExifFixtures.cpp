#include "support/ExifFixtures.h"

#include <libexif/exif-data.h>

#include <cstring>
#include <memory>

namespace vimo::test {

namespace {

struct ExifDataRelease {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

void AppendLittle(Bytes& bytes, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

ExifField ExifAscii(int ifd, unsigned tag, const std::string& text) {
  return ExifField{ifd, tag, EXIF_FORMAT_ASCII, static_cast<unsigned>(text.size() + 1), Bytes(text.c_str(), text.c_str() + text.size() + 1)};
}

ExifField ExifShort(int ifd, unsigned tag, unsigned value) {
  Bytes bytes;
  AppendLittle(bytes, value, 2);
  return ExifField{ifd, tag, EXIF_FORMAT_SHORT, 1, bytes};
}

ExifField ExifRationals(int ifd, unsigned tag, const std::vector<std::pair<unsigned, unsigned>>& values) {
  Bytes bytes;
  for (const auto& [numerator, denominator] : values) AppendLittle(bytes, numerator, 4), AppendLittle(bytes, denominator, 4);
  return ExifField{ifd, tag, EXIF_FORMAT_RATIONAL, static_cast<unsigned>(values.size()), bytes};
}

Bytes MakeExifBlock(const std::vector<ExifField>& fields, const Bytes& thumbnail) {
  ExifMem* mem = exif_mem_new_default();
  const std::unique_ptr<ExifData, ExifDataRelease> data(exif_data_new_mem(mem));
  exif_data_set_byte_order(data.get(), EXIF_BYTE_ORDER_INTEL);
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  for (const ExifField& field : fields) {
    ExifEntry* entry = exif_entry_new_mem(mem);
    entry->tag = static_cast<ExifTag>(field.tag);
    entry->format = static_cast<ExifFormat>(field.format);
    entry->components = field.components;
    entry->size = static_cast<unsigned int>(field.value.size());
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(mem, entry->size));
    std::memcpy(entry->data, field.value.data(), entry->size);
    exif_content_add_entry(data->ifd[field.ifd], entry);
    exif_entry_unref(entry);
  }
  if (!thumbnail.empty()) {
    data->data = static_cast<unsigned char*>(exif_mem_alloc(mem, static_cast<ExifLong>(thumbnail.size())));
    std::memcpy(data->data, thumbnail.data(), thumbnail.size());
    data->size = static_cast<unsigned int>(thumbnail.size());
  }
  unsigned char* saved = nullptr;
  unsigned int size = 0;
  exif_data_save_data(data.get(), &saved, &size);
  Bytes block(saved, saved + size);
  exif_mem_free(mem, saved);
  exif_mem_unref(mem);
  return block;
}

Bytes WithExifBlock(Bytes jpeg, const Bytes& block) {
  Bytes segment = {0xFF, 0xE1, std::uint8_t((block.size() + 2) >> 8), std::uint8_t(block.size() + 2)};
  segment.insert(segment.end(), block.begin(), block.end());
  std::size_t at = 2;
  if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) at = 4 + (std::size_t{jpeg[4]} << 8 | jpeg[5]);
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), segment.begin(), segment.end());
  return jpeg;
}

}  // namespace vimo::test
