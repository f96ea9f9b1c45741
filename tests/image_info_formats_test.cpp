// The information panel's facts of the formats read by their own libraries: what exiftool wrote
// into each file (a RAW file's by its own EXIF), its size and format, its colours; and the date
// taken that the browse order "撮影日時順" sorts by.
#include <gtest/gtest.h>

#include "convert/ExifBlock.h"
#include "support/FormatFixtures.h"
#include "view/ImageInfo.h"

using namespace vimo::test;

namespace {

TEST(ImageInfoOfFormats, CameraLensExposureAndDateTakenAreReadFromEachFormat) {
  const TempDir dir;
  RunConvert("-seed 7 -size 96x64 plasma:fractal -depth 8 " + (dir / "source.png").string());
  RunConvert("-seed 7 -size 96x64 plasma:fractal -quality 92 " + (dir / "source.jpg").string());
  const std::string exiftool =
      "exiftool -q -m -overwrite_original -Make=VimoCam -LensModel='Vimo 35mm' -ExposureTime=1/250 '-DateTimeOriginal=2024:05:06 07:08:09' ";
  struct Case {
    const char* file;
    std::string make;
    std::string format;  // the panel's line
    std::string colours;  // its colour profile's line, when it has one
  } cases[] = {
      {"x.heic", "heif-enc -q 90 source.png -o x.heic && " + exiftool + "x.heic", "HEIC (High Efficiency Image File Format)", ""},
      {"x.avif", "avifenc -s 8 --cicp 12/13/6 source.png x.avif && " + exiftool + "x.avif", "AVIF (AV1 Image File Format)",
       "Display P3 (nclx 12/13/6)"},
      {"x.jxl", "cjxl source.png x.jxl -d 1 && " + exiftool + "x.jxl", "JXL (JPEG XL)", ""},
      {"x.webp", "cwebp -q 80 source.png -o x.webp && " + exiftool + "x.webp", "WEBP (WebP)", ""},
      {"x.dng",
       SupportTool("make-dng") + " x.dng --raw 96x64 --preview source.jpg --make VimoCam --lens 'Vimo 35mm' --exposure 1/250 --date '2024:05:06 07:08:09'",
       "DNG (camera RAW file, preview 96 x 64)", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    RunTool("cd " + dir.Path().string() + " && " + c.make);
    const std::string text = CImageInfo::Describe((dir.Path().string() + "/").c_str(), c.file).str();
    const std::vector<std::string> lines = {"画素数\t96 x 64 ﾋﾟｸｾﾙ", "形式\t" + c.format, "撮影日時\t2024:05:06 07:08:09",
                                            "ｶﾒﾗのﾒｰｶｰ\tVimoCam", "ﾚﾝｽﾞ\tVimo 35mm", "露出時間\t1/250 sec."};
    for (const std::string& line : lines) {
      EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << " in\n" << text;
    }
    if (!c.colours.empty()) {
      EXPECT_NE(text.find("ｶﾗｰﾌﾟﾛﾌｧｲﾙ\t" + c.colours + "\n"), std::string::npos) << text;
    }
    EXPECT_EQ(CExifBlock((dir / c.file).c_str()).GetDateTaken(), "2024:05:06 07:08:09");
  }
}

}  // namespace
