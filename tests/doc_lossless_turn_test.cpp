// Turns saved into JPEG files without loss: the file's pixels against an independent decode of the
// old file turned, the metadata kept or made upright, and the old file whole whenever a turn
// cannot be written.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "doc/LosslessTurn.h"
#include "support/ExifFixtures.h"

using namespace vimo::test;

namespace {

constexpr char kProfile[] = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

// The decoded picture turned as orientation says (how stored pixels are shown), keeping only the
// stored part keptWidth x keptHeight.
DecodedImage Turned(const DecodedImage& in, int orientation, int keptWidth, int keptHeight) {
  DecodedImage out;
  const bool sideways = orientation >= 5;
  out.width = sideways ? keptHeight : keptWidth;
  out.height = sideways ? keptWidth : keptHeight;
  out.pixels.resize(static_cast<std::size_t>(out.width * out.height));
  for (int y = 0; y < keptHeight; ++y) {
    for (int x = 0; x < keptWidth; ++x) {
      const int w = keptWidth, h = keptHeight;
      int tx = x, ty = y;
      switch (orientation) {
        case 2: tx = w - 1 - x; break;
        case 3: tx = w - 1 - x, ty = h - 1 - y; break;
        case 4: ty = h - 1 - y; break;
        case 5: tx = y, ty = x; break;
        case 6: tx = h - 1 - y, ty = x; break;
        case 7: tx = h - 1 - y, ty = w - 1 - x; break;
        case 8: tx = y, ty = w - 1 - x; break;
      }
      out.pixels[static_cast<std::size_t>(ty * out.width + tx)] = in.pixels[static_cast<std::size_t>(y * in.width + x)];
    }
  }
  return out;
}

// A photo as a camera leaves it: colour JPEG (4:2:0), a comment, an ICC profile, and an EXIF
// block with the maker, an orientation and a thumbnail.
Bytes MakePhoto(const std::filesystem::path& path, const char* size) {
  RunConvert(std::string("-size ") + size + " plasma:fractal -seed 7 -sampling-factor 2x2 -quality 92 -set comment 'kept comment' -profile " +
             kProfile + " JPEG:" + path.string());
  RunConvert("-size 16x12 xc:red JPEG:" + path.string() + ".thumb");
  const Bytes thumbnail = ReadFile(path.string() + ".thumb");
  std::filesystem::remove(path.string() + ".thumb");
  const Bytes exif = MakeExifBlock({ExifAscii(0, 0x010F, "VimoCam"), ExifShort(0, 0x0112, 6)}, thumbnail);
  const Bytes photo = WithExifBlock(ReadFile(path), exif);
  WriteFile(path, photo);
  return photo;
}

std::size_t Find(const Bytes& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) - bytes.begin();
}

