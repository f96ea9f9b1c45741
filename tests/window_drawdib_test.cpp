// DrawDib paints every bitmap layout the viewer may load pixel for pixel, as the format
// describes it. Bitmaps are built byte by byte; the expected colours come from the same model
// the bytes were made from.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QWidget>

#include <cstdlib>
#include <functional>

#include "app/Globals.h"
#include "convert/ConvertImage.h"
#include "support/ui/ViewerSession.h"
#include "win32/LargeMemory.h"

using namespace vimo::test;

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 4;

Rgb PaletteColour(int index) {
  return Rgb{static_cast<std::uint8_t>(index * 7), static_cast<std::uint8_t>(index * 13), static_cast<std::uint8_t>(255 - index)};
}

struct Layout {
  const char* name;
  int bitCount;
  std::uint32_t compression;
  int paletteSize;                  // colour-table entries written
  std::vector<std::uint32_t> masks; // bit-field masks written after the header
  Bytes pixelBytes;                 // stored rows, bottom row first
  std::vector<Rgb> expected;        // top row first
  int tolerance = 0;                // per channel, for the 16-bit layouts
  bool core = false;                // a 12-byte core header: 16-bit sizes, 3-byte colour entries
};

Bytes FileOf(const Layout& layout) {
  Bytes b = {'B', 'M'};
  const std::uint32_t headerSize = layout.core ? 12 : 40;
  const std::uint32_t entrySize = layout.core ? 3 : 4;
  const std::uint32_t offBits =
      14 + headerSize + static_cast<std::uint32_t>(entrySize * layout.paletteSize + 4 * layout.masks.size());
  AppendU32(b, 0);
  AppendU32(b, 0);
  AppendU32(b, offBits);
  AppendU32(b, headerSize);
  if (layout.core) {
    AppendU16(b, kWidth);
    AppendU16(b, kHeight);
    AppendU16(b, 1);
    AppendU16(b, static_cast<std::uint32_t>(layout.bitCount));
  } else {
    AppendU32(b, kWidth);
    AppendU32(b, kHeight);
    AppendU16(b, 1);
    AppendU16(b, static_cast<std::uint32_t>(layout.bitCount));
    AppendU32(b, layout.compression);
    AppendU32(b, static_cast<std::uint32_t>(layout.pixelBytes.size()));
    AppendU32(b, 2925);
    AppendU32(b, 2925);
    AppendU32(b, static_cast<std::uint32_t>(layout.paletteSize));
    AppendU32(b, 0);
  }
  for (std::uint32_t mask : layout.masks) AppendU32(b, mask);
  for (int i = 0; i < layout.paletteSize; ++i) {
    const Rgb c = PaletteColour(i);
    b.insert(b.end(), {c.blue, c.green, c.red});
    if (!layout.core) b.push_back(0);
  }
  b.insert(b.end(), layout.pixelBytes.begin(), layout.pixelBytes.end());
  while (b.size() < 200) b.push_back(0);
  return b;
}

// The same layout under a 12-byte core header.
Layout Core(Layout layout) {
  layout.core = true;
  return layout;
}

// Uncompressed indexed rows: index(x, y) with y from the top.
Layout Indexed(const char* name, int bitCount, const std::function<int(int, int)>& index) {
  Layout layout{name, bitCount, 0, 1 << bitCount, {}, {}, {}};
  const int stride = ((kWidth * bitCount + 31) / 32) * 4;
  for (int row = kHeight - 1; row >= 0; --row) {
    Bytes bytes(static_cast<size_t>(stride), 0);
    for (int x = 0; x < kWidth; ++x) {
      const int bit = x * bitCount;
      bytes[static_cast<size_t>(bit / 8)] |= static_cast<std::uint8_t>(index(x, row) << (8 - bitCount - bit % 8));
    }
    layout.pixelBytes.insert(layout.pixelBytes.end(), bytes.begin(), bytes.end());
  }
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) layout.expected.push_back(PaletteColour(index(x, y)));
  }
  return layout;
}

Rgb Colour(int x, int y) {
  return Rgb{static_cast<std::uint8_t>(x * 16), static_cast<std::uint8_t>(y * 60), static_cast<std::uint8_t>(255 - x * 8)};
}

