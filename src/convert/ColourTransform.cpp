#include "convert/ColourTransform.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vimo::convert {
namespace {

constexpr const char* kDefaultCmykProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

struct ProfileCloser {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

struct TestDeleter {
  void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using TransformPtr = std::unique_ptr<void, TestDeleter>;

// The profile in bytes when it is one of colour space `space` that Little CMS reads; null else.
ProfilePtr OpenProfile(const IccBytes& bytes, cmsColorSpaceSignature space) {
  if (bytes.empty() || bytes.size() > UINT32_MAX) return nullptr;
  ProfilePtr profile(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
  if (profile && cmsGetColorSpace(profile.get()) != space) profile.reset();
  return profile;
}

ProfilePtr SrgbProfile() { return ProfilePtr(cmsCreate_sRGBProfile()); }

cmsUInt32Number FormatOf(CColourTransform::Pixels pixels) {
  switch (pixels) {
    case CColourTransform::Pixels::kBgr: return TYPE_BGR_8;
    case CColourTransform::Pixels::kCmyk: return TYPE_CMYK_8;
    case CColourTransform::Pixels::kInvertedCmyk: return TYPE_CMYK_8_REV;
    case CColourTransform::Pixels::kPackets: return TYPE_BGRA_16;
  }
  return TYPE_BGR_8;
}

// Whether an 8-bit RGB transform changes no colour by more than one level: an image tagged sRGB
// shown on sRGB (whoever made the two profiles) is then copied as stored.
bool ChangesNothing(cmsHTRANSFORM test) {
  constexpr int kSteps = 9;  // 0, 32, ... 255 in each channel
  std::array<std::uint8_t, kSteps * kSteps * kSteps * 3> in{};
  std::size_t at = 0;
  for (int b = 0; b < kSteps; ++b) {
    for (int g = 0; g < kSteps; ++g) {
      for (int r = 0; r < kSteps; ++r) {
        for (const int level : {b, g, r}) in[at++] = static_cast<std::uint8_t>(std::min(255, level * 32));
      }
    }
  }
  std::array<std::uint8_t, in.size()> out{};
  cmsDoTransform(test, in.data(), out.data(), kSteps * kSteps * kSteps);
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (std::abs(int{in[i]} - int{out[i]}) > 1) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<CColourTransform> CColourTransform::Create(const IccBytes& source, Pixels pixels, const IccBytes& target) {
  const bool cmyk = pixels == Pixels::kCmyk || pixels == Pixels::kInvertedCmyk;
  if (!cmyk && source.empty() && target.empty()) return nullptr;  // sRGB shown on sRGB, at no cost
  ProfilePtr from = OpenProfile(source, cmyk ? cmsSigCmykData : cmsSigRgbData);
  if (!from) from = cmyk ? OpenProfile(DefaultCmykProfile(), cmsSigCmykData) : SrgbProfile();
  ProfilePtr to = OpenProfile(target, cmsSigRgbData);
  if (!to) to = SrgbProfile();
  if (!from || !to) return nullptr;
  const cmsUInt32Number flags = cmyk ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0;
  if (!cmyk) {
    const TransformPtr test(cmsCreateTransform(from.get(), TYPE_BGR_8, to.get(), TYPE_BGR_8, INTENT_PERCEPTUAL, flags));
    if (!test) {
      // A target it cannot write into (an input-only profile): sRGB instead.
      to = SrgbProfile();
      const TransformPtr again(cmsCreateTransform(from.get(), TYPE_BGR_8, to.get(), TYPE_BGR_8, INTENT_PERCEPTUAL, flags));
      if (!again || ChangesNothing(again.get())) return nullptr;
    } else if (ChangesNothing(test.get())) {
      return nullptr;
    }
  }
  const cmsUInt32Number out = pixels == Pixels::kPackets ? TYPE_BGRA_16 : TYPE_BGR_8;
  TransformPtr transform(cmsCreateTransform(from.get(), FormatOf(pixels), to.get(), out, INTENT_PERCEPTUAL, flags));
  if (!transform) return nullptr;
  // The constructor is private: make_unique cannot reach it.
  return std::unique_ptr<CColourTransform>(new CColourTransform(transform.release()));
}

void CColourTransform::TransformDeleter::operator()(void* transform) const { cmsDeleteTransform(transform); }

void CColourTransform::Rows(const void* in, std::size_t inStride, void* out, std::size_t outStride, std::size_t width,
                            std::size_t lines) const {
  cmsDoTransformLineStride(m_transform.get(), in, out, static_cast<cmsUInt32Number>(width), static_cast<cmsUInt32Number>(lines),
                           static_cast<cmsUInt32Number>(inStride), static_cast<cmsUInt32Number>(outStride), 0, 0);
}

const IccBytes& DefaultCmykProfile() {
  // Read on first use; a missing file leaves it empty (CMYK then takes the library's own formula).
  static const IccBytes profile = [] {
    std::ifstream file(kDefaultCmykProfile, std::ios::binary);
    return IccBytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }();
  return profile;
}

}  // namespace vimo::convert
