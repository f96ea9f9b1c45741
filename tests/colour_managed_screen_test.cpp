// Managed colours: the viewer's conversion turns each photo's colours from its own ICC profile
// into the monitor's, as the X server of the test publishes it on its root window (screen tests
// run under xvfb-run). ImageMagick's conversion of the same file into the same profile is the
// oracle.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <QGuiApplication>
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

// ImageMagick's own conversion of the file (given first the profile it is read in by options
// before, where it has none of its own) into the monitor's profile, with the perceptual intent
// and, for CMYK, black point compensation; JPEG decoded as the viewer decodes it.
std::vector<Rgb> MagickShown(const fs::path& file, const std::string& before, const fs::path& monitor, bool cmyk) {
  const std::string out = file.string() + ".expected.png";
  RunConvert("-define jpeg:dct-method=float " + file.string() + " " + before + " -intent Perceptual" +
             (cmyk ? " -black-point-compensation" : "") + " -profile " + monitor.string() + " -depth 8 " + out);
  return DecodeWithMagick("PNG:" + out).at(0).pixels;
}

int Distance(const Rgb& a, const Rgb& b) {
  return std::max({std::abs(a.red - b.red), std::abs(a.green - b.green), std::abs(a.blue - b.blue)});
}

TEST(ColourManagement, PhotosAreShownInTheirOwnColoursOnTheMonitorsProfile) {
  const ScopedEnv onX("QT_QPA_PLATFORM", "xcb");
  int argc = 1;
  char name[] = "colour_managed_screen_test";
  char* argv[] = {name, nullptr};
  const QGuiApplication application(argc, argv);  // the monitor's profile is asked for on its connection
  TempDir dir;
  const std::string srgbPath = "/usr/share/color/icc/sRGB.icc";
  const Bytes adobe = ReadFile("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  const Bytes srgb = ReadFile(srgbPath);
  const Bytes cmykProfile = ReadFile("/usr/share/color/icc/ghostscript/ps_cmyk.icc");
  ASSERT_FALSE(adobe.empty() || srgb.empty() || cmykProfile.empty());
  const Bytes p3 = DisplayP3();
  WriteFile(dir / "p3.icc", p3);
  RunConvert("-seed 7 -size 48x32 plasma:fractal -quality 95 " + (dir / "photo.jpg").string());
  RunConvert("-size 8x8 xc:'cmyk(51,102,153,26)' -quality 100 " + (dir / "cmyk.jpg").string());
  // Dark inks, which the default CMYK profile shows apart by the intent (by up to 17 levels).
  RunConvert("-size 8x8 xc:'cmyk(153,51,187,221)' xc:'cmyk(102,170,238,136)' xc:'cmyk(255,238,255,136)' +append -quality 100 " +
             (dir / "inks.jpg").string());
  // Colours well inside both gamuts: outside the monitor's, Little CMS's 16-bit transform and
  // ImageMagick's clip differently.
  RunConvert("-seed 8 -size 40x30 plasma:fractal -modulate 100,40 -depth 8 " + (dir / "plain.png").string());
  // ImageMagick assigns a profile to an image that has none: the PNG's colours stay, tagged P3.
  RunConvert((dir / "plain.png").string() + " -profile " + (dir / "p3.icc").string() + " " + (dir / "p3.png").string());
  const Bytes photo = ReadFile(dir / "photo.jpg");
  const Bytes cmyk = ReadFile(dir / "cmyk.jpg");
  const std::string asSrgb = "+profile '*' -profile " + srgbPath;

  struct Case {
    const char* name;
    std::string file;
    Bytes bytes;         // the file's content (empty: made above)
    Bytes monitor;       // the root window's profile (empty: none, sRGB)
    std::string before;  // what gives the file the profile the viewer reads it in, where it has none
    int tolerance;       // from ImageMagick's result (its sRGB is Debian's file, the viewer's Little CMS's own)
    bool cmyk = false;
    bool decoded = false;  // ImageMagick reads the viewer's own unmanaged decoding of the file
  };
  // The formats with libraries of their own carry the profile their own way: HEIF and AVIF as an
  // ICC profile or as nclx numbers (12: P3's primaries, 13: the sRGB curve).
  RunTool("cd " + dir.Path().string() + " && avifenc -s 8 --icc p3.icc plain.png p3.avif && avifenc -s 8 --cicp 12/13/6 plain.png nclx.avif && "
          "cjxl p3.png p3.jxl -d 0 && cwebp -lossless -metadata icc p3.png -o p3.webp");
  const std::string p3Assigned = "-profile " + (dir / "p3.icc").string();
  const std::vector<Case> cases = {
      {"Adobe RGB photo on sRGB", "adobe.jpg", WithIccProfile(photo, adobe), {}, "", 2},
      {"Display P3 photo on sRGB", "p3.jpg", WithIccProfile(photo, p3), {}, "", 2},
      {"Adobe RGB photo on a P3 monitor (the root window's profile)", "adobe-on-p3.jpg", WithIccProfile(photo, adobe), p3, "", 1},
      {"sRGB photo on sRGB: as stored", "srgb.jpg", WithIccProfile(photo, srgb), {}, "", 0},
      {"photo without a profile on a P3 monitor: as sRGB", "untagged.jpg", photo, p3, asSrgb, 1},
      {"a profile that is no ICC file: as sRGB", "garbage.jpg", WithIccProfile(photo, Bytes(300, 0x5A)), p3, asSrgb, 1},
      {"PNG with a P3 profile", "p3.png", {}, {}, "", 1},
      // The other formats: their own decoding, unmanaged, given P3 (the pixels of p3.png).
      {"AVIF with a P3 profile", "p3.avif", {}, {}, p3Assigned, 1, false, true},
      {"AVIF whose nclx colours are P3's", "nclx.avif", {}, {}, p3Assigned, 1, false, true},
      {"JPEG XL with a P3 profile", "p3.jxl", {}, {}, p3Assigned, 1, false, true},
      {"WebP with a P3 profile", "p3.webp", {}, {}, p3Assigned, 1, false, true},
      {"CMYK JPEG with a profile", "cmyk-tagged.jpg", WithIccProfile(cmyk, cmykProfile), {}, "", 3, true},
      {"CMYK JPEG without one: the default CMYK profile", "inks.jpg", {}, {}, "-profile /usr/share/color/icc/ghostscript/default_cmyk.icc", 3, true},
  };
  SetConvertOtherFormats(true, 0xFFFFFF);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path source = dir / c.file;
    if (!c.bytes.empty()) WriteFile(source, c.bytes);
    SetRootProfile(c.monitor);
    vimo::platform::RequestMonitorProfile();
    SetViewingColours(true, vimo::platform::TakeMonitorProfile());
    ASSERT_EQ(ConvertForViewing(source.c_str(), (dir / "shown.bmp").c_str(), 0), 1);
    const std::vector<Rgb> shown = ReadBmpFile(dir / "shown.bmp").at(0).pixels;
    if (c.decoded) {
      ASSERT_EQ(ConvertImage(source.c_str(), (dir / "stored.bmp").c_str(), 0), 1);
    }
    const std::vector<Rgb> expected = MagickShown(c.decoded ? dir / "stored.bmp" : source, c.before, c.monitor.empty() ? fs::path(srgbPath) : dir / "p3.icc", c.cmyk);
    ASSERT_EQ(shown.size(), expected.size());
    int worst = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) worst = std::max(worst, Distance(shown[i], expected[i]));
    EXPECT_LE(worst, c.tolerance);
  }
  SetConvertOtherFormats(false, 0xFFFFFF);
  SetRootProfile({});
  vimo::platform::ForgetMonitorProfile();
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
