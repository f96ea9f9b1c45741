#include "formats/HeifReader.h"

#include <libheif/heif.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "convert/PictureLimits.h"

namespace vimo::convert {
namespace {

// The shape a thumbnail must share with the picture to stand for it, within this.
constexpr double kShapeTolerance = 0.02;
// Bytes per pixel while a picture is decoded: the decoder's planes (twice for more than 8 bits),
// the 8-bit result, and what the writer holds of it.
std::uint64_t DecodingBytesPerPixel(int bits, bool alpha) { return (bits > 8 ? 6 : 3) + 4 + (alpha ? 8 : 0); }

struct ImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
struct NclxFree {
  void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
struct ProfileClose {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct CurveFree {
  void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};

ConvertOutcome Failed(const heif_error& error) { return picture::Undecodable(error.message); }

// libheif with its decoders registered, from the first reader to the end of the process.
class CHeifLibrary {
 public:
  CHeifLibrary() { (void)heif_init(nullptr); }
  ~CHeifLibrary() { heif_deinit(); }
  CHeifLibrary(const CHeifLibrary&) = delete;
  CHeifLibrary& operator=(const CHeifLibrary&) = delete;
};

// The reader libheif reads the caller's file through.
struct FileReader {
  static std::int64_t Position(void* file) { return std::ftell(static_cast<std::FILE*>(file)); }
  static int Read(void* data, std::size_t size, void* file) {
    return std::fread(data, 1, size, static_cast<std::FILE*>(file)) == size ? 0 : 1;
  }
  static int Seek(std::int64_t position, void* file) {
    return std::fseek(static_cast<std::FILE*>(file), static_cast<long>(position), SEEK_SET) == 0 ? 0 : 1;
  }
  static heif_reader_grow_status WaitForSize(std::int64_t size, void* file) {
    std::FILE* stream = static_cast<std::FILE*>(file);
    const long at = std::ftell(stream);
    if (at < 0 || std::fseek(stream, 0, SEEK_END) != 0) return heif_reader_grow_status_size_beyond_eof;
    const long end = std::ftell(stream);
    (void)std::fseek(stream, at, SEEK_SET);
    return size <= end ? heif_reader_grow_status_size_reached : heif_reader_grow_status_size_beyond_eof;
  }
};

const heif_reader kFileReader = {1, FileReader::Position, FileReader::Read, FileReader::Seek, FileReader::WaitForSize};

// The transfer curve an nclx description names (H.273): the sRGB curve for sRGB and for what it
// leaves unspecified; BT.709's for the video curves, the HDR ones (PQ, HLG) included, which are
// shown as a screen without tone mapping shows them.
cmsToneCurve* TransferCurve(int transfer) {
  switch (transfer) {
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M: return cmsBuildGamma(nullptr, 2.2);
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G: return cmsBuildGamma(nullptr, 2.8);
    case heif_transfer_characteristic_linear: return cmsBuildGamma(nullptr, 1.0);
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
    case heif_transfer_characteristic_ITU_R_BT_2100_0_PQ:
    case heif_transfer_characteristic_ITU_R_BT_2100_0_HLG: {
      const cmsFloat64Number bt709[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
      return cmsBuildParametricToneCurve(nullptr, 4, bt709);
    }
    default: {
      const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
      return cmsBuildParametricToneCurve(nullptr, 4, srgb);
    }
  }
}

// An ICC profile for the colours an nclx description gives: its primaries and white point as
// libheif decodes them, and its transfer curve. Empty for sRGB's own (and unspecified) ones.
IccBytes ProfileOfNclx(const heif_color_profile_nclx& nclx) {
  const int primaries = nclx.color_primaries;
  const int transfer = nclx.transfer_characteristics;
  const bool srgbPrimaries = primaries == heif_color_primaries_ITU_R_BT_709_5 || primaries == heif_color_primaries_unspecified;
  const bool srgbCurve = transfer == heif_transfer_characteristic_IEC_61966_2_1 || transfer == heif_transfer_characteristic_unspecified;
  if (srgbPrimaries && srgbCurve) return {};
  const bool known = nclx.color_primary_white_y > 0 && nclx.color_primary_red_y > 0 && nclx.color_primary_green_y > 0 &&
                     nclx.color_primary_blue_y > 0;
  // Primaries libheif does not know are taken as sRGB's.
  const cmsCIExyY white = known ? cmsCIExyY{nclx.color_primary_white_x, nclx.color_primary_white_y, 1.0} : cmsCIExyY{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE rgb = known ? cmsCIExyYTRIPLE{{nclx.color_primary_red_x, nclx.color_primary_red_y, 1.0},
                                                      {nclx.color_primary_green_x, nclx.color_primary_green_y, 1.0},
                                                      {nclx.color_primary_blue_x, nclx.color_primary_blue_y, 1.0}}
                                    : cmsCIExyYTRIPLE{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  const std::unique_ptr<cmsToneCurve, CurveFree> curve(TransferCurve(transfer));
  if (!curve) return {};
  cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
  const std::unique_ptr<void, ProfileClose> profile(cmsCreateRGBProfile(&white, &rgb, curves));
  if (!profile) return {};
  // Named as the colour spaces people know, with the numbers the file gives.
  const char* space = primaries == heif_color_primaries_ITU_R_BT_709_5       ? "BT.709"
                      : primaries == heif_color_primaries_ITU_R_BT_2020_2_and_2100_0 ? "BT.2020"
                      : primaries == heif_color_primaries_SMPTE_EG_432_1    ? "Display P3"
                      : primaries == heif_color_primaries_SMPTE_RP_431_2    ? "DCI-P3"
                                                                            : "colours";
  const std::string name = std::string(space) + " (nclx " + std::to_string(primaries) + "/" + std::to_string(transfer) + "/" +
                           std::to_string(static_cast<int>(nclx.matrix_coefficients)) + ")";
  cmsMLU* description = cmsMLUalloc(nullptr, 1);
  if (description != nullptr) {
    (void)cmsMLUsetASCII(description, "en", "US", name.c_str());
    (void)cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
  }
  cmsUInt32Number size = 0;
  if (!cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) return {};
  IccBytes bytes(size);
  if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) return {};
  return bytes;
}

// The pixels' profile of a handle: its ICC profile, else its nclx colours; empty for sRGB.
IccBytes ProfileOf(const heif_image_handle* handle) {
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
  if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
    IccBytes profile(heif_image_handle_get_raw_color_profile_size(handle));
    if (profile.empty() || heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok) return {};
    return profile;
  }
  if (type != heif_color_profile_type_nclx) return {};
  // Owned whatever the call answers: libheif 1.15 hands over the description it made even when it
  // then refuses its colour primaries as unknown (0, say).
  heif_color_profile_nclx* nclx = nullptr;
  const heif_error error = heif_image_handle_get_nclx_color_profile(handle, &nclx);
  const std::unique_ptr<heif_color_profile_nclx, NclxFree> owned(nclx);
  if (error.code != heif_error_Ok || !owned) return {};
  return ProfileOfNclx(*owned);
}

// Turns premultiplied RGBA rows into straight ones.
void Unpremultiply(std::uint8_t* pixels, int stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    std::uint8_t* pixel = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x, pixel += 4) {
      const int alpha = pixel[3];
      if (alpha == 0 || alpha == 255) continue;
      for (int c = 0; c < 3; ++c) pixel[c] = static_cast<std::uint8_t>(std::min(255, (pixel[c] * 255 + alpha / 2) / alpha));
    }
  }
}

}  // namespace

void CHeifReader::ContextFree::operator()(heif_context* context) const { heif_context_free(context); }
void CHeifReader::HandleRelease::operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }

CHeifReader::CHeifReader() = default;
CHeifReader::~CHeifReader() = default;

ConvertOutcome CHeifReader::Open(std::FILE* file) {
  static const CHeifLibrary library;  // started once, whichever thread comes first
  m_file = file;
  if (std::fseek(file, 0, SEEK_SET) != 0) return picture::Undecodable("it cannot be read");
  m_context.reset(heif_context_alloc());
  if (!m_context) return picture::Undecodable("out of memory");
  const heif_error read = heif_context_read_from_reader(m_context.get(), &kFileReader, file, nullptr);
  if (read.code != heif_error_Ok) return Failed(read);
  heif_image_handle* primary = nullptr;
  const heif_error found = heif_context_get_primary_image_handle(m_context.get(), &primary);
  if (found.code != heif_error_Ok) return Failed(found);
  m_primary.reset(primary);
  return CheckPictureSize(static_cast<std::uint64_t>(std::max(0, heif_image_handle_get_width(primary))),
                          static_cast<std::uint64_t>(std::max(0, heif_image_handle_get_height(primary))),
                          DecodingBytesPerPixel(heif_image_handle_get_luma_bits_per_pixel(primary),
                                                heif_image_handle_has_alpha_channel(primary) != 0));
}

void CHeifReader::Describe(ImageFacts& facts) {
  std::array<std::uint8_t, 64> head{};
  const bool read = std::fseek(m_file, 0, SEEK_SET) == 0;
  const std::size_t got = read ? std::fread(head.data(), 1, head.size(), m_file) : 0;
  const bool avif = got >= 12 && (heif_has_compatible_brand(head.data(), static_cast<int>(got), "avif") == 1 ||
                                  heif_has_compatible_brand(head.data(), static_cast<int>(got), "avis") == 1);
  facts.format = avif ? "AVIF" : "HEIC";
  facts.description = avif ? "AV1 Image File Format" : "High Efficiency Image File Format";
  facts.width = static_cast<unsigned long>(std::max(0, heif_image_handle_get_width(m_primary.get())));
  facts.height = static_cast<unsigned long>(std::max(0, heif_image_handle_get_height(m_primary.get())));
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(m_primary.get(), "Exif", &id, 1) != 1) return;
  std::vector<std::uint8_t> exif(heif_image_handle_get_metadata_size(m_primary.get(), id));
  if (exif.size() < 4 || heif_image_handle_get_metadata(m_primary.get(), id, exif.data()).code != heif_error_Ok) return;
  // The block starts with the offset of the TIFF header after its first four bytes.
  const std::uint32_t offset = (std::uint32_t{exif[0]} << 24) | (std::uint32_t{exif[1]} << 16) | (std::uint32_t{exif[2]} << 8) | exif[3];
  if (offset > exif.size() - 4) return;
  facts.exif = picture::ExifBlockOf(exif.data() + 4 + offset, exif.size() - 4 - offset);
}

