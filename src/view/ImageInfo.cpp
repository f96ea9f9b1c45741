#include "view/ImageInfo.h"

#include <libexif/exif-data.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "convert/ColourProfile.h"
#include "convert/ImageFacts.h"

namespace {

struct ExifDataRelease {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

// A value fit for one line: control characters as blanks, no blanks at the ends.
std::string OneLine(std::string value) {
  for (char& c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

void AddLine(CString& text, const char* caption, const std::string& value) {
  const std::string line = OneLine(value);
  if (line.empty()) return;
  text += CString(caption) + "\t" + line.c_str() + "\n";
}

// 1234567 as "1,234,567".
std::string Grouped(unsigned long long value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

std::string Formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

// libexif's own wording of the entry tag in ifd; empty when the block has none.
std::string ExifText(ExifData* data, ExifIfd ifd, ExifTag tag) {
  ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
  if (entry == nullptr) return {};
  char value[1024] = "";
  const char* text = exif_entry_get_value(entry, value, sizeof(value));
  return text != nullptr ? text : "";
}

// Degrees of a GPS latitude or longitude (three rationals), negative to the south or west; FALSE
// when the block has none or its numbers are not a position.
BOOL GpsDegrees(ExifData* data, ExifTag tag, ExifTag refTag, double& degrees) {
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_GPS], tag);
  if (entry == nullptr || entry->format != EXIF_FORMAT_RATIONAL || entry->components < 3 || entry->size < 24) return FALSE;
  const ExifByteOrder order = exif_data_get_byte_order(data);
  degrees = 0;
  for (int i = 0; i < 3; ++i) {
    const ExifRational part = exif_get_rational(entry->data + 8 * i, order);
    if (part.denominator == 0) return FALSE;
    degrees += static_cast<double>(part.numerator) / part.denominator / std::pow(60.0, i);
  }
  const std::string ref = ExifText(data, EXIF_IFD_GPS, refTag);
  if (!ref.empty() && (ref[0] == 'S' || ref[0] == 'W')) degrees = -degrees;
  return std::isfinite(degrees) ? TRUE : FALSE;
}

void AddExifLines(CString& text, const std::string& block) {
  const std::unique_ptr<ExifData, ExifDataRelease> data(exif_data_new());
  if (!data || block.empty()) return;
  // What the block holds, nothing that the library would add to "fix" it.
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(data.get(), reinterpret_cast<const unsigned char*>(block.data()), static_cast<unsigned int>(block.size()));
  ExifData* exif = data.get();
  AddLine(text, "撮影日時", ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL));
  AddLine(text, "ｶﾒﾗのﾒｰｶｰ", ExifText(exif, EXIF_IFD_0, EXIF_TAG_MAKE));
  AddLine(text, "ｶﾒﾗの機種", ExifText(exif, EXIF_IFD_0, EXIF_TAG_MODEL));
  const std::string lensMake = OneLine(ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_LENS_MAKE));
  const std::string lensModel = OneLine(ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_LENS_MODEL));
  AddLine(text, "ﾚﾝｽﾞ", lensModel.rfind(lensMake, 0) == 0 ? lensModel : lensMake + " " + lensModel);
  AddLine(text, "露出時間", ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME));
  AddLine(text, "F値", ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_FNUMBER));
  AddLine(text, "ISO感度", ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS));
  std::string focal = OneLine(ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH));
  const std::string focal35 = OneLine(ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM));
  if (!focal.empty() && !focal35.empty() && focal35 != "0") focal += " (35 mm 換算 " + focal35 + " mm)";
  AddLine(text, "焦点距離", focal);
  AddLine(text, "ﾌﾗｯｼｭ", ExifText(exif, EXIF_IFD_EXIF, EXIF_TAG_FLASH));
  if (ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
      entry != nullptr && entry->format == EXIF_FORMAT_SHORT && entry->size >= 2) {
    const int value = exif_get_short(entry->data, exif_data_get_byte_order(exif));
    AddLine(text, "向き (EXIF)", ExifText(exif, EXIF_IFD_0, EXIF_TAG_ORIENTATION) + " (" + std::to_string(value) + ")");
  }
  double latitude = 0, longitude = 0;
  if (GpsDegrees(exif, static_cast<ExifTag>(EXIF_TAG_GPS_LATITUDE), static_cast<ExifTag>(EXIF_TAG_GPS_LATITUDE_REF), latitude) &&
      GpsDegrees(exif, static_cast<ExifTag>(EXIF_TAG_GPS_LONGITUDE), static_cast<ExifTag>(EXIF_TAG_GPS_LONGITUDE_REF), longitude))
    AddLine(text, "位置 (GPS)", Formatted("%.6f", latitude) + ", " + Formatted("%.6f", longitude));
}

}  // namespace

CString CImageInfo::Describe(const char* folder, const char* name) {
  const CString path = CString(folder) + name;
  struct _stat status {};
  if (_stat(path, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return CString();
  CString text;
  AddLine(text, "ﾌｧｲﾙ名", name);
  AddLine(text, "ﾌｫﾙﾀﾞ", folder);
  const auto size = static_cast<unsigned long long>(status.st_size);
  AddLine(text, "ﾌｧｲﾙｻｲｽﾞ",
          Grouped(size) + " ﾊﾞｲﾄ" + (size >= 1000000 ? Formatted(" (%.1f MB)", size / 1e6) : size >= 1000 ? Formatted(" (%.1f KB)", size / 1e3) : ""));
  const ImageFacts facts = ReadImageFacts(path);
  if (facts.width > 0 && facts.height > 0) {
    const double megapixels = static_cast<double>(facts.width) * static_cast<double>(facts.height) / 1e6;
    AddLine(text, "画素数", std::to_string(facts.width) + " x " + std::to_string(facts.height) + " ﾋﾟｸｾﾙ" +
                               (megapixels >= 0.1 ? Formatted(" (%.1f ﾒｶﾞﾋﾟｸｾﾙ)", megapixels) : ""));
  }
  AddLine(text, "形式", facts.description.empty() ? facts.format : facts.format + " (" + facts.description + ")");
  AddExifLines(text, facts.exif);
  AddLine(text, "ｶﾗｰﾌﾟﾛﾌｧｲﾙ", vimo::convert::DescribeProfile(vimo::convert::ReadEmbeddedProfile(path)));
  return text;
}
