#include "convert/ExifBlock.h"

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>

#include <cstdio>
#include <cstring>

#include "convert/PictureFormats.h"

namespace {

struct LoaderRelease {
  void operator()(ExifLoader* loader) const { exif_loader_unref(loader); }
};

// The text of an ASCII entry of the block, when it has one.
std::string TextOf(ExifData* data, ExifIfd ifd, ExifTag tag) {
  ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
  if (entry == nullptr || entry->format != EXIF_FORMAT_ASCII || entry->data == nullptr) return {};
  const auto* text = reinterpret_cast<const char*>(entry->data);
  return std::string(text, strnlen(text, entry->size));
}

}  // namespace

void CExifBlock::DataRelease::operator()(_ExifData* data) const { exif_data_unref(data); }

CExifBlock::CExifBlock(const char* path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(path), &std::fclose);
  if (!file) return;
  unsigned char buffer[4096];
  std::size_t got = std::fread(buffer, 1, sizeof(buffer), file.get());
  if (got < 3 || buffer[0] != 0xFF || buffer[1] != 0xD8 || buffer[2] != 0xFF) {
    LoadPictureBlock(path);
    return;
  }
  m_bTurnedByExif = true;
  // The loader takes the file piece by piece and says when it has seen the whole EXIF block (or
  // that there is none), so the pixels are never read.
  const std::unique_ptr<ExifLoader, LoaderRelease> loader(exif_loader_new());
  if (!loader) return;
  while (got > 0 && exif_loader_write(loader.get(), buffer, static_cast<unsigned int>(got)) != 0)
    got = std::fread(buffer, 1, sizeof(buffer), file.get());
  m_pData.reset(exif_loader_get_data(loader.get()));
}

CExifBlock::~CExifBlock() = default;

void CExifBlock::LoadPictureBlock(const char* path) {
  bool turned = false;
  const std::string block = vimo::convert::ReadPictureExif(path, turned);
  if (block.empty()) return;
  m_pData.reset(exif_data_new());
  if (!m_pData) return;
  // What the block holds, nothing that the library would add to "fix" it.
  exif_data_unset_option(m_pData.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(m_pData.get(), reinterpret_cast<const unsigned char*>(block.data()), static_cast<unsigned int>(block.size()));
  m_bTurnedByExif = turned;
}

int CExifBlock::GetOrientation() const {
  if (!m_pData || !m_bTurnedByExif) return 1;
  ExifEntry* entry = exif_content_get_entry(m_pData->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 || entry->size < 2) return 1;
  const int value = exif_get_short(entry->data, exif_data_get_byte_order(m_pData.get()));
  return value >= 1 && value <= 8 ? value : 1;
}

std::string CExifBlock::GetDateTaken() const {
  if (!m_pData) return {};
  std::string date = TextOf(m_pData.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
  if (date.empty()) date = TextOf(m_pData.get(), EXIF_IFD_0, EXIF_TAG_DATE_TIME);
  // Cameras without a clock write blanks or zeros: no date.
  return date.find_first_not_of(" 0:") == std::string::npos ? std::string() : date;
}

const BYTE* CExifBlock::GetThumbnail(std::size_t& size) const {
  size = 0;
  if (!m_pData || !m_bTurnedByExif || m_pData->data == nullptr || m_pData->size == 0) return nullptr;
  size = m_pData->size;
  return m_pData->data;
}
