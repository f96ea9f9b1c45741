// A long session: sixty large photos browsed forward and back in the real window. Every image
// shows, nothing fails, and the temporary folder stays bounded however long the session runs.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/ui/Browsing.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

// Files in folder whose names end in ".bmp" (converted files; names starting with '.' are the
// worker's files still being written) and whose names start with "magick-".
struct FolderCount {
  int converted = 0;
  int magick = 0;
};

FolderCount Count(const fs::path& folder) {
  FolderCount count;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("magick-", 0) == 0) ++count.magick;
    if (name[0] != '.' && name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0) ++count.converted;
  }
  return count;
}

TEST(LongSession, SixtyLargePhotosForwardAndBack) {
  const TempDir photos;
  const TempDir magickFolder;
  // The image library's own temporary files land here, where they can be counted.
  const ScopedEnv magickTemporary("MAGICK_TEMPORARY_PATH", magickFolder.Path().c_str());
  // Three 3600 x 2400 photos, each linked under twenty names.
  const char* gradients[] = {"gradient:firebrick-khaki", "gradient:navy-lightgreen", "radial-gradient:white-purple"};
  std::vector<std::string> names;
  for (int kind = 0; kind < 3; ++kind) {
    const fs::path original = photos / ("original" + std::to_string(kind) + ".jpeg-source");
    RunConvert(std::string("-size 3600x2400 ") + gradients[kind] + " -attenuate 0.3 +noise Gaussian -quality 90 JPEG:" +
               original.string());
    for (int copy = 0; copy < 20; ++copy) {
      const int number = copy * 3 + kind + 1;
      names.push_back("photo" + std::to_string(number) + ".jpg");
      fs::create_hard_link(original, photos / names.back());
    }
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(a.substr(5)) < std::stoi(b.substr(5));
  });

  ViewerSession session;
  char temp[4096];
  ASSERT_GT(GetTempPathA(sizeof(temp), temp), 0u);
  const fs::path tempFolder = temp;
  FolderCount most;
  auto watch = [&] {
    for (const fs::path& folder : {tempFolder, magickFolder.Path()}) {
      const FolderCount now = Count(folder);
      most.converted = std::max(most.converted, now.converted);
      most.magick = std::max(most.magick, now.magick);
    }
  };

  ASSERT_TRUE(session.Start({(photos / "photo1.jpg").string()}));
  ASSERT_TRUE(session.WaitForImage("photo1.jpg", 120000));
  std::vector<std::string> shown = {"photo1.jpg"};
  ASSERT_TRUE(HoldTab(session, [&](const BrowseStep& step) {
    watch();
    if (!step.converted.empty()) shown.push_back(step.title);
    EXPECT_TRUE(step.messages.empty()) << testing::PrintToString(step.messages);
  }));
  EXPECT_EQ(shown, names);

  std::vector<std::string> back;
  ASSERT_TRUE(HoldShiftTab(session, [&](const BrowseStep& step) {
    watch();
    back.push_back(step.title);
    EXPECT_TRUE(step.messages.empty()) << testing::PrintToString(step.messages);
  }));
  const std::vector<std::string> expectedBack(names.rbegin() + 1, names.rbegin() + 1 + static_cast<long>(back.size()));
  EXPECT_EQ(back, expectedBack);
  EXPECT_GE(back.size(), 14u);

  EXPECT_LE(most.converted, 17);
  EXPECT_EQ(most.magick, 0) << "the image library left its temporary files behind";
  EXPECT_TRUE(session.messages.empty()) << testing::PrintToString(session.messages);
  // Closing joins the worker: it must not be left waiting on anything the folder held.
  session.Stop();
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