IccBytes CHeifReader::Profile() { return ProfileOf(m_primary.get()); }

ConvertOutcome CHeifReader::Decode(CPictureSink& sink) { return DecodeImage(m_primary.get(), sink); }

ConvertOutcome CHeifReader::DecodeForThumbnail(CPictureSink& sink, unsigned cx) {
  const int count = heif_image_handle_get_number_of_thumbnails(m_primary.get());
  std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(count, 0)));
  ids.resize(static_cast<std::size_t>(heif_image_handle_get_list_of_thumbnail_IDs(m_primary.get(), ids.data(), count)));
  const double shape = static_cast<double>(heif_image_handle_get_width(m_primary.get())) /
                       std::max(1, heif_image_handle_get_height(m_primary.get()));
  HandlePtr chosen;
  for (const heif_item_id id : ids) {
    heif_image_handle* thumbnail = nullptr;
    if (heif_image_handle_get_thumbnail(m_primary.get(), id, &thumbnail).code != heif_error_Ok) continue;
    HandlePtr owned(thumbnail);
    const int width = heif_image_handle_get_width(thumbnail);
    const int height = heif_image_handle_get_height(thumbnail);
    if (height <= 0 || static_cast<unsigned>(std::max(width, height)) < cx) continue;
    if (std::abs(static_cast<double>(width) / height - shape) > kShapeTolerance * shape) continue;
    if (chosen && heif_image_handle_get_width(chosen.get()) <= width) continue;
    chosen = std::move(owned);
  }
  return DecodeImage(chosen ? chosen.get() : m_primary.get(), sink);
}

