#include "convert/RawReader.h"

#include <libexif/exif-data.h>
#include <libraw/libraw.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace vimo::convert {

namespace {

// libraw reads the caller's file through this (opening the file again by name could meet
// something else under that name, and a FIFO there would block).
class CFileStream : public LibRaw_abstract_datastream {
 public:
  explicit CFileStream(std::FILE* file) : m_file(file) {
    if (std::fseek(file, 0, SEEK_END) == 0) m_size = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0) m_size = -1;
  }
  int valid() override { return m_size >= 0 ? 1 : 0; }
  int read(void* buffer, size_t size, size_t count) override { return static_cast<int>(std::fread(buffer, size, count, m_file)); }
  int seek(INT64 offset, int whence) override { return std::fseek(m_file, static_cast<long>(offset), whence); }
  INT64 tell() override { return std::ftell(m_file); }
  INT64 size() override { return m_size; }
  int get_char() override { return std::fgetc(m_file); }
  char* gets(char* text, int size) override { return std::fgets(text, size, m_file); }
  int scanf_one(const char* format, void* value) override { return std::fscanf(m_file, format, value); }
  int eof() override { return std::feof(m_file); }
  void* make_jas_stream() override { return nullptr; }

 private:
  std::FILE* m_file;
  INT64 m_size = -1;
};

ConvertOutcome Failed(int error) { return {ConvertStatus::kUndecodable, 0, 0, 0, libraw_strerror(error)}; }

// libraw's flip (transposed 4, upside down 2, mirrored 1) as EXIF's orientation.
int OrientationOfFlip(int flip) {
  static constexpr int kOrientation[8] = {1, 2, 4, 3, 5, 8, 6, 7};
  return kOrientation[flip & 7];
}

struct ExifRelease {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};
struct MemRelease {
  void operator()(ExifMem* mem) const { exif_mem_unref(mem); }
};

// The block libexif reads back: what libraw found, in the EXIF entries the panel shows.
class CExifWriter {
 public:
  CExifWriter() : m_mem(exif_mem_new_default()), m_data(exif_data_new_mem(m_mem.get())) {
    if (m_data) exif_data_set_byte_order(m_data.get(), EXIF_BYTE_ORDER_INTEL);
  }
  void Text(ExifIfd ifd, ExifTag tag, const std::string& text) {
    if (text.empty()) return;
    ExifEntry* entry = Add(ifd, tag);
    if (entry == nullptr) return;
    entry->format = EXIF_FORMAT_ASCII;
    entry->components = text.size() + 1;
    entry->size = static_cast<unsigned int>(text.size() + 1);
    exif_mem_free(m_mem.get(), entry->data);
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(m_mem.get(), entry->size));
    if (entry->data != nullptr) std::memcpy(entry->data, text.c_str(), entry->size);
  }
  void Rational(ExifIfd ifd, ExifTag tag, double value, std::uint32_t denominator) {
    ExifEntry* entry = Add(ifd, tag);
    if (entry == nullptr || entry->data == nullptr || entry->format != EXIF_FORMAT_RATIONAL) return;
    exif_set_rational(entry->data, EXIF_BYTE_ORDER_INTEL, {static_cast<ExifLong>(std::lround(value * denominator)), denominator});
  }
  void Short(ExifIfd ifd, ExifTag tag, int value) {
    ExifEntry* entry = Add(ifd, tag);
    if (entry == nullptr || entry->data == nullptr || entry->format != EXIF_FORMAT_SHORT) return;
    exif_set_short(entry->data, EXIF_BYTE_ORDER_INTEL, static_cast<ExifShort>(value));
  }
  std::string Save() {
    unsigned char* bytes = nullptr;
    unsigned int size = 0;
    if (!m_data) return {};
    exif_data_save_data(m_data.get(), &bytes, &size);
    std::string block(reinterpret_cast<const char*>(bytes), bytes != nullptr ? size : 0);
    exif_mem_free(m_mem.get(), bytes);
    return block;
  }

 private:
  ExifEntry* Add(ExifIfd ifd, ExifTag tag) {
    if (!m_data) return nullptr;
    ExifEntry* entry = exif_entry_new_mem(m_mem.get());
    if (entry == nullptr) return nullptr;
    exif_content_add_entry(m_data->ifd[ifd], entry);
    exif_entry_initialize(entry, tag);
    exif_entry_unref(entry);  // the directory holds it
    return entry;
  }
  std::unique_ptr<ExifMem, MemRelease> m_mem;
  std::unique_ptr<ExifData, ExifRelease> m_data;
};

// The time as EXIF writes it, "YYYY:MM:DD HH:MM:SS", in this machine's time zone (libraw reads
// the camera's local time as this machine's local time); empty for none.
std::string ExifTime(std::time_t time) {
  static std::mutex lock;  // the C library's one broken-down time
  const std::lock_guard<std::mutex> guard(lock);
  const std::tm* local = time > 0 ? std::localtime(&time) : nullptr;
  char text[32] = "";
  if (local == nullptr || std::strftime(text, sizeof(text), "%Y:%m:%d %H:%M:%S", local) == 0) return {};
  return text;
}