// Direct-colour rows: a pixel's stored value from its colour.
Layout Direct(const char* name, int bitCount, std::uint32_t compression, std::vector<std::uint32_t> masks,
              const std::function<std::uint32_t(Rgb)>& store, const std::function<Rgb(Rgb)>& shown, int tolerance) {
  Layout layout{name, bitCount, compression, 0, std::move(masks), {}, {}, tolerance};
  const int stride = ((kWidth * bitCount + 31) / 32) * 4;
  for (int row = kHeight - 1; row >= 0; --row) {
    Bytes bytes;
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t v = store(Colour(x, row));
      if (bitCount == 16) AppendU16(bytes, v);
      else if (bitCount == 24) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16)});
      else AppendU32(bytes, v);
    }
    bytes.resize(static_cast<size_t>(stride), 0);
    layout.pixelBytes.insert(layout.pixelBytes.end(), bytes.begin(), bytes.end());
  }
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) layout.expected.push_back(shown(Colour(x, y)));
  }
  return layout;
}

// Run-length rows, bottom row first: each row a list of codes, with the indexes they give.
Layout Rle8() {
  Layout layout{"RLE8", 8, 1, 256, {}, {}, {}};
  std::vector<std::vector<int>> rows(kHeight, std::vector<int>(kWidth, 0));
  for (int stored = 0; stored < kHeight; ++stored) {
    const int y = kHeight - 1 - stored;
    const int a = 20 + stored;
    Bytes& b = layout.pixelBytes;
    if (stored == 2) {
      // A run, a delta of two pixels (left at index 0), a run.
      b.insert(b.end(), {4, static_cast<std::uint8_t>(a), 0, 2, 2, 0, 10, 99});
      for (int x = 0; x < 4; ++x) rows[y][x] = a;
      for (int x = 6; x < 16; ++x) rows[y][x] = 99;
    } else {
      // A run of five, three literal pixels (padded to a word), a run of eight.
      b.insert(b.end(), {5, static_cast<std::uint8_t>(a), 0, 3, 200, 201, 202, 0, 8, 150});
      for (int x = 0; x < 5; ++x) rows[y][x] = a;
      rows[y][5] = 200;
      rows[y][6] = 201;
      rows[y][7] = 202;
      for (int x = 8; x < 16; ++x) rows[y][x] = 150;
    }
    if (stored == kHeight - 1) b.insert(b.end(), {0, 1});
    else b.insert(b.end(), {0, 0});
  }
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) layout.expected.push_back(PaletteColour(rows[y][x]));
  }
  return layout;
}

Layout Rle4() {
  Layout layout{"RLE4", 4, 2, 16, {}, {}, {}};
  const int literal[5] = {3, 4, 5, 6, 7};
  for (int stored = 0; stored < kHeight; ++stored) {
    Bytes& b = layout.pixelBytes;
    // Six pixels alternating 1 and 2, five literal pixels, five of index 9.
    b.insert(b.end(), {6, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 5, 0x99});
    if (stored == kHeight - 1) b.insert(b.end(), {0, 1});
    else b.insert(b.end(), {0, 0});
  }
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const int index = x < 6 ? (x % 2 == 0 ? 1 : 2) : x < 11 ? literal[x - 6] : 9;
      layout.expected.push_back(PaletteColour(index));
    }
  }
  return layout;
}

std::uint8_t Expand(std::uint32_t value, int bits) { return static_cast<std::uint8_t>(value * 255 / ((1u << bits) - 1)); }