ConvertOutcome CHeifReader::DecodeImage(const heif_image_handle* handle, CPictureSink& sink) {
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
  const int width = heif_image_handle_get_width(handle);
  const int height = heif_image_handle_get_height(handle);
  const ConvertOutcome allowed = CheckPictureSize(static_cast<std::uint64_t>(std::max(0, width)),
                                                  static_cast<std::uint64_t>(std::max(0, height)), DecodingBytesPerPixel(bits, alpha));
  if (allowed.status != ConvertStatus::kWritten) return allowed;
  PictureInfo info;
  info.width = width;
  info.height = height;
  info.alpha = alpha;
  info.profile = ProfileOf(handle);
  if (handle != m_primary.get() && info.profile.empty()) info.profile = ProfileOf(m_primary.get());
  const ConvertOutcome begun = sink.Begin(info);
  if (begun.status != ConvertStatus::kWritten || !sink.WantsMore()) return begun;
  const std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
  if (!options) return picture::Undecodable("out of memory");
  if (options->version >= 2) options->convert_hdr_to_8bit = 1;
  heif_image* decoded = nullptr;
  const heif_error error = heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                                             alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
  const std::unique_ptr<heif_image, ImageRelease> image(decoded);
  if (error.code != heif_error_Ok) return Failed(error);
  int stride = 0;
  std::uint8_t* pixels = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
  PictureRows rows;
  rows.width = heif_image_get_width(image.get(), heif_channel_interleaved);
  rows.height = heif_image_get_height(image.get(), heif_channel_interleaved);
  if (pixels == nullptr || rows.width <= 0 || rows.height <= 0 || stride < rows.width * (alpha ? 4 : 3) ||
      heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
    return picture::Undecodable("the decoder gave no 8-bit picture");
  if (alpha && heif_image_is_premultiplied_alpha(image.get()) != 0) Unpremultiply(pixels, stride, rows.width, rows.height);
  rows.pixels = pixels;
  rows.stride = static_cast<std::size_t>(stride);
  rows.order = alpha ? PixelOrder::kRgba : PixelOrder::kRgb;
  return sink.Add(rows, 0);
}

}  // namespace vimo::convert
