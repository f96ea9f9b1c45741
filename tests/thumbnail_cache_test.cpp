// The desktop's shared thumbnail cache as file managers keep it: the names other programs
// compute (checked against Python's URI quoting and MD5), thumbnails GLib accepts, thumbnails
// that are used as they are or made again, and a cache that cannot be written.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "convert/MakeThumbnail.h"
#include "support/ImageFixtures.h"
#include "support/ui/ScreenViewer.h"
#include "view/ThumbnailMaker.h"
#include "win32/ThumbnailCache.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

// The URI and cache name another program gives path: GLib's quoting, Python's MD5.
std::pair<std::string, std::string> OtherProgramsName(const fs::path& path) {
  const RunResult result = RunProgram(
      {"python3", "-c",
       "import hashlib, os, sys, urllib.parse\n"
       "uri = 'file://' + urllib.parse.quote(os.fsencode(sys.argv[1]), safe=\"/!$&'()*+,=:@~\")\n"
       "print(uri); print(hashlib.md5(uri.encode()).hexdigest() + '.png')",
       path.string()});
  const std::vector<std::string> lines = LinesOf(result.out);
  return lines.size() >= 2 ? std::make_pair(lines[0], lines[1]) : std::make_pair(std::string(), std::string());
}

// What GLib, and with it every GNOME program, makes of the file's thumbnail: "TRUE" when valid.
std::string GlibSaysValid(const fs::path& path) {
  const RunResult result = RunProgram({"gio", "info", "-a", "thumbnail::is-valid", path.string()});
  const std::string key = "thumbnail::is-valid: ";
  for (const std::string& line : LinesOf(result.out)) {
    if (const std::size_t at = line.find(key); at != std::string::npos) return line.substr(at + key.size());
  }
  return "no thumbnail found: " + result.err;
}

QImage ReadPng(const fs::path& path) {
  QImageReader reader(QString::fromStdString(path.string()), "png");
  return reader.read();
}

// A JPEG of one colour, or of the two halves left and right.
void MakeJpeg(const fs::path& path, const std::string& left, const std::string& right = "", int width = 400, int height = 200) {
  const fs::path made = path.parent_path() / "made.jpg";
  RunConvert("-size " + std::to_string(width) + "x" + std::to_string(height) + " xc:'" + left + "'" +
             (right.empty() ? "" : " -fill '" + right + "' -draw 'rectangle " + std::to_string(width / 2) + ",0 " +
                                       std::to_string(width) + "," + std::to_string(height) + "'") +
             " -quality 95 JPEG:" + made.string());
  fs::rename(made, path);
}

class ThumbnailCacheTest : public ::testing::Test {
 protected:
  ThumbnailCacheTest() : m_cacheHome("XDG_CACHE_HOME", m_home.Path().c_str()) {}

  // The thumbnail of path at cx pixels as the maker delivers it.
  CThumbnailMaker::CThumbnail Thumbnail(const fs::path& path, UINT cx = 128) {
    CThumbnailMaker maker(1);
    maker.SetProvider(&MakeThumbnail);
    maker.Request({CString(path.string())}, 1, cx);
    std::vector<CThumbnailMaker::CThumbnail> ready;
    EXPECT_TRUE(WaitUntil([&] { return !(ready = maker.TakeReady()).empty(); }));
    return ready.empty() ? CThumbnailMaker::CThumbnail{} : ready.front();
  }
  fs::path Cached(const std::string& folder, const std::string& name) const { return m_home / "thumbnails" / folder / name; }
  static long long MTime(const fs::path& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mtime;
  }

  TempDir m_home;
  ScopedEnv m_cacheHome;
  TempDir m_photos;
};

