// Turns saved into JPEG files without loss: the file's pixels against ImageMagick's decode of the
// old file turned by ImageMagick, the metadata kept or made upright, and the old file whole
// whenever a turn cannot be written.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <regex>
#include <set>

#include "doc/LosslessTurn.h"
#include "doc/PictureCopy.h"
#include "support/ImageFixtures.h"
#include "support/ui/ScreenViewer.h"

using namespace vimo::test;

namespace {

// A photo as a camera leaves it: a JPEG with a comment, an ICC profile, and an EXIF block with
// the maker, an orientation and a thumbnail. sampling: "2x2" (blocks of 16 pixels) or "1x1" (8).
Bytes MakePhoto(const std::filesystem::path& path, const std::string& size, const char* sampling) {
  RunConvert("-size " + size + " plasma:fractal -seed 7 -sampling-factor " + sampling +
             " -quality 92 -set comment 'kept comment' -profile /usr/share/color/icc/sRGB.icc JPEG:" + path.string());
  RunConvert("-size 16x12 xc:red JPEG:" + path.string() + ".thumb");
  WriteFile(path, WithExifBlock(ReadFile(path), MakeExifBlock({"0:0x010F:ascii:VimoCam", "0:0x0112:short:6"}, path.string() + ".thumb")));
  std::filesystem::remove(path.string() + ".thumb");
  return ReadFile(path);
}

// How often text occurs in bytes ("\xFF\xD8\xFF": the JPEG pictures, the photo's and its thumbnail's).
long Count(const Bytes& bytes, const std::string& text) {
  const Bytes pattern(text.begin(), text.end());
  long count = 0;
  for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), pattern.begin(), pattern.end())) != bytes.end(); ++at) ++count;
  return count;
}

TEST(LosslessTurn, EveryTurnAndFlipMovesThePixelsAndMakesTheMetadataUpright) {
  struct Case {
    int orientation;
    const char* turn;  // ImageMagick's operation for it
    const char* size;
    const char* sampling;
    const char* kept;  // "": the whole picture; else what is left once partial blocks are cut
  };
  const Case cases[] = {
      {2, "-flop", "64x48", "2x2", ""},        {3, "-rotate 180", "64x48", "2x2", ""}, {4, "-flip", "64x48", "2x2", ""},
      {5, "-transpose", "64x48", "2x2", ""},   {6, "-rotate 90", "64x48", "2x2", ""},  {7, "-transverse", "64x48", "2x2", ""},
      {8, "-rotate 270", "64x48", "2x2", ""},  {6, "-rotate 90", "60x44", "1x1", "60x40"},
      {3, "-rotate 180", "60x44", "1x1", "56x40"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.orientation) + " " + c.size);
    const TempDir dir;
    const std::filesystem::path path = dir / "photo.jpg";
    const Bytes before = MakePhoto(path, c.size, c.sampling);
    ASSERT_EQ(Count(before, "\xFF\xD8\xFF"), 2) << "the photo and its thumbnail";
    chmod(path.c_str(), 0640);
    // Blocks of 8 x 8 pixels decode alone: a picture cut at a block's edge keeps the others' pixels.
    RunConvert("-define jpeg:dct-method=float JPEG:" + path.string() + " -crop " + (*c.kept ? c.kept : c.size) + "+0+0 +repage " +
               c.turn + " PNG:" + (dir / "expected.png").string());

    CLosslessTurn turn;
    ASSERT_TRUE(turn.Load(path.c_str()));
    if (*c.kept) {
      ASSERT_EQ(turn.Save(c.orientation, FALSE), CLosslessTurn::Result::kNeedsTrim);
      ASSERT_EQ(ReadFile(path), before) << "refused, the file is as it was";
    }
    ASSERT_EQ(turn.Save(c.orientation, *c.kept != '\0'), CLosslessTurn::Result::kDone);

    const DecodedImage expected = DecodeWithMagick("PNG:" + (dir / "expected.png").string()).at(0);
    const DecodedImage now = DecodeWithMagick("JPEG:" + path.string()).at(0);
    ASSERT_TRUE(now.width == expected.width && now.height == expected.height);
    int worst = 0;
    for (std::size_t i = 0; i < now.pixels.size(); ++i) {
      for (auto channel : {&Rgb::red, &Rgb::green, &Rgb::blue})
        worst = std::max(worst, std::abs(now.pixels[i].*channel - expected.pixels[i].*channel));
    }
    EXPECT_LE(worst, 2) << "the same pixels, turned (rounding of the inverse DCT aside)";

    const Bytes after = ReadFile(path);
    EXPECT_EQ(RunProgram({"identify", "-format", "%[EXIF:Orientation]|%[EXIF:Make]", path.string()}).out, "1|VimoCam");
    EXPECT_EQ(RunProgram({"exiftool", "-s3", "-ThumbnailLength", path.string()}).out, "") << "the thumbnail (of the old turn) is unlinked";
    EXPECT_TRUE(Count(after, "kept comment") == 1 && Count(after, "ICC_PROFILE") == 1);
    struct stat info {};
    EXPECT_TRUE(stat(path.c_str(), &info) == 0 && (info.st_mode & 07777) == 0640) << "its permissions kept";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2) << "nothing left beside it";
  }
}

