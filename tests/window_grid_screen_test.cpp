// The grid and the film strip as the X server shows them: the real program on a virtual X server,
// driven with keys and the mouse as a user drives it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/ui/ScreenViewer.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

// Flat pictures of 200 x 150 in colours far from each other and from the window's.
Rgb ColourOf(int i) {
  return Rgb{static_cast<std::uint8_t>(30 + i * 9), static_cast<std::uint8_t>(220 - i * 7),
             static_cast<std::uint8_t>(40 + (i * 37) % 150)};
}

// The box of colour in the rows from top to (not including) bottom.
Box FindColourIn(const Pixels& screen, Rgb colour, int top, int bottom) {
  Pixels part;
  part.width = screen.width;
  part.height = std::clamp(bottom, top, screen.height) - top;
  part.argb.assign(screen.argb.begin() + static_cast<std::ptrdiff_t>(top) * screen.width,
                   screen.argb.begin() + static_cast<std::ptrdiff_t>(top + part.height) * screen.width);
  Box box = FindColour(part, colour, 3);
  if (box.Found()) box.top += top, box.bottom += top;
  return box;
}

class GridScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
  }
  void MakeImages(int count) {
    for (int i = 0; i < count; ++i) {
      char name[16];
      std::snprintf(name, sizeof(name), "a%02d.bmp", i);
      WriteFile(m_dir / name, MakeBmp24(200, 150, std::vector<Rgb>(200 * 150, ColourOf(i))));
    }
  }
  TempDir m_dir;
};

TEST_F(GridScreenTest, GridShowsTheFoldersThumbnailsAndIsDrivenByKeysAndTheMouse) {
  MakeImages(8);
  WriteText(m_dir / "zz-broken.jpg", "\xFF\xD8\xFF not a photo");
  ScreenViewer viewer;
  WriteText(viewer.ProfilePath(), "[Window size]\nRect=0000 0000 0800 0600\niconized=0\nmaximized=0\n");
  ASSERT_TRUE(viewer.Start({m_dir.Path().string()}));
  const unsigned long window = ScreenViewer::WaitForTitle(m_dir.Path().string() + " - Vimo");
  ASSERT_NE(window, 0u) << viewer.Errors();

  // Every thumbnail, 128 pixels wide; the first image chosen.
  const auto thumbnails = [](const Pixels& p) {
    for (int i = 0; i < 8; ++i) {
      const Box box = FindColour(p, ColourOf(i), 3);
      if (box.Width() != 128 || box.Height() != 96) return false;
    }
    return true;
  };
  // Chosen: the cell around the picture shows the selection's colour, above the picture.
  const auto chosen = [](const Pixels& p, std::initializer_list<int> items, int count = 8) {
    for (int i = 0; i < count; ++i) {
      const Box box = FindColour(p, ColourOf(i), 3);
      const bool selected = !(p.At((box.left + box.right) / 2, box.top - 8) == WindowColour());
      if (!box.Found() || selected != (std::find(items.begin(), items.end(), i) != items.end())) return false;
    }
    return true;
  };
  // The broken file: a plain frame in the cell after the eighth (five a row), no picture in it.
  const auto frame = [](const Pixels& p) {
    const Box first = FindColour(p, ColourOf(0), 3), second = FindColour(p, ColourOf(1), 3);
    const Box below = FindColour(p, ColourOf(5), 3);
    const int x = first.left + 3 * (second.left - first.left), y = below.top + 48;
    int edges = 0;
    for (int i = x; i < x + 128 && i < p.width; ++i) edges += p.At(i, y) == WindowColour() ? 0 : 1;
    return below.left == first.left && edges == 2;
  };
  Pixels screen =
      ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return thumbnails(p) && chosen(p, {0}) && frame(p); });
  ASSERT_GT(screen.width, 0) << "not every thumbnail shown, the first not chosen, or no empty frame for the broken file";
  const Box first = FindColour(screen, ColourOf(0), 3);

  // The arrows move the choice; Shift+Right adds the next; Ctrl+click adds the first.
  ScreenViewer::Type(window, "Right Right shift+Right");
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return chosen(p, {2, 3}); });
  ASSERT_GT(screen.width, 0) << "Right Right Shift+Right did not choose the third and fourth";
  ScreenViewer::Click(window, (first.left + first.right) / 2, (first.top + first.bottom) / 2, "ctrl");
  screen = ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return chosen(p, {0, 2, 3}); });
  ASSERT_GT(screen.width, 0) << "Ctrl+click did not add the first";

  // Enter shows the image the focus is on, 1:1; Enter again is the grid with it alone chosen.
  const auto shownWhole = [](int i) { return [i](const Pixels& p) { return FindColour(p, ColourOf(i), 3).Width() == 200; }; };
  ScreenViewer::Type(window, "Return");
  ASSERT_GT(ScreenViewer::WaitForScreen(window, shownWhole(0)).width, 0) << "Enter did not show the first image";
  ScreenViewer::Type(window, "Return");
  ASSERT_GT(ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return thumbnails(p) && chosen(p, {0}); }).width, 0);

  // A double-click shows that image; in the grid again, Esc goes back to it.
  const Box fifth = FindColour(screen, ColourOf(4), 3);
  ScreenViewer::Click(window, (fifth.left + fifth.right) / 2, (fifth.top + fifth.bottom) / 2, "", 2);
  ASSERT_GT(ScreenViewer::WaitForScreen(window, shownWhole(4)).width, 0) << "the double-click did not show the fifth";
  ScreenViewer::Type(window, "Return");
  ASSERT_GT(ScreenViewer::WaitForScreen(window, [&](const Pixels& p) { return thumbnails(p) && chosen(p, {4}); }).width, 0);
  ScreenViewer::Type(window, "Escape");
  ASSERT_GT(ScreenViewer::WaitForScreen(window, shownWhole(4)).width, 0) << "Esc did not go back to the image";

  viewer.Stop();
  // The thumbnails went into the desktop's shared cache, the broken file into its failures.
  const fs::path cache = viewer.Home() / "cache" / "thumbnails";
  EXPECT_EQ(std::distance(fs::directory_iterator(cache / "normal"), fs::directory_iterator()), 8);
  EXPECT_EQ(std::distance(fs::directory_iterator(cache / "fail" / "vimo-3.2"), fs::directory_iterator()), 1);
  EXPECT_NE(TextOfFile(viewer.ProfilePath()).find("GridShown=0"), std::string::npos);
}