std::vector<Layout> Layouts() {
  std::vector<Layout> layouts;
  layouts.push_back(Indexed("1 bit", 1, [](int x, int y) { return (x + y) % 2; }));
  layouts.push_back(Indexed("4 bits", 4, [](int x, int y) { return (x + 3 * y) % 16; }));
  layouts.push_back(Indexed("8 bits", 8, [](int x, int y) { return (x * 16 + y * 37) % 256; }));
  layouts.push_back(Direct(
      "16 bits 5-5-5", 16, 0, {},
      [](Rgb c) { return static_cast<std::uint32_t>(((c.red >> 3) << 10) | ((c.green >> 3) << 5) | (c.blue >> 3)); },
      [](Rgb c) { return Rgb{Expand(c.red >> 3, 5), Expand(c.green >> 3, 5), Expand(c.blue >> 3, 5)}; }, 8));
  layouts.push_back(Direct(
      "16 bits 5-6-5 fields", 16, 3, {0xF800, 0x07E0, 0x001F},
      [](Rgb c) { return static_cast<std::uint32_t>(((c.red >> 3) << 11) | ((c.green >> 2) << 5) | (c.blue >> 3)); },
      [](Rgb c) { return Rgb{Expand(c.red >> 3, 5), Expand(c.green >> 2, 6), Expand(c.blue >> 3, 5)}; }, 8));
  layouts.push_back(Direct(
      "32 bits", 32, 0, {},
      [](Rgb c) { return static_cast<std::uint32_t>((c.red << 16) | (c.green << 8) | c.blue); },
      [](Rgb c) { return c; }, 0));
  layouts.push_back(Direct(
      "32 bits, red in the low byte", 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000},
      [](Rgb c) { return static_cast<std::uint32_t>((c.blue << 16) | (c.green << 8) | c.red); },
      [](Rgb c) { return c; }, 0));
  layouts.push_back(Rle8());
  layouts.push_back(Rle4());
  // Bit fields describe 16- and 32-bit pixels only; 8-bit rows claiming them are not read as 32-bit.
  Layout fields8 = Indexed("8 bits claiming bit fields", 8, [](int x, int y) { return 1 + (x + y) % 255; });
  fields8.compression = 3;
  fields8.masks = {0xFF0000, 0x00FF00, 0x0000FF};
  fields8.expected.assign(fields8.expected.size(), Rgb{0, 0, 0});
  layouts.push_back(fields8);
  layouts.push_back(Core(Indexed("core header, 1 bit", 1, [](int x, int y) { return (x + y) % 2; })));
  layouts.push_back(Core(Indexed("core header, 4 bits", 4, [](int x, int y) { return (x + 3 * y) % 16; })));
  layouts.push_back(Core(Indexed("core header, 8 bits", 8, [](int x, int y) { return (x * 16 + y * 37) % 256; })));
  layouts.push_back(Core(Direct(
      "core header, 24 bits", 24, 0, {},
      [](Rgb c) { return static_cast<std::uint32_t>((c.red << 16) | (c.green << 8) | c.blue); },
      [](Rgb c) { return c; }, 0)));
  return layouts;
}

class DrawDibTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_session.Start()); }
  TempDir m_dir;
  ViewerSession m_session;
};

TEST_F(DrawDibTest, EveryLayoutIsPaintedAsTheFormatDescribesIt) {
  CVimoDoc* pDoc = m_session.Doc();
  for (const Layout& layout : Layouts()) {
    SCOPED_TRACE(layout.name);
    const auto file = m_dir / "layout.bmp.bmp";
    WriteFile(file, FileOf(layout));
    pDoc->LoadDib(file.c_str());
    ASSERT_EQ(pDoc->GetTitle(), "layout.bmp");
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.ViewPixels().width > kWidth; }));
    const Pixels painted = m_session.ViewPixels();
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const Rgb got = painted.At(x, y);
        const Rgb want = layout.expected[static_cast<size_t>(y * kWidth + x)];
        const bool close = std::abs(got.red - want.red) <= layout.tolerance &&
                           std::abs(got.green - want.green) <= layout.tolerance &&
                           std::abs(got.blue - want.blue) <= layout.tolerance;
        if (!close && wrong++ < 3) {
          ADD_FAILURE() << "pixel " << x << "," << y << ": painted " << int(got.red) << "/" << int(got.green) << "/"
                        << int(got.blue) << ", expected " << int(want.red) << "/" << int(want.green) << "/"
                        << int(want.blue);
        }
      }
    }
  }
}

TEST_F(DrawDibTest, RunLengthDataThatRunsOffItsImageStaysInside) {
  // Runs far longer than a row, deltas beyond the image, literal runs cut by the end of the file.
  Layout layout{"hostile RLE8", 8, 1, 256, {}, {}, {}};
  layout.pixelBytes = {255, 7, 0, 2, 250, 250, 255, 9, 0, 200, 1, 2};
  const auto file = m_dir / "hostile.bmp.bmp";
  Bytes bytes = FileOf(layout);
  bytes.resize(54 + 1024 + layout.pixelBytes.size());
  if (bytes.size() < 200) bytes.resize(200);
  WriteFile(file, bytes);
  m_session.Doc()->LoadDib(file.c_str());
  ASSERT_EQ(m_session.Doc()->GetTitle(), "hostile.bmp");
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.ViewPixels().width > kWidth; }));
  EXPECT_EQ(m_session.ViewPixels().At(0, kHeight - 1), PaletteColour(7));
}

