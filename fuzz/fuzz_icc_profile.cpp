// An ICC profile a file embeds, as the colour management reads it: the information panel's name
// of it, the test of a monitor's profile, and transforms from it and into it, over a few rows.
// CMYK rows are turned only from a CMYK profile: for any other bytes the transform is the default
// CMYK profile's, the same for every input and slow to make.
#include <lcms2.h>

#include <array>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "convert/ColourProfile.h"
#include "convert/ColourTransform.h"

namespace {

using vimo::convert::CColourTransform;

// Turns a few rows of every layout the conversion feeds; nothing to check but that it ends.
void TurnRows(const CColourTransform* transform, CColourTransform::Pixels pixels) {
  if (transform == nullptr) return;
  std::array<std::uint8_t, 4 * 2 * 16 * 2> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<std::uint8_t>(i * 37);
  const std::size_t stride = pixels == CColourTransform::Pixels::kPackets ? 8 * 16 : 4 * 16;
  std::array<std::uint8_t, 8 * 16 * 2> out{};
  transform->Rows(rows.data(), stride, out.data(), pixels == CColourTransform::Pixels::kPackets ? 8 * 16 : 3 * 16, 16, 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vimo::convert::IccBytes profile(data, data + size);
  (void)vimo::convert::DescribeProfile(profile);
  (void)vimo::convert::IsRgbTargetProfile(profile);
  for (const auto pixels : {CColourTransform::Pixels::kBgr, CColourTransform::Pixels::kPackets})
    TurnRows(CColourTransform::Create(profile, pixels, {}).get(), pixels);
  cmsHPROFILE opened = size > 0 ? cmsOpenProfileFromMem(data, static_cast<cmsUInt32Number>(size)) : nullptr;
  const bool cmyk = opened != nullptr && cmsGetColorSpace(opened) == cmsSigCmykData;
  if (opened != nullptr) cmsCloseProfile(opened);
  for (const auto pixels : {CColourTransform::Pixels::kCmyk, CColourTransform::Pixels::kInvertedCmyk})
    if (cmyk) TurnRows(CColourTransform::Create(profile, pixels, {}).get(), pixels);
  TurnRows(CColourTransform::Create({}, CColourTransform::Pixels::kBgr, profile).get(), CColourTransform::Pixels::kBgr);
  return 0;
}