TEST_F(GridScreenTest, FilmStripMarksTheShownImageAtItsCentreAndFollowsTabAndClicks) {
  MakeImages(24);
  fs::remove(m_dir / "a15.bmp");  // a JPEG of ColourOf(15) with sides of whole blocks: a turn can be saved into it
  RunConvert("-size 192x144 xc:#a57391 " + (m_dir / "a15.jpg").string());
  ScreenViewer viewer;
  WriteText(viewer.ProfilePath(),
            "[Window size]\nRect=0000 0000 0900 0700\niconized=0\nmaximized=0\n[View]\nBrowseFromOpened=1\n"
            "[vimo-Bar0]\nBarID=59392\nVisible=1\nDocking=Top\n[vimo-Bar1]\nBarID=59393\nVisible=1\nDocking=Bottom\n"
            "[vimo-Bar2]\nBarID=32817\nVisible=1\nDocking=Bottom\n");
  ASSERT_TRUE(viewer.Start({(m_dir / "a10.bmp").string()}));
  const unsigned long window = ScreenViewer::WaitForTitle("a10.bmp - Vimo");
  ASSERT_NE(window, 0u) << viewer.Errors();

  // The strip's thumbnails (64 pixels wide) are below the image; the shown one at the centre.
  const auto centred = [](int i, int bigWidth = 200, int smallWidth = 64) {
    return [=](const Pixels& p) {
      const Box big = FindColourIn(p, ColourOf(i), 0, 300);
      const Box small = FindColourIn(p, ColourOf(i), 300, p.height);
      return big.Width() == bigWidth && small.Width() == smallWidth && std::abs((small.left + small.right) / 2 - p.width / 2) < 40;
    };
  };
  Pixels screen = ScreenViewer::WaitForScreen(window, centred(10));
  ASSERT_GT(screen.width, 0) << "the shown image is not at the strip's centre";
  ScreenViewer::Type(window, "Tab");
  ASSERT_GT(ScreenViewer::WaitForScreen(window, centred(11)).width, 0) << "the strip did not follow Tab";
  ScreenViewer::Type(window, "shift+Tab");
  screen = ScreenViewer::WaitForScreen(window, centred(10));
  ASSERT_GT(screen.width, 0) << "the strip did not follow Shift+Tab";

  const Box thirteenth = FindColourIn(screen, ColourOf(13), 300, screen.height);
  ASSERT_TRUE(thirteenth.Found());
  ScreenViewer::Click(window, (thirteenth.left + thirteenth.right) / 2, (thirteenth.top + thirteenth.bottom) / 2);
  ASSERT_GT(ScreenViewer::WaitForScreen(window, centred(13)).width, 0) << "a click did not show that image";
  ScreenViewer::Type(window, "Tab");
  EXPECT_GT(ScreenViewer::WaitForScreen(window, centred(14)).width, 0) << "Tab does not go on from the clicked image";
  // A turn saved into the file is in its thumbnail too: 64 x 48 there before, 48 x 64 after.
  ScreenViewer::Type(window, "Tab");
  ASSERT_GT(ScreenViewer::WaitForScreen(window, centred(15, 192)).width, 0);
  for (const char* key : {"r", "alt+f", "r"}) ScreenViewer::Type(window, key);
  EXPECT_GT(ScreenViewer::WaitForScreen(window, centred(15, 144, 48)).width, 0) << "the strip kept the picture of before the turn";
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