// A picture of w x h flat colours given as letters, one string per row (top first).
Rgb Letter(char c) { return Rgb{static_cast<std::uint8_t>(c * 5), static_cast<std::uint8_t>(c * 11), static_cast<std::uint8_t>(c * 17)}; }

std::vector<Rgb> Lettered(const std::vector<std::string>& rows) {
  std::vector<Rgb> pixels;
  for (const std::string& row : rows) {
    for (char c : row) pixels.push_back(Letter(c));
  }
  return pixels;
}

TEST_F(DrawDibTest, ReductionsAverageAndEnlargementsRepeatPixels) {
  std::vector<Rgb> checker;
  for (int i = 0; i < 64 * 64; ++i) checker.push_back(((i % 64) + (i / 64)) % 2 ? Rgb{255, 255, 255} : Rgb{0, 0, 0});
  const std::vector<Rgb> pattern = Pattern(40, 30, 3);
  const std::vector<Rgb> letters = Lettered({"ABC", "DEF"});
  struct Case {
    const char* name;
    Bytes file;
    int width, height;  // drawn into
    std::function<Rgb(int, int)> expected;
    int tolerance;
  };
  const std::vector<Case> cases = {
      {"1-pixel checkerboard at 50 %: mid-grey", MakeBmp24(64, 64, checker), 32, 32, [](int, int) { return Rgb{128, 128, 128}; }, 8},
      {"1-pixel checkerboard at 25 %: mid-grey", MakeBmp24(64, 64, checker), 16, 16, [](int, int) { return Rgb{128, 128, 128}; }, 8},
      {"100 %: the pixels themselves", MakeBmp24(40, 30, pattern), 40, 30, [&](int x, int y) { return pattern[y * 40 + x]; }, 0},
      {"300 %: each pixel a sharp 3 x 3 block", MakeBmp24(3, 2, letters), 9, 6, [&](int x, int y) { return letters[y / 3 * 3 + x / 3]; }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Pixels drawn = DrawBitmap(c.file, c.width, c.height);
    int wrong = 0;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        const Rgb got = drawn.At(x, y), want = c.expected(x, y);
        const bool close = std::abs(got.red - want.red) <= c.tolerance && std::abs(got.green - want.green) <= c.tolerance &&
                           std::abs(got.blue - want.blue) <= c.tolerance;
        if (!close && wrong++ < 3) ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(got.red) << "/" << int(got.green);
      }
    }
  }
}

// The eight EXIF orientations of a 3 x 2 picture ABC over DEF, as a viewer shows them.
TEST_F(DrawDibTest, EveryOrientationShowsThePictureAsItsExifValueSays) {
  const std::vector<std::vector<std::string>> shown = {
      {"ABC", "DEF"}, {"CBA", "FED"}, {"FED", "CBA"}, {"DEF", "ABC"},
      {"AD", "BE", "CF"}, {"DA", "EB", "FC"}, {"FC", "EB", "DA"}, {"CF", "BE", "AD"},
  };
  // A quarter turn clockwise: the bottom row becomes the left column.
  const auto turned = [](const std::vector<std::string>& rows) {
    std::vector<std::string> result(rows[0].size());
    for (std::size_t x = 0; x < rows[0].size(); ++x) {
      for (std::size_t y = rows.size(); y-- > 0;) result[x] += rows[y][x];
    }
    return result;
  };
  const Bytes file = MakeBmp24(3, 2, Lettered({"ABC", "DEF"}));
  // The same picture with each letter a block of 4 x 4 pixels.
  const std::string top = "AAAABBBBCCCC", bottom = "DDDDEEEEFFFF";
  const Bytes blocks = MakeBmp24(12, 8, Lettered({top, top, top, top, bottom, bottom, bottom, bottom}));
  TempDir dir;
  WriteFile(dir / "blocks.bmp", blocks);
  const int fd = ::open((dir / "blocks.bmp").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int value = 1; value <= 8; ++value) {
    SCOPED_TRACE("orientation " + std::to_string(value));
    const std::vector<std::string>& rows = shown[static_cast<size_t>(value - 1)];
    const int width = static_cast<int>(rows[0].size()), height = static_cast<int>(rows.size());
    // Drawn 1:1, and a quarter of the size from its file, quickly.
    for (const Pixels& drawn : {DrawBitmap(file, width, height, value), DrawBitmap(blocks, width, height, value, fd, DDF_HURRYUP)}) {
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) EXPECT_EQ(drawn.At(x, y), Letter(rows[y][x])) << x << "," << y;
      }
    }
    // R turns what is shown a quarter clockwise.
    EXPECT_EQ(shown[static_cast<size_t>(DrawDibTurnOrientation(value, 1) - 1)], turned(rows));
  }
  ::close(fd);
}