// What exiftool reads in a file, a "[group] tag : value" line each (its warnings too), but for
// what a turn changes (orientation, pixel size, thumbnail) and the file's own facts.
std::set<std::string> ExiftoolTags(const std::filesystem::path& path) {
  static const std::regex changed(R"(^\[(System|File|IFD1|Composite)\]|^\[\w+\] +(Orientation|ExifImageWidth|ExifImageHeight) )");
  std::set<std::string> tags;
  for (const std::string& line : LinesOf(RunProgram({"exiftool", "-a", "-u", "-G1", "-s", "-n", path.string()}).out))
    if (!line.empty() && !std::regex_search(line, changed)) tags.insert(line);
  return tags;
}

// Cameras' EXIF blocks as exiftool reads them: after the turn it reads every other tag as before,
// with no new warning. A block that cannot be read safely is not written at all.
TEST(LosslessTurn, EveryExifTagButTheTurnsKeepsItsValueForAnotherReader) {
  const std::vector<std::string> common = {"0:0x0112:short:6", "exif:0x9003:ascii:2021:05:01 10:00:00", "exif:0xA002:long:64",
                                           "exif:0xA003:short:48", "gps:1:ascii:N", "gps:2:rational:35/1,39/1,29/1"};
  // A maker note as Minolta writes it: a bare directory whose values follow it, at offsets from the
  // TIFF header, which nothing can move without knowing the camera.
  const std::vector<std::string> minolta = {"--maker-note", "ifd", "0:0x010F:ascii:Minolta Co., Ltd.", "mn:0x0102:long:2",
                                            "mn:0x0104:rational:1/3", "mn:0x0200:ascii:DiMAGE private data"};
  const auto with = [](std::vector<std::string> words, std::vector<std::string> options) {
    words.insert(words.begin(), options.begin(), options.end());
    return words;
  };
  const struct {
    const char* name;
    std::vector<std::string> options;  // exif-block's, before the entries; none: the block is `raw`
    std::string raw;
  } cases[] = {
      {"a maker note whose values follow it", minolta, ""},
      {"an Apple maker note", {"--big-endian", "--maker-note", "apple", "0:0x010F:ascii:Apple", "mn:1:long:14",
                               "mn:8:rational:1/3,2/3,5/7", "mn:11:ascii:8E2B5F3C-1234-5678-9ABC-DEF012345678"}, ""},
      {"room left after the first directory, Motorola order", with(minolta, {"--big-endian", "--pad", "3000"}), ""},
      {"a first directory outside the block", {}, std::string("Exif\0\0II*\0\xF0\xFF\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0", 26)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir dir;
    const std::filesystem::path path = dir / "photo.jpg";
    RunConvert("-size 64x48 plasma:fractal -sampling-factor 2x2 JPEG:" + path.string());
    RunConvert("-size 16x12 xc:red JPEG:" + (dir / "thumb.jpg").string());
    std::vector<std::string> words = c.options;
    words.insert(words.end(), common.begin(), common.end());
    WriteFile(path, WithExifBlock(ReadFile(path), c.options.empty() ? Bytes(c.raw.begin(), c.raw.end()) : MakeExifBlock(words, (dir / "thumb.jpg").string())));
    const Bytes before = ReadFile(path);
    const std::set<std::string> tags = ExiftoolTags(path);
    CLosslessTurn turn;
    ASSERT_TRUE(turn.Load(path.c_str()));
    if (c.options.empty()) {
      EXPECT_EQ(turn.Save(6, FALSE), CLosslessTurn::Result::kExifUnreadable);
      EXPECT_EQ(ReadFile(path), before);
      continue;
    }
    ASSERT_EQ(turn.Save(6, FALSE), CLosslessTurn::Result::kDone);
    EXPECT_EQ(ExiftoolTags(path), tags);
    EXPECT_EQ(RunProgram({"exiftool", "-s3", "-n", "-Orientation", "-ExifImageWidth", "-ExifImageHeight", "-ThumbnailLength", path.string()}).out,
              "1\n48\n64\n");
  }
}

TEST(LosslessTurn, ATurnThatCannotBeWrittenLeavesTheOldFileWhole) {
  for (const bool fullDisk : {false, true}) {
    SCOPED_TRACE(fullDisk ? "full disk" : "read-only folder");
    const TempDir dir;
    const std::filesystem::path folder = dir / "photos", path = folder / "photo.jpg";
    std::filesystem::create_directory(folder);
    const Bytes before = MakePhoto(path, "64x48", "2x2");
    CLosslessTurn turn;
    ASSERT_TRUE(turn.Load(path.c_str()));
    CLosslessTurn::Result result = CLosslessTurn::Result::kDone;
    if (fullDisk) {
      const FileSizeLimit limit(before.size() / 2);
      result = turn.Save(6, FALSE);
    } else if (geteuid() == 0) {
      // Root writes into any folder: a read-only file system stands in for one.
      if (mount("vimo-test", folder.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "no file system can be mounted here";
      WriteFile(path, before);
      ASSERT_EQ(mount("vimo-test", folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
      result = turn.Save(6, FALSE);
      EXPECT_EQ(ReadFile(path), before);
      umount(folder.c_str());
    } else {
      chmod(folder.c_str(), 0555);
      result = turn.Save(6, FALSE);
      chmod(folder.c_str(), 0755);
    }
    EXPECT_TRUE(result == CLosslessTurn::Result::kNotWritten && turn.GetError() != 0);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "nothing left beside it";
  }
}

}  // namespace

// A part cut without loss holds the very coefficients jpegtran's cut of the turned file holds: both
// decode to the same pixels. The part's corner is moved onto the turned picture's block grid first.
TEST(LosslessCrop, APartCutFromTheBlocksDecodesAsJpegtransCut) {
  struct Case {
    int orientation;
    const char* transform;  // jpegtran's for it
    const char* size;
    const char* sampling;   // "2x1": blocks 16 wide, 8 high, which a sideways turn exchanges
    CRect asked;            // in the turned picture
    CPoint snapped;
  };
  const Case cases[] = {
      {1, "", "60x44", "1x1", CRect(13, 9, 47, 44), CPoint(8, 8)},  // to the picture's partial edge blocks
      {3, "-rotate 180", "64x48", "2x2", CRect(20, 5, 50, 25), CPoint(16, 0)},
      {6, "-rotate 90", "64x48", "2x2", CRect(16, 16, 36, 46), CPoint(16, 16)},
      {5, "-transpose", "64x48", "2x1", CRect(17, 25, 33, 41), CPoint(16, 16)},
      {8, "-rotate 270", "64x48", "1x1", CRect(9, 9, 29, 29), CPoint(8, 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    const TempDir dir;
    const std::filesystem::path path = dir / "photo.jpg";
    const Bytes before = MakePhoto(path, c.size, c.sampling);
    CRect part = c.asked;
    ASSERT_TRUE(CPictureCopy::SnapWithoutLoss(path.c_str(), c.orientation, part));
    ASSERT_TRUE(part.left == c.snapped.x && part.top == c.snapped.y);
    ASSERT_TRUE(part.Width() == c.asked.Width() && part.Height() == c.asked.Height()) << "the size is kept";
    CPictureCopy::CChoice choice;
    choice.rcPart = part;
    choice.bWithoutLoss = TRUE;
    choice.strTarget = (dir / "cut.jpg").c_str();
    CString error;
    ASSERT_TRUE(CPictureCopy::Write(path.c_str(), c.orientation, choice, error)) << error;
    const std::string crop = std::to_string(part.Width()) + "x" + std::to_string(part.Height()) + "+" +
                             std::to_string(part.left) + "+" + std::to_string(part.top);
    ASSERT_EQ(RunProgram({"sh", "-c", std::string("jpegtran ") + c.transform + " -crop " + crop + " \"$0\" > \"$1\"", path.string(),
                          (dir / "expected.jpg").string()}).status, 0);
    const DecodedImage expected = DecodeWithMagick("JPEG:" + (dir / "expected.jpg").string()).at(0);
    const DecodedImage cut = DecodeWithMagick("JPEG:" + (dir / "cut.jpg").string()).at(0);
    EXPECT_TRUE(cut.width == expected.width && cut.height == expected.height && cut.pixels == expected.pixels);
    EXPECT_EQ(RunProgram({"exiftool", "-s3", "-n", "-Orientation", (dir / "cut.jpg").string()}).out, "1\n");
    EXPECT_EQ(ReadFile(path), before) << "the original is unchanged";
    EXPECT_FALSE(CPictureCopy::Write(path.c_str(), c.orientation, choice, error)) << "an existing copy is not replaced";
  }
}

// A copy decoded and encoded again shows what the user saw: the photo turned upright, the part cut
// and scaled, in the format chosen; the corner it starts with has that corner's colour.
TEST(PictureCopy, ACutAndScaledCopyShowsThePartAsSeenUpright) {
  struct Case {
    CPictureCopy::Format format;
    const char* reader;
    CRect part;  // of the upright 48 x 64 picture; empty: all
    CSize size;
    Rgb corner;
  };
  const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
  const Case cases[] = {
      {CPictureCopy::Format::kJpeg, "JPEG", CRect(), CSize(24, 32), blue},
      {CPictureCopy::Format::kPng, "PNG", CRect(24, 0, 48, 32), CSize(24, 32), red},
      {CPictureCopy::Format::kWebp, "WEBP", CRect(24, 32, 48, 64), CSize(12, 16), green},
      {CPictureCopy::Format::kJpeg, "JPEG", CRect(0, 32, 24, 64), CSize(48, 64), white},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reader);
    const TempDir dir;
    const std::filesystem::path path = dir / "photo.jpg";
    // Stored 64 x 48, red green over blue white, shown turned a quarter clockwise.
    MakeQuadrantJpeg(path, 64, 48, red, green, blue, white);
    WriteFile(path, WithExifOrientation(ReadFile(path), 6));
    const Bytes before = ReadFile(path);
    CPictureCopy::CChoice choice;
    choice.rcPart = c.part;
    choice.size = c.size;
    choice.format = c.format;
    choice.strTarget = CPictureCopy::FreshName(path.c_str(), c.format);
    CString error;
    ASSERT_TRUE(CPictureCopy::Write(path.c_str(), 6, choice, error)) << error;
    const DecodedImage copy = DecodeWithMagick(std::string(c.reader) + ":" + static_cast<const char*>(choice.strTarget)).at(0);
    ASSERT_TRUE(copy.width == c.size.cx && copy.height == c.size.cy);
    for (auto channel : {&Rgb::red, &Rgb::green, &Rgb::blue}) EXPECT_NEAR(copy.pixels[0].*channel, c.corner.*channel, 12);
    if (c.format == CPictureCopy::Format::kJpeg) {
      EXPECT_EQ(RunProgram({"exiftool", "-s3", "-n", "-Orientation", static_cast<const char*>(choice.strTarget)}).out, "1\n");
    }
    EXPECT_EQ(ReadFile(path), before) << "the original is unchanged";
  }
}

// A copy that cannot be written whole says why and leaves no file, by either path.
TEST(PictureCopy, ACopyThatCannotBeWrittenSaysWhyAndLeavesNothing) {
  for (const BOOL bWithoutLoss : {TRUE, FALSE}) {
    SCOPED_TRACE(bWithoutLoss);
    const TempDir dir;
    const std::filesystem::path path = dir / "photo.jpg";
    const Bytes before = MakePhoto(path, "256x192", "2x2");
    CPictureCopy::CChoice choice;
    choice.rcPart = CRect(0, 0, 192, 256);
    choice.size = CSize(192, 256);
    choice.bWithoutLoss = bWithoutLoss;
    choice.nQuality = 100;
    choice.strTarget = CPictureCopy::FreshName(path.c_str(), CPictureCopy::Format::kJpeg);
    CString error;
    {
      const FileSizeLimit limit(before.size() / 4);
      EXPECT_FALSE(CPictureCopy::Write(path.c_str(), 6, choice, error));
    }
    EXPECT_EQ(std::string(error), "cannot write the copy\n" + std::string(choice.strTarget) + "\n" + std::strerror(EFBIG));
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "nothing left beside it";
  }
}
