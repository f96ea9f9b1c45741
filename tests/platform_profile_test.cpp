// The application's profile file: entries written keep every other line, read back as they
// were written, and a write that fails leaves the previous profile whole; the writer's thread
// leaves the newest values in it and reports a write that failed.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "afx/ProfileFile.h"
#include "afx/ProfileWriter.h"
#include "support/ImageFixtures.h"

namespace {

namespace fs = std::filesystem;
using vimo::platform::ReadProfileString;
using vimo::platform::WriteProfileString;
using vimo::test::TextOfFile;
using vimo::test::WriteText;

TEST(ProfileFile, AnEntryIsSetAddedOrRemovedAndOtherLinesStay) {
  const vimo::test::TempDir dir;
  const fs::path path = dir / "vimo.ini";
  const std::string tooLong(600, 'p');
  const struct {
    const char* why;
    const char* before;  // nullptr: no file
    const char* section;
    const char* entry;
    const char* value;  // nullptr: remove
    const char* after;
  } cases[] = {
      {"a new file", nullptr, "Window size", "Rect", "0100 0050 0740 0530", "[Window size]\nRect=0100 0050 0740 0530\n"},
      {"names compare without case", "[window SIZE]\nrect=1\n; note\n", "Window size", "Rect", "2",
       "[window SIZE]\nRect=2\n; note\n"},
      {"added after the section's last line", "[A]\nx=1\n\n[B]\ny=2\n", "A", "z", "3", "[A]\nx=1\nz=3\n\n[B]\ny=2\n"},
      {"a new section at the end", "[A]\nx=1", "B", "y", "2", "[A]\nx=1\n[B]\ny=2\n"},
      {"removed", "[A]\nx=1\ny=2\n[B]\nx=3\n", "A", "x", nullptr, "[A]\ny=2\n[B]\nx=3\n"},
      {"removing what is not there changes nothing", "[A]\r\nx=1\r\n", "B", "x", nullptr, "[A]\r\nx=1\r\n"},
      {"a line break cannot be stored", "[A]\nx=1\n", "A", "x", "two\nlines", "[A]\n"},
      {"nor a line longer than the reader takes", "[A]\nx=1\n", "A", "x", tooLong.c_str(), "[A]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    fs::remove(path);
    if (c.before != nullptr) WriteText(path, c.before);
    const bool stored = WriteProfileString(path.c_str(), c.section, c.entry, c.value);
    EXPECT_EQ(TextOfFile(path), c.after);
    EXPECT_EQ(stored, c.value == nullptr || std::string(c.after).find(c.value) != std::string::npos);
  }
}

TEST(ProfileFile, ValuesComeBackAsWritten) {
  const vimo::test::TempDir dir;
  const fs::path path = dir / "vimo.ini";
  for (const std::string& value : std::vector<std::string>{"/pics/#1;2.jpg", "say \"hi\"", " blanks around ", "C:\\dir\\", "a\\\"b", "",
                                  "写真/名前.jpg", std::string(490, 'n')}) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(WriteProfileString(path.c_str(), "Recent File List", "File1", value.c_str()));
    ASSERT_TRUE(WriteProfileString(path.c_str(), "Recent File List", "File2", "next"));
    EXPECT_EQ(ReadProfileString(path.c_str(), "Recent File List", "File1", "-"), value);
    EXPECT_EQ(ReadProfileString(path.c_str(), "Recent File List", "File2", "-"), "next");
  }
}

TEST(ProfileFile, WriteThatFailsMidwayLeavesTheOldProfileWhole) {
  const vimo::test::TempDir dir;
  const fs::path path = dir / "vimo.ini";
  std::string old = "[Recent File List]\n";
  for (int i = 1; i <= 16; ++i) old += "File" + std::to_string(i) + "=/pictures/holiday/" + std::string(200, 'x') + "\n";
  WriteText(path, old);
  {
    const vimo::test::FileSizeLimit fullDisk(1024);
    EXPECT_FALSE(WriteProfileString(path.c_str(), "Window size", "Rect", "0100 0050 0740 0530"));
  }
  EXPECT_EQ(TextOfFile(path), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

// The window's thread hands each change to the writer and goes on; by the writer's end (the
// viewer's exit) the file holds the newest value of every entry changed.
TEST(ProfileWriter, TheNewestValuesAreInTheFileWhenTheWriterEnds) {
  const vimo::test::TempDir dir;
  const fs::path path = dir / "config" / "vimo.ini";
  {
    vimo::platform::ProfileWriter writer([](int error) { ADD_FAILURE() << "write failed: " << error; });
    for (int press = 1; press <= 40; ++press) {
      writer.Write(path, {{"View", "FitToWindow", std::to_string(press % 2)}, {"Recent File List", "File1", std::to_string(press)}});
    }
    writer.Write(path, {{"View", "Gone", "1"}, {"View", "Gone", std::nullopt}});
  }
  EXPECT_EQ(TextOfFile(path), "[View]\nFitToWindow=0\n[Recent File List]\nFile1=40\n");
}

// A write that fails is reported with its reason, its changes kept (and read back) and written by
// the next try; the old file stays whole meanwhile.
TEST(ProfileWriter, AFailedWriteIsReportedAndTriedAgain) {
  const vimo::test::TempDir dir;
  const fs::path path = dir / "vimo.ini";
  const std::string old = "[Recent File List]\nFile1=/pictures/" + std::string(2000, 'x') + "\n";
  WriteText(path, old);
  std::atomic<int> reported{0};
  vimo::platform::ProfileWriter writer([&](int error) { reported = error; });
  int error = 0;
  {
    const vimo::test::FileSizeLimit fullDisk(1024);
    writer.Write(path, {{"Window size", "Rect", "0100 0050 0740 0530"}});
    EXPECT_FALSE(writer.Flush(error));
  }
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(reported, EFBIG);
  EXPECT_TRUE(writer.Failing());
  EXPECT_EQ(TextOfFile(path), old);
  EXPECT_EQ(writer.Unwritten(path, "window SIZE", "rect")->value, "0100 0050 0740 0530");
  EXPECT_TRUE(writer.Flush(error));
  EXPECT_FALSE(writer.Failing());
  EXPECT_EQ(TextOfFile(path), old + "[Window size]\nRect=0100 0050 0740 0530\n");
}

}  // namespace