// A reduced view shows a quick drawing at once and the averaged one after, from copies built
// while the window goes on: the window repaints by itself once they are ready. An animation's
// frames alike, each in its turn.
TEST_F(DrawDibTest, ReducedViewIsQuickAtOnceThenAveragedFromCopiesBuiltAside) {
  // 1-pixel checkerboards: a quick drawing shows black and white, an averaged one grey.
  constexpr int kSide = 1000;
  const auto isGrey = [](Rgb c) { return std::abs(c.red - 128) <= 16 && c.red == c.green && c.green == c.blue; };
  std::vector<Rgb> checker;
  GifFrame frame = FlatFrame(kSide, kSide, Rgb{0, 0, 0});
  frame.palette = {{0, 0, 0}, {255, 255, 255}};
  frame.delay = 6000;  // no step of its own while the test looks
  GifFrame inverted = frame;
  for (int i = 0; i < kSide * kSide; ++i) {
    const bool white = (i % kSide + i / kSide) % 2 != 0;
    checker.push_back(white ? Rgb{255, 255, 255} : Rgb{0, 0, 0});
    frame.indexes[static_cast<size_t>(i)] = white ? 1 : 0;
    inverted.indexes[static_cast<size_t>(i)] = white ? 0 : 1;
  }
  WriteFile(m_dir / "checker.bmp.bmp", MakeBmp24(kSide, kSide, checker));
  WriteFile(m_dir / "checker.gif", MakeGif({frame, inverted}, {kSide, kSide, 0}));
  ASSERT_EQ(ConvertForViewing((m_dir / "checker.gif").c_str(), (m_dir / "checker.gif.bmp").c_str(), 0), 1);
  g_bFitToWindow = 1;
  m_session.Frame()->GetWidget()->resize(480, 360);
  CVimoDoc* pDoc = m_session.Doc();
  std::snprintf(pDoc->m_szFolder, sizeof(pDoc->m_szFolder), "%s/", m_dir.Path().c_str());
  const CReducedCopies& copies = m_session.View()->m_copies;
  const auto centre = [](const Pixels& p) { return p.At(p.width / 2, p.height / 2); };
  const struct {
    const char* name;
    std::function<void()> show;
  } cases[] = {
      {"still image", [&] { pDoc->LoadDib((m_dir / "checker.bmp.bmp").c_str()); }},
      {"animation, first frame", [&] { pDoc->LoadDib((m_dir / "checker.gif.bmp").c_str()); }},
      {"animation, next frame", [&] { pDoc->StepAnimation(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.show();
    const Rgb first = centre(m_session.ViewPixels());
    EXPECT_TRUE(first == (Rgb{0, 0, 0}) || first == (Rgb{255, 255, 255})) << "the first paint is not the quick drawing";
    EXPECT_TRUE(copies.IsBuilding()) << "the copies are not built after the first paint";
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return copies.IsReady() != FALSE; }));
    EXPECT_TRUE(ViewerSession::WaitFor([&] { return isGrey(centre(m_session.ShownPixels())); })) << "no repaint came";
  }
  EXPECT_NE(pDoc->m_pAnimation, nullptr);
}

// Preparing a backing store's pages for writing changes none of its bytes, however they lie.
TEST(LargeMemory, PreparingForWritingKeepsEveryByte) {
  constexpr std::size_t kBytes = 5 * 4096 + 123;
  const int fd = memfd_create("backing-store", MFD_CLOEXEC);
  ASSERT_TRUE(fd >= 0 && ftruncate(fd, kBytes) == 0);
  auto* bytes = static_cast<unsigned char*>(mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  close(fd);
  ASSERT_NE(bytes, MAP_FAILED);
  for (std::size_t i = 0; i < kBytes; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  for (const std::size_t from : {0, 1, 4095}) vimo::platform::PrepareForWriting(bytes + from, kBytes - from - 7);
  for (std::size_t i = 0; i < kBytes; ++i) ASSERT_EQ(bytes[i], static_cast<unsigned char>(i * 7 + 1)) << i;
  munmap(bytes, kBytes);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