TEST_F(ThumbnailCacheTest, NamesThumbnailsAsOtherProgramsDoWhateverBytesTheNameHolds) {
  const std::vector<std::string> names = {"plain.jpg", "with space & (signs) +,=:@!$'*~_-.jpg", "semi;colon#hash%.jpg",
                                          "caf\xC3\xA9 \xE5\x86\x99\xE7\x9C\x9F.jpg", "latin1 \xE9\xFF.jpg"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const fs::path photo = m_photos / name;
    MakeJpeg(photo, "#3070c0");
    const auto [uri, cacheName] = OtherProgramsName(photo);
    ASSERT_FALSE(cacheName.empty());
    const CThumbnailMaker::CThumbnail thumbnail = Thumbnail(photo);
    EXPECT_FALSE(thumbnail.bitmap.IsEmpty()) << thumbnail.strReason;
    EXPECT_EQ(thumbnail.bitmap.GetSize().cx, 128);
    EXPECT_EQ(thumbnail.bitmap.GetSize().cy, 64);

    const QImage png = ReadPng(Cached("normal", cacheName));
    ASSERT_FALSE(png.isNull()) << "no thumbnail under the name other programs look for";
    EXPECT_EQ(png.text("Thumb::URI").toStdString(), uri);
    EXPECT_EQ(png.text("Thumb::MTime").toLongLong(), MTime(photo));
    EXPECT_EQ(png.text("Thumb::Size").toLongLong(), static_cast<long long>(fs::file_size(photo)));
    struct stat info {};
    stat(Cached("normal", cacheName).c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(GlibSaysValid(photo), "TRUE") << "keys GLib cannot read (a long text compressed)";
  }
  struct stat folder {};
  stat((m_home / "thumbnails" / "normal").c_str(), &folder);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
}

TEST_F(ThumbnailCacheTest, UsesACurrentThumbnailAsItIsAndMakesAStaleOrBrokenOneAgain) {
  const fs::path photo = m_photos / "photo.jpg";
  MakeJpeg(photo, "#20a040");
  const auto [uri, cacheName] = OtherProgramsName(photo);
  const fs::path cached = Cached("large", cacheName);
  const QRgb green = qRgb(0x20, 0xa0, 0x40);

  struct Case {
    const char* what;
    std::function<void()> before;  // what another program, or time, did to the cache or the photo
    QRgb expected;                 // the colour the thumbnail then shows
  };
  const auto plant = [&](QRgb colour, long long mtime) {
    QImage other(256, 128, QImage::Format_RGB32);
    other.fill(colour);
    other.setText("Thumb::URI", QString::fromStdString(uri));
    other.setText("Thumb::MTime", QString::number(mtime));
    fs::create_directories(cached.parent_path());
    ASSERT_TRUE(other.save(QString::fromStdString(cached.string()), "png"));
  };
  const std::vector<Case> cases = {
      {"a current thumbnail a file manager made is shown as it is", [&] { plant(qRgb(200, 0, 200), MTime(photo)); },
       qRgb(200, 0, 200)},
      {"one whose time differs from the file's is made again", [&] { plant(qRgb(200, 0, 200), MTime(photo) - 60); },
       green},
      {"a broken file in its place is made again", [&] { WriteText(cached, "\x89PNG\r\n\x1A\n not really"); }, green},
      {"a photo changed since is made again", [&] {
         MakeJpeg(photo, "#c03020");
         const timeval times[2] = {{MTime(photo) + 100, 0}, {MTime(photo) + 100, 0}};
         utimes(photo.c_str(), times);
       },
       qRgb(0xc0, 0x30, 0x20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    const CThumbnailMaker::CThumbnail thumbnail = Thumbnail(photo, 256);
    ASSERT_FALSE(thumbnail.bitmap.IsEmpty());
    const QImage png = ReadPng(cached);
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.text("Thumb::MTime").toLongLong(), MTime(photo));
    const QRgb shown = png.pixel(png.width() / 2, png.height() / 2);
    EXPECT_NEAR(qRed(shown), qRed(c.expected), 12);
    EXPECT_NEAR(qGreen(shown), qGreen(c.expected), 12);
    EXPECT_NEAR(qBlue(shown), qBlue(c.expected), 12);
  }
}

TEST_F(ThumbnailCacheTest, EveryThumbnailOfAScreenfulIsInTheCacheOnceTheLastArrives) {
  std::vector<CString> paths;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
    MakeJpeg(m_photos / name, "#808080");
    paths.emplace_back((m_photos / name).string());
  }
  CThumbnailMaker maker(1);
  maker.SetProvider(&MakeThumbnail);
  maker.Request(paths, paths.size(), 128);
  std::size_t delivered = 0;
  ASSERT_TRUE(WaitUntil([&] { return (delivered += maker.TakeReady().size()) == paths.size(); }));
  for (const CString& path : paths) EXPECT_TRUE(fs::exists(Cached("normal", OtherProgramsName(path.str()).second))) << path.str();
}

TEST_F(ThumbnailCacheTest, ACacheThatCannotBeWrittenStillGivesThumbnailsAndGetsNothing) {
  const fs::path photo = m_photos / "photo.jpg";
  MakeJpeg(photo, "#3070c0");
  fs::create_directories(m_home / "thumbnails" / "normal");
  fs::permissions(m_home / "thumbnails" / "normal", fs::perms::owner_read | fs::perms::owner_exec);
  {
    // Root may write into any folder: a file size limit of 0 bytes stands in for the mode.
    std::optional<FileSizeLimit> noWrites;
    if (geteuid() == 0) noWrites.emplace(0);
    const CThumbnailMaker::CThumbnail thumbnail = Thumbnail(photo);
    EXPECT_FALSE(thumbnail.bitmap.IsEmpty()) << thumbnail.strReason;
  }
  fs::permissions(m_home / "thumbnails" / "normal", fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(m_home / "thumbnails" / "normal")) << "nothing, not even a part, is left in the cache";
}

TEST_F(ThumbnailCacheTest, AFileWithoutAPictureIsRecordedWithItsReasonAndForgottenOnRequest) {
  const fs::path broken = m_photos / "broken.jpg";
  WriteText(broken, "\xFF\xD8\xFF this is no photo");
  const auto [uri, cacheName] = OtherProgramsName(broken);
  CThumbnailMaker::CThumbnail thumbnail = Thumbnail(broken);
  EXPECT_TRUE(thumbnail.bitmap.IsEmpty());
  EXPECT_FALSE(thumbnail.strReason.IsEmpty());
  const QImage record = ReadPng(m_home / "thumbnails" / "fail" / "vimo-3.2" / cacheName);
  ASSERT_FALSE(record.isNull()) << "no record of the failure";
  EXPECT_EQ(record.text("Thumb::URI").toStdString(), uri);
  EXPECT_EQ(Thumbnail(broken).strReason, thumbnail.strReason) << "the reason is kept with the record";

  // A photo turned upright by its EXIF orientation, in two sizes; then forgotten in every size.
  const fs::path photo = m_photos / "sideways.jpg";
  MakeJpeg(photo, "#3070c0", "#f0c020");
  WriteFile(photo, WithExifOrientation(ReadFile(photo), 6));
  const CThumbnailMaker::CThumbnail upright = Thumbnail(photo, 256);
  EXPECT_EQ(upright.bitmap.GetSize().cx, 128);
  EXPECT_EQ(upright.bitmap.GetSize().cy, 256);
  const QImage large = ReadPng(Cached("large", OtherProgramsName(photo).second));
  ASSERT_FALSE(large.isNull());
  EXPECT_GT(qRed(large.pixel(64, 250)), 200) << "the yellow half, right in the file, is at the bottom upright";
  Thumbnail(photo, 128);
  ASSERT_TRUE(fs::exists(Cached("normal", OtherProgramsName(photo).second)));
  CThumbnailCache::ForgetFile(photo.c_str());
  EXPECT_FALSE(fs::exists(Cached("normal", OtherProgramsName(photo).second)));
  EXPECT_FALSE(fs::exists(Cached("large", OtherProgramsName(photo).second)));
  CThumbnailCache::ForgetFile(broken.c_str());
  EXPECT_FALSE(fs::exists(m_home / "thumbnails" / "fail" / "vimo-3.2" / cacheName)) << "its record of failure stayed";
}

}  // namespace
