// The formats read by their own libraries (HEIF and AVIF, JPEG XL, WebP, animated PNG, RAW
// previews): their pixels as each library's own tool decodes them, turned upright once, their
// thumbnails, and their limits and damage said with the reason.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert/ConvertImage.h"
#include "convert/ExifBlock.h"
#include "convert/MakeThumbnail.h"
#include "support/FormatFixtures.h"

using namespace vimo::test;

namespace {

class ConvertFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    SetConvertOtherFormats(true, 0xFFFFFF);
    RunConvert("-seed 7 -size 96x64 plasma:fractal -depth 8 " + Path("source.png"));
    RunConvert("-seed 7 -size 96x64 plasma:fractal -depth 16 " + Path("source16.png"));
    RunConvert("-seed 7 -size 96x64 plasma:fractal -quality 92 " + Path("source.jpg"));
  }
  void TearDown() override { SetConvertOtherFormats(false, 0xFFFFFF); }
  std::string Path(const std::string& name) const { return (m_dir / name).string(); }
  // Runs a tool's command in the test's folder.
  void Make(const std::string& command) const { RunTool("cd " + m_dir.Path().string() + " && " + command); }
  // The first image of the file converted as `vimo --convert` converts it.
  BmpImage Converted(const std::string& name) const {
    const ConvertOutcome outcome = ConvertImageEx(Path(name).c_str(), Path("out.bmp").c_str(), 0);
    EXPECT_EQ(outcome.status, ConvertStatus::kWritten) << outcome.reason;
    if (outcome.status != ConvertStatus::kWritten) return {};
    return ReadBmpFile(m_dir / "out.bmp").at(0);
  }
  // How far the file's first converted image lies from what its library's own tool decoded
  // into o.png or o.jpg (laid on white), which goes.
  int DistanceFromOracle(const std::string& name) const {
    const BmpImage converted = Converted(name);
    const std::filesystem::path oracle = std::filesystem::exists(m_dir / "o.png") ? m_dir / "o.png" : m_dir / "o.jpg";
    const int distance = LargestDifference(DecodeLaidOn(oracle, {255, 255, 255}), converted.pixels, converted.width, converted.height);
    std::filesystem::remove(oracle);
    return distance;
  }
  TempDir m_dir;
};

