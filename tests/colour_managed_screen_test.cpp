// Managed colours: the viewer's conversion turns each photo's colours from its own ICC profile
// into the monitor's, as the X server of the test publishes it on its root window (screen tests
// run under xvfb-run). Little CMS itself, given the same pair of profiles, is the oracle.
#include <gtest/gtest.h>
#include <lcms2.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "convert/ColourProfile.h"
#include "convert/ConvertImage.h"
#include "support/FormatFixtures.h"
#include "win32/MonitorProfile.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

Bytes ProfileBytes(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  Bytes bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

// Display P3: its primaries, D65 and the sRGB tone curve.
Bytes DisplayP3() {
  const cmsCIExyY white = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
  const double srgb[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  const Bytes bytes = ProfileBytes(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  return bytes;
}

// The root window's _ICC_PROFILE on the test's X server, as a colour daemon sets it (empty:
// removed).
void SetRootProfile(const Bytes& profile) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  ASSERT_EQ(xcb_connection_has_error(connection), 0);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, 12, "_ICC_PROFILE"), nullptr);
  ASSERT_NE(atom, nullptr);
  if (profile.empty()) {
    xcb_delete_property(connection, root, atom->atom);
  } else {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 8,
                        static_cast<std::uint32_t>(profile.size()), profile.data());
  }
  std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));  // a round trip
  std::free(atom);
  xcb_disconnect(connection);
}

// Little CMS's own transform of the 8-bit pixels, from the profile (empty: sRGB) and pixel format
// in (TYPE_RGB_8, TYPE_RGB_16 for the image library's 16-bit samples, TYPE_CMYK_8 with 0 for no
// ink) into the target (empty: sRGB).
std::vector<Rgb> Transformed(const Bytes& from, cmsUInt32Number in, const Bytes& to, const std::vector<std::uint8_t>& pixels) {
  cmsHPROFILE source = from.empty() ? cmsCreate_sRGBProfile() : cmsOpenProfileFromMem(from.data(), static_cast<cmsUInt32Number>(from.size()));
  cmsHPROFILE target = to.empty() ? cmsCreate_sRGBProfile() : cmsOpenProfileFromMem(to.data(), static_cast<cmsUInt32Number>(to.size()));
  const cmsUInt32Number flags = T_COLORSPACE(in) == PT_CMYK ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0;
  const bool wide = T_BYTES(in) == 2;
  cmsHTRANSFORM transform = cmsCreateTransform(source, in, target, wide ? TYPE_RGB_16 : TYPE_RGB_8, INTENT_PERCEPTUAL, flags);
  const std::size_t count = pixels.size() / T_CHANNELS(in);
  std::vector<Rgb> out(count);
  if (wide) {
    std::vector<std::uint16_t> samples(pixels.begin(), pixels.end());
    for (std::uint16_t& sample : samples) sample = static_cast<std::uint16_t>(sample * 257);
    cmsDoTransform(transform, samples.data(), samples.data(), static_cast<cmsUInt32Number>(count));
    for (std::size_t i = 0; i < count; ++i) {
      const auto narrow = [](std::uint16_t sample) { return static_cast<std::uint8_t>((sample + 128) / 257); };
      out[i] = {narrow(samples[3 * i]), narrow(samples[3 * i + 1]), narrow(samples[3 * i + 2])};
    }
  } else {
    cmsDoTransform(transform, pixels.data(), out.data(), static_cast<cmsUInt32Number>(count));
  }
  cmsDeleteTransform(transform);
  cmsCloseProfile(source);
  cmsCloseProfile(target);
  return out;
}

std::vector<std::uint8_t> Samples(const std::vector<Rgb>& pixels) {
  std::vector<std::uint8_t> samples;
  for (const Rgb& pixel : pixels) samples.insert(samples.end(), {pixel.red, pixel.green, pixel.blue});
  return samples;
}

int Distance(const Rgb& a, const Rgb& b) {
  return std::max({std::abs(a.red - b.red), std::abs(a.green - b.green), std::abs(a.blue - b.blue)});
}