TEST(LosslessTurn, EveryTurnAndFlipMovesThePixelsAndMakesTheMetadataUpright) {
  struct Case {
    int orientation;
    const char* size;
    bool trim;  // partial blocks on the edge that moves: cut only when asked
    int keptWidth, keptHeight;
  };
  const Case cases[] = {
      {2, "64x48", false, 64, 48}, {3, "64x48", false, 64, 48}, {4, "64x48", false, 64, 48},
      {5, "64x48", false, 64, 48}, {6, "64x48", false, 64, 48}, {7, "64x48", false, 64, 48},
      {8, "64x48", false, 64, 48}, {6, "72x40", true, 72, 32},  {3, "72x40", true, 64, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.orientation) + " " + c.size);
    const TempDir dir;
    const std::filesystem::path path = dir / "photo.jpg";
    const Bytes before = MakePhoto(path, c.size);
    chmod(path.c_str(), 0640);
    const DecodedImage old = DecodeWithMagick("JPEG:" + path.string()).at(0);

    CLosslessTurn turn;
    ASSERT_TRUE(turn.Load(path.c_str()));
    if (c.trim) {
      ASSERT_EQ(turn.Save(c.orientation, FALSE), CLosslessTurn::Result::kNeedsTrim);
      ASSERT_EQ(ReadFile(path), before) << "refused, the file is as it was";
    }
    ASSERT_EQ(turn.Save(c.orientation, c.trim), CLosslessTurn::Result::kDone);

    const DecodedImage expected = Turned(old, c.orientation, c.keptWidth, c.keptHeight);
    // Next to a cut edge the colour is upsampled from other neighbours: those pixels are not compared.
    DecodedImage compared = old;
    for (int i = 0; i < old.width * old.height; ++i) {
      const bool nearCut = (c.keptWidth < old.width && i % old.width >= c.keptWidth - 2) ||
                           (c.keptHeight < old.height && i / old.width >= c.keptHeight - 2);
      compared.pixels[static_cast<std::size_t>(i)] = nearCut ? Rgb{} : Rgb{1, 1, 1};
    }
    const DecodedImage mask = Turned(compared, c.orientation, c.keptWidth, c.keptHeight);
    const DecodedImage now = DecodeWithMagick("JPEG:" + path.string()).at(0);
    ASSERT_EQ(now.width, expected.width);
    ASSERT_EQ(now.height, expected.height);
    int worst = 0;
    for (std::size_t i = 0; i < now.pixels.size(); ++i) {
      for (auto channel : {&Rgb::red, &Rgb::green, &Rgb::blue})
        if (mask.pixels[i].red != 0) worst = std::max(worst, std::abs(now.pixels[i].*channel - expected.pixels[i].*channel));
    }
    EXPECT_LE(worst, 2) << "the same pixels, turned (rounding of the inverse DCT aside)";

    const Bytes after = ReadFile(path);
    const ExifSummary exif = ReadExifSummary(after);
    EXPECT_EQ(exif.orientation, 1);
    EXPECT_EQ(exif.make, "VimoCam");
    EXPECT_EQ(exif.thumbnailBytes, 0u) << "the thumbnail showed the old turn";
    EXPECT_FALSE(exif.thumbnailDirectory);
    EXPECT_LT(Find(after, "kept comment"), after.size());
    EXPECT_LT(Find(after, "ICC_PROFILE"), after.size());
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "nothing left beside it";
  }
}

TEST(LosslessTurn, ATurnThatCannotBeWrittenLeavesTheOldFileWhole) {
  enum class Obstacle { kReadOnlyFolder, kFullDisk };
  for (const Obstacle obstacle : {Obstacle::kReadOnlyFolder, Obstacle::kFullDisk}) {
    SCOPED_TRACE(obstacle == Obstacle::kFullDisk ? "full disk" : "read-only folder");
    const TempDir dir;
    const std::filesystem::path folder = dir / "photos";
    std::filesystem::create_directory(folder);
    const std::filesystem::path path = folder / "photo.jpg";
    const Bytes before = MakePhoto(path, "64x48");
    CLosslessTurn turn;
    ASSERT_TRUE(turn.Load(path.c_str()));
    CLosslessTurn::Result result = CLosslessTurn::Result::kDone;
    if (obstacle == Obstacle::kFullDisk) {
      const FileSizeLimit limit(before.size() / 2);
      result = turn.Save(6, FALSE);
    } else if (geteuid() == 0) {
      // Root writes into any folder: a read-only file system stands in for one.
      if (mount("vimo-test", folder.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "no file system can be mounted here";
      WriteFile(path, before);
      ASSERT_EQ(mount("vimo-test", folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
      result = turn.Save(6, FALSE);
    } else {
      chmod(folder.c_str(), 0555);
      result = turn.Save(6, FALSE);
    }
    EXPECT_EQ(result, CLosslessTurn::Result::kNotWritten);
    EXPECT_NE(turn.GetError(), 0);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "nothing left beside it";
    if (obstacle == Obstacle::kReadOnlyFolder && geteuid() == 0) umount(folder.c_str());
    chmod(folder.c_str(), 0755);
  }
}

}  // namespace