TEST_F(ConvertFormats, PixelsAreThoseOfEachLibrarysOwnDecoder) {
  RunConvert("-size 64x48 xc:'rgb(20,200,90)' -fill 'rgba(0,64,255,0.5)' -draw 'rectangle 8,8 40,30' " + Path("alpha.png"));
  struct Case {
    const char* name;
    std::string make;    // writes the file
    std::string file;
    std::string oracle;  // the library's own decoder writes o.png (or o.jpg)
    int tolerance;
  } cases[] = {
      {"HEIC", "heif-enc -q 90 source.png -o x.heic", "x.heic", "heif-convert x.heic o.png", 1},
      {"HEIC of 10 bits", "heif-enc -q 90 -b 10 source16.png -o x10.heic", "x10.heic", "heif-convert x10.heic o.png", 2},
      {"AVIF", "avifenc -s 8 source.png x.avif", "x.avif", "heif-convert x.avif o.png", 1},
      {"AVIF of 10 bits", "avifenc -s 8 -d 10 source16.png x10.avif", "x10.avif", "heif-convert x10.avif o.png", 2},
      {"AVIF of a grid of 2 x 2 tiles", "convert-im6.q16 -seed 3 -size 256x192 plasma:fractal -depth 8 grid.png && avifenc -s 8 --grid 2x2 grid.png g.avif",
       "g.avif", "heif-convert g.avif o.png", 1},
      {"AVIF with alpha, laid on white", "avifenc -s 8 alpha.png a.avif", "a.avif", "heif-convert a.avif o.png", 2},
      {"AVIF whose nclx colours name unknown primaries (0)", "avifenc -s 8 --cicp 0/13/6 source.png u.avif", "u.avif",
       "heif-convert u.avif o.png", 1},
      {"JPEG XL without loss", "cjxl source.png x.jxl -d 0", "x.jxl", "djxl x.jxl o.png", 0},
      {"JPEG XL", "cjxl source.png y.jxl -d 1", "y.jxl", "djxl y.jxl o.png", 1},
      {"JPEG XL holding a JPEG", "cjxl source.jpg z.jxl", "z.jxl", "djxl z.jxl o.png", 1},
      {"WebP", "cwebp -q 80 source.png -o x.webp", "x.webp", "dwebp x.webp -o o.png", 0},
      {"WebP with alpha, laid on white", "cwebp -lossless alpha.png -o a.webp", "a.webp", "dwebp a.webp -o o.png", 1},
      {"DNG: its preview", SupportTool("make-dng") + " x.dng --preview source.jpg", "x.dng", "exiftool -b -PreviewImage x.dng > o.jpg", 0},
      {"animated PNG: its first frame",
       SupportTool("make-apng") + " x.apng 0,0:10:0:0:RGrB.W 0,0:10:0:1:GGGGGG", "x.apng", "cp x.apng o.png", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(c.make);
    Make(c.oracle);
    EXPECT_LE(DistanceFromOracle(c.file), c.tolerance);
  }
}

// Turned once, as the file says: rotation and mirroring applied by the decoder, the EXIF
// orientation inside such a file never again on top; a RAW file's preview turned by the view.
TEST_F(ConvertFormats, PicturesAreTurnedUprightOnce) {
  WriteFile(m_dir / "exif6.bin", MakeExifBlock({"0:0x0112:short:6"}));
  struct Case {
    const char* name;
    std::string make;
    std::string file;
    std::string oracle;  // writes o.png or o.jpg, upright
    int orientation;     // still to be applied when shown (the view's turn)
  } cases[] = {
      {"AVIF turned and mirrored, its EXIF saying 6", "avifenc -s 8 --irot 1 --imir 1 --exif exif6.bin source.png t.avif", "t.avif",
       "heif-convert t.avif o.png", 1},
      {"JPEG XL from a JPEG whose EXIF says 6",
       "cp source.jpg six.jpg && exiftool -q -overwrite_original -Orientation#=6 six.jpg && cjxl six.jpg t.jxl", "t.jxl",
       "djxl t.jxl o.png", 1},
      {"DNG whose orientation is 6", SupportTool("make-dng") + " t.dng --preview source.jpg --orientation 6", "t.dng",
       "exiftool -b -PreviewImage t.dng > o.jpg", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(c.make);
    Make(c.oracle);
    EXPECT_LE(DistanceFromOracle(c.file), 1);
    EXPECT_EQ(CExifBlock(Path(c.file).c_str()).GetOrientation(), c.orientation);
  }
}

TEST_F(ConvertFormats, ThumbnailsComeFromTheFirstPictureOrTheSmallerOneTheFileCarries) {
  RunConvert("-size 400x300 xc:'rgb(200,40,40)' PNG24:" + Path("red.png"));
  RunConvert("-size 400x300 xc:'rgb(200,40,40)' -quality 95 " + Path("red.jpg"));
  MakeHeicWithThumbnail(m_dir / "large-thumbnail.heic", 400, 300, {200, 40, 40}, {40, 40, 200}, 160);
  MakeHeicWithThumbnail(m_dir / "small-thumbnail.heic", 400, 300, {200, 40, 40}, {40, 40, 200}, 96);
  // Camera photos: a blue picture of the red photo in the EXIF block, turned like the photo (6).
  for (const char* size : {"160x120", "96x72"}) {
    RunConvert("-size " + std::string(size) + " xc:'rgb(40,40,200)' -quality 95 " + Path("small.jpg"));
    WriteFile(Path(std::string("camera-") + size + ".jpg"),
              WithExifBlock(ReadFile(Path("red.jpg")), MakeExifBlock({"0:0x0112:short:6"}, Path("small.jpg"))));
  }
  struct Case {
    const char* name;
    std::string make;
    std::string file;
    int orientation;
    Rgb middle;
    UINT cx = 128, cy = 96;  // as stored; the maker turns it by the orientation
  } cases[] = {
      {"JPEG: the camera's picture, covering the size", "", "camera-160x120.jpg", 6, {40, 40, 200}, 160, 120},
      {"JPEG: its image reduced, the camera's picture too small", "", "camera-96x72.jpg", 6, {200, 40, 40}, 200, 150},
      {"HEIC: its own thumbnail, large enough", "", "large-thumbnail.heic", 1, {40, 40, 200}},
      {"HEIC: its image, the thumbnail too small", "", "small-thumbnail.heic", 1, {200, 40, 40}},
      {"AVIF", "avifenc -s 8 red.png t.avif", "t.avif", 1, {200, 40, 40}},
      {"JPEG XL", "cjxl red.png t.jxl -d 1", "t.jxl", 1, {200, 40, 40}},
      {"animated WebP: its first canvas", "convert-im6.q16 -size 400x300 xc:blue PNG24:blue.png && img2webp red.png blue.png -o t.webp",
       "t.webp", 1, {200, 40, 40}},
      {"DNG turned", SupportTool("make-dng") + " t.dng --preview red.jpg --orientation 8", "t.dng", 8, {200, 40, 40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.make.empty()) Make(c.make);
    THUMBNAILPIXELS pixels;
    CString reason;
    ASSERT_TRUE(MakeThumbnail(Path(c.file).c_str(), 128, pixels, reason)) << reason.str();
    EXPECT_EQ(pixels.cx, c.cx);
    EXPECT_EQ(pixels.cy, c.cy);
    EXPECT_EQ(pixels.nOrientation, c.orientation);
    const std::size_t middle = (std::size_t{pixels.cy} / 2 * pixels.cx + pixels.cx / 2) * 4;
    EXPECT_NEAR(pixels.rgba[middle], c.middle.red, 8);
    EXPECT_NEAR(pixels.rgba[middle + 2], c.middle.blue, 8);
  }
}

// Every reader is held to the image library's limits, and a file its library cannot read is
// refused with the reason, leaving no file.
TEST_F(ConvertFormats, DamagedHugeOrPreviewlessFilesAreRefusedWithTheReason) {
  Make("heif-enc -q 90 source.png -o x.heic && cjxl source.png x.jxl -d 1 && cwebp -q 80 source.png -o x.webp && " + SupportTool("make-apng") +
       " x.apng 0,0:10:0:0:RG 0,0:10:0:0:GR");
  const auto cut = [&](const std::string& from, const std::string& to, double share) {
    Bytes bytes = ReadFile(m_dir / from);
    bytes.resize(static_cast<std::size_t>(bytes.size() * share));
    WriteFile(m_dir / to, bytes);
  };
  cut("x.heic", "cut.heic", 0.6);
  cut("x.jxl", "cut.jxl", 0.5);
  cut("x.webp", "cut.webp", 0.5);
  cut("x.apng", "cut.apng", 0.9);
  // Canvases of 400 megapixels (more than the policy's area) and of 60 (more memory than its
  // memory and map limits, at the bytes an animation takes a pixel).
  Make(SupportTool("make-apng") + " huge.apng --canvas 20000x20000 0,0:10:0:0:R");
  Make(SupportTool("make-apng") + " large.apng --canvas 10000x6000 0,0:10:0:0:R");
  // A still PNG whose chunk after the header says it holds 1.3 GB, in a file of a few hundred bytes.
  Bytes boasting = ReadFile(m_dir / "source.png");
  const Bytes claim = {0x51, 0x51, 0x51, 0x51, 'z', 'z', 'Z', 'z', 1, 2, 3};
  boasting.insert(boasting.begin() + 33, claim.begin(), claim.end());
  WriteFile(m_dir / "boasting.png", boasting);
  struct Case {
    const char* file;
    ConvertStatus status;
    const char* reason;  // a part of it
  } cases[] = {
      {"cut.heic", ConvertStatus::kUndecodable, ""},
      {"cut.jxl", ConvertStatus::kUndecodable, ""},
      {"cut.webp", ConvertStatus::kUndecodable, "not a whole WebP file"},
      {"cut.apng", ConvertStatus::kWritten, ""},  // the frames before the cut, as a GIF's
      {"huge.apng", ConvertStatus::kTooManyPixels, ""},
      {"large.apng", ConvertStatus::kPictureMemory, ""},
      {"boasting.png", ConvertStatus::kUndecodable, "runs past the end"},
      {"bare.dng", ConvertStatus::kUndecodable, "without a JPEG preview"},
  };
  Make(SupportTool("make-dng") + " bare.dng");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::filesystem::remove(m_dir / "out.bmp");
    for (const bool viewing : {false, true}) {
      ConvertOptions options;
      options.forViewing = viewing;
      const ConvertOutcome outcome = ConvertImageEx(Path(c.file).c_str(), Path("out.bmp").c_str(), 0, options);
      EXPECT_EQ(outcome.status, c.status) << outcome.reason;
      EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << outcome.reason;
      EXPECT_EQ(std::filesystem::exists(m_dir / "out.bmp"), c.status == ConvertStatus::kWritten);
    }
  }
}

}  // namespace