TEST(ColourManagement, PhotosAreShownInTheirOwnColoursOnTheMonitorsProfile) {
  const ScopedEnv onX("QT_QPA_PLATFORM", "xcb");
  TempDir dir;
  const Bytes adobe = ReadFile("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  const Bytes srgb = ReadFile("/usr/share/color/icc/sRGB.icc");
  const Bytes cmykProfile = ReadFile("/usr/share/color/icc/ghostscript/ps_cmyk.icc");
  const Bytes defaultCmyk = ReadFile("/usr/share/color/icc/ghostscript/default_cmyk.icc");
  ASSERT_FALSE(adobe.empty() || srgb.empty() || cmykProfile.empty() || defaultCmyk.empty());
  const Bytes p3 = DisplayP3();
  RunConvert("-seed 7 -size 48x32 plasma:fractal -quality 95 " + (dir / "photo.jpg").string());
  RunConvert("-size 8x8 xc:'cmyk(51,102,153,26)' -quality 100 " + (dir / "cmyk.jpg").string());
  RunConvert("-seed 8 -size 40x30 plasma:fractal -depth 8 " + (dir / "plain.png").string());
  const Bytes photo = ReadFile(dir / "photo.jpg");
  const Bytes cmyk = ReadFile(dir / "cmyk.jpg");
  const std::vector<std::uint8_t> ink = {51, 102, 153, 26};

  struct Case {
    const char* name;
    std::string file;
    Bytes bytes;     // the file's content (empty: made above)
    Bytes monitor;   // the root window's profile (empty: none, sRGB)
    Bytes source;    // the profile the colours are turned from (empty: sRGB)
    int tolerance;   // from Little CMS's own result
    cmsUInt32Number pixels = TYPE_RGB_8;  // as the conversion feeds them to it
  };
  // ImageMagick assigns a profile to an image that has none: the PNG's colours stay, tagged P3.
  WriteFile(dir / "p3.icc", p3);
  RunConvert((dir / "plain.png").string() + " -profile " + (dir / "p3.icc").string() + " " + (dir / "p3.png").string());
  // The formats with libraries of their own carry the profile their own way: HEIF and AVIF as an
  // ICC profile or as nclx numbers (12: P3's primaries, 13: the sRGB curve).
  RunTool("cd " + dir.Path().string() + " && avifenc -s 8 --icc p3.icc plain.png p3.avif && avifenc -s 8 --cicp 12/13/6 plain.png nclx.avif && "
          "cjxl p3.png p3.jxl -d 0 && cwebp -lossless -metadata icc p3.png -o p3.webp");
  const std::vector<Case> cases = {
      {"Adobe RGB photo on sRGB", "adobe.jpg", WithIccProfile(photo, adobe), {}, adobe, 1},
      {"Display P3 photo on sRGB", "p3.jpg", WithIccProfile(photo, p3), {}, p3, 1},
      {"Adobe RGB photo on a P3 monitor (the root window's profile)", "adobe-on-p3.jpg", WithIccProfile(photo, adobe), p3, adobe, 1},
      {"sRGB photo on sRGB: as stored", "srgb.jpg", WithIccProfile(photo, srgb), {}, {}, 0},
      {"photo without a profile on a P3 monitor: as sRGB", "untagged.jpg", photo, p3, {}, 1},
      {"a profile that is no ICC file: as sRGB", "garbage.jpg", WithIccProfile(photo, Bytes(300, 0x5A)), p3, {}, 1},
      {"PNG with a P3 profile", "p3.png", {}, {}, p3, 1, TYPE_RGB_16},
      {"AVIF with a P3 profile", "p3.avif", {}, {}, p3, 1},
      {"AVIF whose nclx colours are P3's", "nclx.avif", {}, {}, p3, 1},
      {"JPEG XL with a P3 profile", "p3.jxl", {}, {}, p3, 1},
      {"WebP with a P3 profile", "p3.webp", {}, {}, p3, 1},
      {"CMYK JPEG with a profile", "cmyk-tagged.jpg", WithIccProfile(cmyk, cmykProfile), {}, cmykProfile, 3, TYPE_CMYK_8},
      {"CMYK JPEG without one: the default CMYK profile", "cmyk.jpg", {}, {}, defaultCmyk, 3, TYPE_CMYK_8},
  };
  SetConvertOtherFormats(true, 0xFFFFFF);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path source = dir / c.file;
    if (!c.bytes.empty()) WriteFile(source, c.bytes);
    SetRootProfile(c.monitor);
    SetViewingColours(true, vimo::platform::ReadMonitorProfile());
    ASSERT_EQ(ConvertForViewing(source.c_str(), (dir / "shown.bmp").c_str(), 0), 1);
    ASSERT_EQ(ConvertImage(source.c_str(), (dir / "stored.bmp").c_str(), 0), 1);
    const std::vector<Rgb> shown = ReadBmpFile(dir / "shown.bmp").at(0).pixels;
    const std::vector<Rgb> stored = ReadBmpFile(dir / "stored.bmp").at(0).pixels;
    // A CMYK file's ink is the one it was made with (flat, at quality 100).
    std::vector<std::uint8_t> samples = Samples(stored);
    if (c.pixels == TYPE_CMYK_8) {
      samples.clear();
      for (std::size_t i = 0; i < shown.size(); ++i) samples.insert(samples.end(), ink.begin(), ink.end());
    }
    const std::vector<Rgb> expected = Transformed(c.source, c.pixels, c.monitor, samples);
    ASSERT_EQ(shown.size(), expected.size());
    int worst = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) worst = std::max(worst, Distance(shown[i], expected[i]));
    EXPECT_LE(worst, c.tolerance);
    if (c.pixels == TYPE_RGB_8 && c.source.empty() && c.monitor.empty()) {
      EXPECT_TRUE(shown == stored);
    }
  }
  SetConvertOtherFormats(false, 0xFFFFFF);
  SetRootProfile({});
}

// What an information panel shows: the profile a file embeds, read without decoding it, by name.
TEST(ColourManagement, TheProfileAFileEmbedsIsReadByItsName) {
  TempDir dir;
  RunConvert("-size 8x8 xc:'rgb(60,160,70)' " + (dir / "plain.jpg").string());
  const Bytes adobe = ReadFile("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  WriteFile(dir / "adobe.jpg", WithIccProfile(ReadFile(dir / "plain.jpg"), adobe));
  WriteFile(dir / "p3.icc", DisplayP3());
  RunConvert("-size 8x8 xc:'rgb(60,160,70)' -profile " + (dir / "p3.icc").string() + " " + (dir / "p3.png").string());
  WriteFile(dir / "still.gif", MakeGif({FlatFrame(2, 2, {1, 2, 3})}));
  const std::pair<const char*, const char*> cases[] = {
      {"adobe.jpg", "Compatible with Adobe RGB (1998)"}, {"p3.png", "RGB built-in"}, {"plain.jpg", ""}, {"still.gif", ""}, {"missing.jpg", ""}};
  for (const auto& [name, description] : cases) {
    EXPECT_EQ(vimo::convert::DescribeProfile(vimo::convert::ReadEmbeddedProfile((dir / name).c_str())), description) << name;
  }
}

}  // namespace