// An exposure time as cameras write it: 1/250 for the fractions of a second, 2.5 above.
void PutExposure(CExifWriter& exif, double seconds) {
  if (seconds <= 0 || !std::isfinite(seconds)) return;
  if (seconds >= 1) {
    exif.Rational(EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME, seconds, 10);
    return;
  }
  const auto denominator = static_cast<std::uint32_t>(std::lround(1 / seconds));
  exif.Rational(EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME, 1.0 / denominator, denominator);
}

class CLibRawReader final : public CRawReader {
 public:
  CLibRawReader() = default;
  ~CLibRawReader() override {
    m_pRaw.reset();  // before the stream it reads through
  }
  CLibRawReader(const CLibRawReader&) = delete;
  CLibRawReader& operator=(const CLibRawReader&) = delete;

  ConvertOutcome Open(std::FILE* file) override;
  ConvertOutcome ReadPreview(std::string_view& jpeg) override;
  int GetOrientation() const override;
  void Describe(ImageFacts& facts) const override;

 private:
  std::unique_ptr<CFileStream> m_pStream;  // outlives m_pRaw, which reads through it
  std::unique_ptr<LibRaw> m_pRaw;
};

}  // namespace

std::unique_ptr<CRawReader> CreateLibRawReader() { return std::make_unique<CLibRawReader>(); }

ConvertOutcome CLibRawReader::Open(std::FILE* file) {
  m_pRaw.reset();
  m_pStream = std::make_unique<CFileStream>(file);
  m_pRaw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  const int error = m_pRaw->open_datastream(m_pStream.get());
  if (error != LIBRAW_SUCCESS) return Failed(error);
  return {ConvertStatus::kWritten};
}

ConvertOutcome CLibRawReader::ReadPreview(std::string_view& jpeg) {
  jpeg = {};
  const ConvertOutcome none = {ConvertStatus::kUndecodable, 0, 0, 0,
                               "a RAW file without a JPEG preview (Vimo shows the preview a camera stores; it does not develop RAW data)"};
  const libraw_thumbnail_t& thumbnail = m_pRaw->imgdata.thumbnail;
  const int error = m_pRaw->unpack_thumb();
  if (error == LIBRAW_NO_THUMBNAIL) return none;
  if (error != LIBRAW_SUCCESS) return Failed(error);
  if (thumbnail.tformat != LIBRAW_THUMBNAIL_JPEG || thumbnail.thumb == nullptr || thumbnail.tlength < 4) return none;
  jpeg = std::string_view(thumbnail.thumb, thumbnail.tlength);
  return {ConvertStatus::kWritten};
}

int CLibRawReader::GetOrientation() const { return OrientationOfFlip(m_pRaw->imgdata.sizes.flip); }

void CLibRawReader::Describe(ImageFacts& facts) const {
  const libraw_data_t& data = m_pRaw->imgdata;
  const bool turned = (data.sizes.flip & 4) != 0;
  facts.width = turned ? data.sizes.height : data.sizes.width;
  facts.height = turned ? data.sizes.width : data.sizes.height;
  facts.description = "camera RAW file";
  if (data.thumbnail.twidth > 0 && data.thumbnail.theight > 0)
    facts.description += ", preview " + std::to_string(data.thumbnail.twidth) + " x " + std::to_string(data.thumbnail.theight);
  CExifWriter exif;
  exif.Text(EXIF_IFD_0, EXIF_TAG_MAKE, data.idata.make);
  exif.Text(EXIF_IFD_0, EXIF_TAG_MODEL, data.idata.model);
  exif.Short(EXIF_IFD_0, EXIF_TAG_ORIENTATION, GetOrientation());
  exif.Text(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, ExifTime(data.other.timestamp));
  PutExposure(exif, data.other.shutter);
  if (data.other.aperture > 0) exif.Rational(EXIF_IFD_EXIF, EXIF_TAG_FNUMBER, data.other.aperture, 10);
  if (data.other.iso_speed > 0) exif.Short(EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS, static_cast<int>(std::lround(data.other.iso_speed)));
  if (data.other.focal_len > 0) exif.Rational(EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH, data.other.focal_len, 10);
  if (data.lens.FocalLengthIn35mmFormat > 0)
    exif.Short(EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM, data.lens.FocalLengthIn35mmFormat);
  exif.Text(EXIF_IFD_EXIF, EXIF_TAG_LENS_MAKE, data.lens.LensMake);
  exif.Text(EXIF_IFD_EXIF, EXIF_TAG_LENS_MODEL, data.lens.Lens[0] != '\0' ? data.lens.Lens : data.lens.makernotes.Lens);
  facts.exif = exif.Save();
}

}  // namespace vimo::convert
