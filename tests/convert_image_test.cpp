// The image conversion call: what the written BMP file holds for every kind of source, checked
// by decoding the file back and against ImageMagick's own decoding of the source.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "convert/BmpWriter.h"
#include "convert/ColourTransform.h"
#include "convert/ConvertCommand.h"
#include "convert/ConvertImage.h"
#include "convert/MagickLibrary.h"
#include "support/ImageFixtures.h"

namespace {

using namespace vimo::test;
namespace fs = std::filesystem;

int Convert(const fs::path& source, const fs::path& destination, int colours = 0) {
  return ConvertImage(source.c_str(), destination.c_str(), colours);
}

std::vector<Rgb> ColoursOf(const GifFrame& frame) {
  std::vector<Rgb> colours;
  for (const std::uint8_t index : frame.indexes) colours.push_back(frame.palette[index]);
  return colours;
}

std::set<std::uint32_t> DistinctColours(const std::vector<Rgb>& pixels) {
  std::set<std::uint32_t> distinct;
  for (const Rgb& p : pixels) distinct.insert((p.red << 16) | (p.green << 8) | p.blue);
  return distinct;
}

// Colour JPEG (odd width, so rows need padding), its CMYK twin, a greyscale JPEG.
class ConvertJpeg : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new TempDir;
    RunConvert("-seed 7 -size 97x61 plasma:fractal -quality 90 " + (*s_dir / "colour.jpg").string());
    RunConvert((*s_dir / "colour.jpg").string() + " -colorspace CMYK " + (*s_dir / "cmyk.jpg").string());
    RunConvert("-size 37x29 gradient:black-white -colorspace gray " + (*s_dir / "grey.jpg").string());
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  static TempDir* s_dir;
  TempDir m_out;
};
TempDir* ConvertJpeg::s_dir = nullptr;

TEST_F(ConvertJpeg, ColourJpegIsOneTrueColourImageDecodedWithTheFloatIdct) {
  ASSERT_EQ(Convert(*s_dir / "colour.jpg", m_out / "c.bmp"), 1);
  const auto images = ReadBmpFile(m_out / "c.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].bitsPerPixel, 24);
  EXPECT_EQ(images[0].U32(10), 54u);
  const auto reference = DecodeWithMagick("JPEG:" + (*s_dir / "colour.jpg").string());
  ASSERT_EQ(reference.size(), 1u);
  EXPECT_EQ(images[0].width, 97);
  EXPECT_EQ(images[0].height, 61);
  EXPECT_TRUE(images[0].pixels == reference[0].pixels);
}

TEST_F(ConvertJpeg, EveryColourEncodingGivesImageMagicksPixels) {
  RunConvert((*s_dir / "colour.jpg").string() + " " + (m_out / "source.ppm").string());
  const std::vector<std::pair<const char*, const char*>> encodings = {
      {"4:2:0", ""},
      {"4:4:4", "-sample 1x1"},
      {"4:2:2", "-sample 2x1"},
      {"4:4:0", "-sample 1x2"},
      {"4:1:1", "-sample 4x1"},
      {"restart every row of blocks", "-restart 1"},
      {"restart every block", "-restart 1B"},
      {"progressive", "-progressive"},
      {"arithmetic coding", "-arithmetic"},
      {"RGB, no YCbCr", "-rgb"},
  };
  for (const auto& [name, options] : encodings) {
    SCOPED_TRACE(name);
    const fs::path jpeg = m_out / "encoded.jpg";
    const std::string command = std::string("cjpeg -quality 85 ") + options + " -outfile " + jpeg.string() + " " +
                                (m_out / "source.ppm").string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ASSERT_EQ(Convert(jpeg, m_out / "e.bmp"), 1);
    const auto images = ReadBmpFile(m_out / "e.bmp");
    ASSERT_EQ(images.size(), 1u);
    const auto reference = DecodeWithMagick("JPEG:" + jpeg.string());
    ASSERT_EQ(reference.size(), 1u);
    EXPECT_EQ(images[0].bitsPerPixel, 24);
    EXPECT_TRUE(images[0].pixels == reference[0].pixels);
  }
}

TEST_F(ConvertJpeg, CmykJpegIsTurnedIntoRgb) {
  ASSERT_EQ(Convert(*s_dir / "cmyk.jpg", m_out / "k.bmp"), 1);
  const auto images = ReadBmpFile(m_out / "k.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].bitsPerPixel, 24);
  const auto reference = DecodeWithMagick("JPEG:" + (*s_dir / "cmyk.jpg").string());
  ASSERT_EQ(reference.size(), 1u);
  EXPECT_TRUE(images[0].pixels == reference[0].pixels);
}

// Managed colours are the stored rows through the profile's transform, every row in its place,
// however many row bands the decoder hands on while earlier ones are transformed and written.
TEST_F(ConvertJpeg, ManagedRowsAreTheStoredRowsThroughTheTransform) {
  const Bytes adobe = ReadFile("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  ASSERT_FALSE(adobe.empty());
  const auto transform = vimo::convert::CColourTransform::Create(adobe, vimo::convert::CColourTransform::Pixels::kBgr, {});
  ASSERT_NE(transform, nullptr);
  const struct {
    const char* size;
  } cases[] = {{"97x7"}, {"97x250"}};  // within one band; many more bands than are held at once
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const fs::path plain = m_out / "plain.jpg";
    const fs::path tagged = m_out / "tagged.jpg";
    RunConvert("-seed 3 -size " + std::string(c.size) + " plasma:fractal -quality 90 " + plain.string());
    WriteFile(tagged, WithIccProfile(ReadFile(plain), adobe));
    ASSERT_EQ(Convert(plain, m_out / "stored.bmp"), 1);
    SetViewingColours(true, std::vector<std::uint8_t>{});
    const int managed = ConvertForViewing(tagged.c_str(), (m_out / "managed.bmp").c_str(), 0);
    SetViewingColours(false, std::vector<std::uint8_t>{});
    ASSERT_EQ(managed, 1);
    const std::vector<BmpImage> stored = ReadBmpFile(m_out / "stored.bmp");
    Bytes rows;
    for (const Rgb& p : stored.at(0).pixels) rows.insert(rows.end(), {p.blue, p.green, p.red});
    transform->Rows(rows.data(), rows.size(), rows.data(), rows.size(), rows.size() / 3, 1);
    std::vector<Rgb> expected;
    for (std::size_t i = 0; i < rows.size(); i += 3) expected.push_back({rows[i + 2], rows[i + 1], rows[i]});
    EXPECT_TRUE(ReadBmpFile(m_out / "managed.bmp").at(0).pixels == expected);
  }
}

TEST_F(ConvertJpeg, GreyscaleJpegIsColourMappedWithOnlyTheLevelsInUse) {
  ASSERT_EQ(Convert(*s_dir / "grey.jpg", m_out / "g.bmp"), 1);
  const auto images = ReadBmpFile(m_out / "g.bmp");
  ASSERT_EQ(images.size(), 1u);
  const BmpImage& image = images[0];
  EXPECT_EQ(image.bitsPerPixel, 8);
  EXPECT_EQ(image.U32(10), 1078u);
  const auto reference = DecodeWithMagick("JPEG:" + (*s_dir / "grey.jpg").string());
  ASSERT_EQ(reference.size(), 1u);
  EXPECT_TRUE(image.pixels == reference[0].pixels);
  const std::size_t levels = DistinctColours(reference[0].pixels).size();
  std::set<std::uint8_t> usedIndexes(image.indexes.begin(), image.indexes.end());
  EXPECT_EQ(usedIndexes.size(), levels);
  EXPECT_EQ(*usedIndexes.rbegin(), levels - 1) << "the used levels come first in the table";
  for (std::size_t i = levels; i < 256; ++i) EXPECT_EQ(image.colourTable[i], Rgb{}) << "entry " << i;
}

TEST_F(ConvertJpeg, ColoursSixteenReducesATrueColourJpegToEightBits) {
  ASSERT_EQ(Convert(*s_dir / "colour.jpg", m_out / "c16.bmp", 16), 1);
  const auto images = ReadBmpFile(m_out / "c16.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].bitsPerPixel, 8);
  const std::set<std::uint8_t> used(images[0].indexes.begin(), images[0].indexes.end());
  EXPECT_LE(used.size(), 16u);
  EXPECT_GT(used.size(), 4u);
  EXPECT_LE(DistinctColours(images[0].pixels).size(), 16u);
}

TEST_F(ConvertJpeg, ExistingDestinationIsOverwritten) {
  WriteFile(m_out / "c.bmp", Bytes(100000, 0xAB));
  ASSERT_EQ(Convert(*s_dir / "grey.jpg", m_out / "c.bmp"), 1);
  const auto images = ReadBmpFile(m_out / "c.bmp");  // fails on trailing old bytes
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(fs::file_size(m_out / "c.bmp"), images[0].bytes.size());

  // A colour JPEG named .bmp converted onto itself: read whole before it is overwritten.
  fs::copy_file(*s_dir / "colour.jpg", m_out / "self.bmp");
  ASSERT_EQ(Convert(m_out / "self.bmp", m_out / "self.bmp"), 1);
  const auto self = ReadBmpFile(m_out / "self.bmp");
  ASSERT_EQ(self.size(), 1u);
  EXPECT_TRUE(self[0].pixels == DecodeWithMagick("JPEG:" + (*s_dir / "colour.jpg").string()).at(0).pixels);
}

TEST_F(ConvertJpeg, ContentDecidesTheReaderWhateverTheName) {
  fs::copy_file(*s_dir / "colour.jpg", m_out / "photo.jpe");
  EXPECT_EQ(Convert(m_out / "photo.jpe", m_out / "a.bmp"), 1);
  fs::copy_file(*s_dir / "colour.jpg", m_out / "photo.gif");
  EXPECT_EQ(Convert(m_out / "photo.gif", m_out / "b.bmp"), 1);
  WriteFile(m_out / "anim.jpg", MakeGif({FlatFrame(5, 4, {9, 8, 7})}));
  ASSERT_EQ(Convert(m_out / "anim.jpg", m_out / "c.bmp"), 1);
  EXPECT_EQ(ReadBmpFile(m_out / "c.bmp").at(0).pixels.at(0), (Rgb{9, 8, 7}));
}

TEST_F(ConvertJpeg, DestinationWithoutABmpNameWritesNothingButSucceeds) {
  EXPECT_EQ(Convert(*s_dir / "colour.jpg", m_out / "c.txt"), 1);
  EXPECT_FALSE(fs::exists(m_out / "c.txt"));
}

TEST_F(ConvertJpeg, JpegDataEndingEarlyStillGivesTheWholeImage) {
  Bytes jpeg = ReadFile(*s_dir / "colour.jpg");
  jpeg.resize(jpeg.size() / 2);
  WriteFile(m_out / "half.jpg", jpeg);
  ASSERT_EQ(Convert(m_out / "half.jpg", m_out / "h.bmp"), 1);
  const auto images = ReadBmpFile(m_out / "h.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].width, 97);
  EXPECT_EQ(images[0].height, 61);

  jpeg.resize(100);  // inside the header: the decoder cannot start
  WriteFile(m_out / "head.jpg", jpeg);
  EXPECT_EQ(Convert(m_out / "head.jpg", m_out / "none.bmp"), 0);
  EXPECT_FALSE(fs::exists(m_out / "none.bmp"));
}

TEST_F(ConvertJpeg, FatalDecoderErrorGivesNoImageOnEitherPath) {
  // A DC Huffman table with a symbol above 15: the decoder stops at the first row.
  for (const char* name : {"grey.jpg", "colour.jpg"}) {
    SCOPED_TRACE(name);
    Bytes jpeg = ReadFile(*s_dir / name);
    const std::uint8_t marker[] = {0xFF, 0xC4};
    const auto table = std::search(jpeg.begin(), jpeg.end(), std::begin(marker), std::end(marker));
    ASSERT_NE(table, jpeg.end());
    ASSERT_EQ(table[4], 0x00) << "the first table is DC table 0";
    table[4 + 1 + 16] = 0xA8;  // its first symbol
    WriteFile(m_out / "bogus.jpg", jpeg);
    EXPECT_EQ(Convert(m_out / "bogus.jpg", m_out / "b.bmp"), 0);
    EXPECT_FALSE(fs::exists(m_out / "b.bmp"));
  }
}

TEST_F(ConvertJpeg, ConvertsOnAThreadOtherThanTheOneThatStartedTheProgram) {
  int result = -1;
  std::thread worker([&] { result = Convert(*s_dir / "grey.jpg", m_out / "w.bmp"); });
  worker.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadBmpFile(m_out / "w.bmp").size(), 1u);
}

TEST_F(ConvertJpeg, CommandLineExitCodes) {
  const std::string source = (*s_dir / "colour.jpg").string();
  const std::string destination = (m_out / "cli.bmp").string();
  const std::string missing = (m_out / "missing.jpg").string();
  struct Case {
    std::vector<std::string> words;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {{source, destination}, 0},
      {{source, destination, "--colors", "16"}, 0},
      {{missing, destination}, 1},
      {{}, 2},
      {{source}, 2},
      {{source, destination, "--colors"}, 2},
      {{source, destination, "--colors", "many"}, 2},
      {{source, destination, "--colors", "0"}, 2},
      {{source, destination, "--colours", "16"}, 2},
      {{source, destination, "extra"}, 2},
  };
  for (const Case& c : cases) {
    std::string errors;
    EXPECT_EQ(RunConvertCommand(c.words, errors), c.exitCode) << ::testing::PrintToString(c.words);
    const bool showsUsage = errors.find("usage: vimo --convert SRC DST [--colors N]") != std::string::npos;
    EXPECT_EQ(showsUsage, c.exitCode == 2) << errors;
  }
  const auto images = ReadBmpFile(destination);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].bitsPerPixel, 8) << "--colors 16 was the last successful run";
}

// A conversion that cannot write its whole file fails and leaves its destination as it was (the
// worker then reports the source); the command line says why.
TEST_F(ConvertJpeg, WritesThatFailLeaveNoFileAndKeepTheCommandLinesDestination) {
  WriteFile(m_out / "noise.gif", MakeGif({NoiseFrame(60, 40, 1)}));
  RunConvert("-size 96x64 gradient:red-blue -resize 768x512! " + (m_out / "photo.pcd").string());
  WriteFile(m_out / "huge.jpg", WithJpegSize(ReadFile(*s_dir / "colour.jpg"), 40000, 40000));
  WriteFile(m_out / "cut.jpg", WithJpegSize(ReadFile(*s_dir / "colour.jpg"), 30000, 30000));
  struct Case {
    const char* name;
    fs::path source;
    std::uint64_t fileSizeLimit;  // 0: none
    ConvertStatus status;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"colour JPEG, streamed", *s_dir / "colour.jpg", 1024, ConvertStatus::kWriteFailed, "cannot write"},
      {"CMYK JPEG, through the library", *s_dir / "cmyk.jpg", 1024, ConvertStatus::kWriteFailed, "cannot write"},
      {"GIF", m_out / "noise.gif", 1024, ConvertStatus::kWriteFailed, "cannot write"},
      {"Photo CD", m_out / "photo.pcd", 1024, ConvertStatus::kWriteFailed, "cannot write"},
      {"colour JPEG of 40000 x 40000", m_out / "huge.jpg", 0, ConvertStatus::kTooLarge, "too large for a BMP"},
      {"colour JPEG far too short for its 30000 x 30000", m_out / "cut.jpg", 0, ConvertStatus::kCutShort, "cut short"},
  };
  const Bytes kept(10, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(m_out / "fresh.bmp", {});  // as the worker's fresh file
    WriteFile(m_out / "kept.bmp", kept);
    const auto entries = std::distance(fs::directory_iterator(m_out.Path()), {});
    std::string errors;
    ConvertOutcome outcome;
    int exitCode = 0;
    {
      std::optional<FileSizeLimit> limit;
      if (c.fileSizeLimit != 0) limit.emplace(c.fileSizeLimit);
      outcome = ConvertImageEx(c.source.c_str(), (m_out / "fresh.bmp").c_str(), 0);
      exitCode = RunConvertCommand({c.source.string(), (m_out / "kept.bmp").string()}, errors);
    }
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(ReadFile(m_out / "fresh.bmp"), Bytes{});
    EXPECT_EQ(exitCode, 1);
    EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
    EXPECT_EQ(ReadFile(m_out / "kept.bmp"), kept);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_out.Path()), {}), entries) << "nothing left beside them";
  }
}

// An existing destination is replaced by a file written beside it, under a shorter fresh name
// where its own is too long for one; where none can be made, it is not written at all.
TEST_F(ConvertJpeg, CommandLineWritesBesideAnExistingDestinationOrNotAtAll) {
  const ScopedTmpfs full(m_out / "full", "size=1m,nr_inodes=2");  // room for one file only
  const fs::path longName = m_out / (std::string(NAME_MAX - 4, 'n') + ".bmp");
  const struct {
    fs::path destination;
    std::uint64_t fileSizeLimit;  // 0: none
    int exitCode;
    const char* reason;
  } cases[] = {
      {longName, 0, 0, ""}, {longName, 1024, 1, "cannot write"}, {m_out / "full" / "kept.bmp", 0, 1, "left as it was"}};
  const Bytes kept(10, 7);
  for (const auto& c : cases) {
    if (c.destination.parent_path() != m_out.Path() && !full.Mounted()) continue;  // needs root, as on CI
    WriteFile(c.destination, kept);
    const auto entries = std::distance(fs::directory_iterator(c.destination.parent_path()), {});
    std::string errors;
    std::optional<FileSizeLimit> limit;
    if (c.fileSizeLimit != 0) limit.emplace(c.fileSizeLimit);
    EXPECT_EQ(RunConvertCommand({(*s_dir / "colour.jpg").string(), c.destination.string()}, errors), c.exitCode) << errors;
    limit.reset();
    EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
    EXPECT_TRUE(c.exitCode == 0 ? ReadBmpFile(c.destination).size() == 1 : ReadFile(c.destination) == kept);
    EXPECT_EQ(std::distance(fs::directory_iterator(c.destination.parent_path()), {}), entries) << "nothing left beside it";
    fs::remove(c.destination);
  }
}

// A destination that is a symlink: the file it names is replaced as an existing destination is,
// and the link stays; a conversion that cannot finish (a file-size limit met by the command in a
// process of its own, as a shell's `ulimit -f` starts it) leaves both as they were and says why.
TEST_F(ConvertJpeg, CommandLineOntoASymlinkReplacesItsFileOrLeavesBoth) {
  const struct {
    bool targetExists;
    rlim_t fileSizeLimit;  // 0: none
  } cases[] = {{true, 0}, {true, 1024}, {false, 0}, {false, 1024}};
  const Bytes kept(10, 7);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.targetExists ? "link to a file" : "link to nothing") + (c.fileSizeLimit != 0 ? ", limited" : ""));
    const TempDir dir;
    if (c.targetExists) WriteFile(dir / "keep.bmp", kept);
    fs::create_symlink("keep.bmp", dir / "link.bmp");
    std::string source = (*s_dir / "colour.jpg").string(), link = (dir / "link.bmp").string();
    const pid_t child = fork();
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_DFL);
      const rlimit limit{c.fileSizeLimit, c.fileSizeLimit};
      if (c.fileSizeLimit != 0) setrlimit(RLIMIT_FSIZE, &limit);
      char* argv[] = {source.data(), link.data(), nullptr};
      _exit(ConvertCommandMain(2, argv));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const int exitCode = c.fileSizeLimit == 0 ? 0 : 1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == exitCode) << "status " << status;
    EXPECT_TRUE(fs::is_symlink(dir / "link.bmp"));
    if (exitCode == 0) EXPECT_EQ(ReadBmpFile(dir / "keep.bmp").size(), 1u);
    else EXPECT_TRUE(c.targetExists ? ReadFile(dir / "keep.bmp") == kept : !fs::exists(dir / "keep.bmp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), c.targetExists || exitCode == 0 ? 2 : 1) << "nothing beside them";
  }
}

// On a small file system of its own (root mounts it, as on CI): a BMP larger than its room is
// refused before writing.
TEST_F(ConvertJpeg, BmpLargerThanTheFreeSpaceIsRefusedAtOnce) {
  const fs::path small = m_out / "small";
  const ScopedTmpfs mounted(small, "size=1m");
  if (!mounted.Mounted()) GTEST_SKIP() << "mounting a file system needs root";
  WriteFile(m_out / "big.jpg", WithJpegSize(ReadFile(*s_dir / "colour.jpg"), 800, 600));
  const ConvertOutcome outcome = ConvertImageEx((m_out / "big.jpg").c_str(), (small / "out.bmp").c_str(), 0);
  const bool left = fs::exists(small / "out.bmp");
  EXPECT_EQ(outcome.status, ConvertStatus::kNoSpace);
  EXPECT_EQ(outcome.bytes, 54u + 2400 * 600);
  EXPECT_FALSE(left);
}

struct HeaderField {
  std::size_t offset;
  int size;
  std::uint32_t expected;
};

void ExpectHeader(const BmpImage& image, const std::vector<HeaderField>& fields) {
  for (const HeaderField& field : fields) {
    const std::uint32_t value = field.size == 2 ? image.U16(field.offset) : image.U32(field.offset);
    EXPECT_EQ(value, field.expected) << "field at offset " << field.offset;
  }
}

TEST_F(ConvertJpeg, EveryHeaderFieldOfATrueColourImage) {
  ASSERT_EQ(Convert(*s_dir / "colour.jpg", m_out / "c.bmp"), 1);
  const auto images = ReadBmpFile(m_out / "c.bmp");
  ASSERT_EQ(images.size(), 1u);
  const std::uint32_t stride = (97 * 24 + 31) / 32 * 4;  // 292: 291 bytes of pixels, one of padding
  ExpectHeader(images[0], {{0, 2, 0x4D42},
                           {2, 4, 54 + stride * 61},
                           {6, 2, 0},
                           {8, 2, 0},
                           {10, 4, 54},
                           {14, 4, 40},
                           {18, 4, 97},
                           {22, 4, 61},
                           {26, 2, 1},
                           {28, 2, 24},
                           {30, 4, 0},
                           {34, 4, stride * 61},
                           {38, 4, 2925},
                           {42, 4, 2925},
                           {46, 4, 0},
                           {50, 4, 0}});
}

// ---- GIF -------------------------------------------------------------------------------------

class ConvertGif : public ::testing::Test {
 protected:
  // Writes the GIF, converts it and reads the result back.
  std::vector<BmpImage> Run(const Bytes& gif, const std::string& name = "in.gif") {
    WriteFile(m_dir / name, gif);
    m_result = Convert(m_dir / name, m_dir / "out.bmp");
    if (m_result == 0) return {};
    return ReadBmpFile(m_dir / "out.bmp");
  }
  TempDir m_dir;
  int m_result = -1;
};

TEST_F(ConvertGif, EveryHeaderFieldOfEightBitImagesPlainAndRunLength) {
  struct Case {
    const char* name;
    GifFrame frame;
    std::uint32_t compression;
    std::uint32_t pixelDataSize;
  };
  const std::vector<Case> cases = {
      // 33 x 7 noise: rows padded to 36 bytes.
      {"noise", NoiseFrame(33, 7, 1), 0, 36 * 7},
      // 33 x 7 of one colour: per row one run of 33 and 0 0, then 0 1.
      {"flat", FlatFrame(33, 7, {200, 100, 50}), 1, 7 * 4 + 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto images = Run(MakeGif({c.frame}));
    ASSERT_EQ(images.size(), 1u);
    ExpectHeader(images[0], {{0, 2, 0x4D42},
                             {2, 4, 1078 + c.pixelDataSize},
                             {6, 2, 0},
                             {8, 2, 0},
                             {10, 4, 1078},
                             {14, 4, 40},
                             {18, 4, 33},
                             {22, 4, 7},
                             {26, 2, 1},
                             {28, 2, 8},
                             {30, 4, c.compression},
                             {34, 4, c.pixelDataSize},
                             {38, 4, 2925},
                             {42, 4, 2925},
                             {46, 4, 256},
                             {50, 4, 256}});
    EXPECT_EQ(images[0].rleError, "");
    EXPECT_TRUE(images[0].pixels == ColoursOf(c.frame));
  }
}

TEST_F(ConvertGif, ColourTableHoldsOnlyTheUsedEntriesInMapOrderAndZerosAfter) {
  GifFrame frame;
  frame.width = 4;
  frame.height = 2;
  frame.palette = {{1, 1, 1}, {10, 20, 30}, {2, 2, 2}, {40, 50, 60}, {3, 3, 3}, {70, 80, 90}, {4, 4, 4}, {5, 5, 5}};
  frame.indexes = {5, 1, 3, 1, 3, 5, 1, 1};
  const auto images = Run(MakeGif({frame}));
  ASSERT_EQ(images.size(), 1u);
  const BmpImage& image = images[0];
  EXPECT_EQ(image.colourTable[0], (Rgb{10, 20, 30}));
  EXPECT_EQ(image.colourTable[1], (Rgb{40, 50, 60}));
  EXPECT_EQ(image.colourTable[2], (Rgb{70, 80, 90}));
  for (std::size_t at = 54 + 3 * 4; at < 1078; ++at) EXPECT_EQ(image.bytes[at], 0) << "byte " << at;
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(image.bytes[54 + 4 * i + 3], 0) << "reserved byte of entry " << i;
  EXPECT_TRUE(image.pixels == ColoursOf(frame));
}

TEST_F(ConvertGif, FlatAndNoiseFramesMatchImageMagicksDecoding) {
  for (const GifFrame& frame : {FlatFrame(50, 40, {12, 34, 56}), NoiseFrame(50, 40, 9)}) {
    const auto images = Run(MakeGif({frame}));
    ASSERT_EQ(images.size(), 1u);
    const auto reference = DecodeWithMagick("GIF:" + (m_dir / "in.gif").string());
    ASSERT_EQ(reference.size(), 1u);
    EXPECT_TRUE(images[0].pixels == reference[0].pixels);
  }
}

TEST_F(ConvertGif, GifsWrittenByImageMagickMatchItsDecoding) {
  // Real encoders' LZW: growing code widths, full tables, runs that reuse the newest entry.
  struct Case {
    const char* name;
    const char* arguments;
  };
  const std::vector<Case> cases = {
      {"photo, 256 colours", "rose: -resize 300x200!"},
      {"interlaced", "rose: -interlace GIF"},
      {"large flat areas", "-size 300x300 xc:navy -fill gold -draw \"circle 150,150 150,40\""},
      {"two frames", "-seed 5 -size 120x80 plasma:fractal -seed 6 -size 60x90 plasma:fractal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path gif = m_dir / "im.gif";
    RunConvert(std::string(c.arguments) + " " + gif.string());
    ASSERT_EQ(Convert(gif, m_dir / "out.bmp"), 1);
    const auto images = ReadBmpFile(m_dir / "out.bmp");
    const auto reference = DecodeWithMagick("GIF:" + gif.string());
    ASSERT_EQ(images.size(), reference.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
      EXPECT_EQ(images[i].width, reference[i].width);
      EXPECT_TRUE(images[i].pixels == reference[i].pixels) << "frame " << i;
    }
  }
}

TEST_F(ConvertGif, AnimatedGifGivesOneCompleteImagePerFrameAtItsOwnSize) {
  GifFrame second = NoiseFrame(7, 3, 2);
  second.interlaced = true;
  const std::vector<GifFrame> frames = {FlatFrame(20, 10, {255, 0, 0}), second, FlatFrame(3, 30, {0, 0, 255})};
  const auto images = Run(MakeGif(frames));
  ASSERT_EQ(images.size(), 3u);
  const auto reference = DecodeWithMagick("GIF:" + (m_dir / "in.gif").string());
  ASSERT_EQ(reference.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(images[i].width, frames[i].width);
    EXPECT_EQ(images[i].height, frames[i].height);
    EXPECT_EQ(images[i].bytes[0], 'B');
    EXPECT_TRUE(images[i].pixels == ColoursOf(frames[i]));
    EXPECT_TRUE(images[i].pixels == reference[i].pixels);
  }
}

TEST_F(ConvertGif, InterlacedFrameIsPutInRowOrder) {
  GifFrame frame = NoiseFrame(9, 19, 4);
  frame.interlaced = true;
  const auto images = Run(MakeGif({frame}));
  ASSERT_EQ(images.size(), 1u);
  EXPECT_TRUE(images[0].pixels == ColoursOf(frame));
}

TEST_F(ConvertGif, TransparentFrameIsWrittenTrueColourKeepingItsColours) {
  GifFrame frame = FlatFrame(6, 5, {10, 20, 30});
  frame.indexes[7] = 1;  // the transparent entry, {1, 2, 3}
  frame.transparentIndex = 1;
  const auto images = Run(MakeGif({frame, FlatFrame(2, 2, {5, 5, 5})}));
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].bitsPerPixel, 24);
  EXPECT_TRUE(images[0].pixels == ColoursOf(frame));
  EXPECT_EQ(images[1].bitsPerPixel, 8) << "the extension governs only the next frame";
}

TEST_F(ConvertGif, ColoursReduceATransparentFrameToEightBits) {
  GifFrame frame = NoiseFrame(20, 20, 8);
  frame.transparentIndex = 3;
  WriteFile(m_dir / "in.gif", MakeGif({frame}));
  ASSERT_EQ(Convert(m_dir / "in.gif", m_dir / "out.bmp", 16), 1);
  const auto images = ReadBmpFile(m_dir / "out.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].bitsPerPixel, 8);
  EXPECT_LE(DistinctColours(images[0].pixels).size(), 16u);
}

TEST_F(ConvertGif, InvalidCodeFillsTheRestOfTheFrameWithEntryZeroAndStopsReading) {
  GifFrame broken = NoiseFrame(30, 10, 5);
  broken.invalidCodeAfter = 100;
  const auto images = Run(MakeGif({FlatFrame(4, 4, {1, 2, 3}), broken, FlatFrame(4, 4, {4, 5, 6})}));
  EXPECT_EQ(m_result, 1);
  ASSERT_EQ(images.size(), 2u);
  const std::vector<Rgb> expected = ColoursOf(broken);
  ASSERT_EQ(images[1].pixels.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(images[1].pixels[i], i < 100 ? expected[i] : broken.palette[0]) << "pixel " << i;
  }
}

TEST_F(ConvertGif, DataEndingEarlyKeepsTheFramesReadSoFar) {
  const GifFrame frame = NoiseFrame(40, 40, 6);
  Bytes gif = MakeGif({FlatFrame(4, 4, {1, 2, 3}), frame});
  gif.resize(gif.size() - 900);  // within the second frame's data
  const auto images = Run(gif);
  EXPECT_EQ(m_result, 1);
  ASSERT_EQ(images.size(), 2u);
  const std::vector<Rgb> expected = ColoursOf(frame);
  ASSERT_EQ(images[1].pixels.size(), expected.size());
  std::size_t decoded = 0;
  while (decoded < expected.size() && images[1].pixels[decoded] == expected[decoded]) ++decoded;
  EXPECT_GT(decoded, 300u);
  EXPECT_LT(decoded, expected.size() - 700);
  for (std::size_t i = decoded + 8; i < expected.size(); ++i) ASSERT_EQ(images[1].pixels[i], frame.palette[0]) << i;
}

TEST_F(ConvertGif, FrameCutAfterItsDescriptorIsAllEntryZero) {
  // MakeGif's layout: 13 bytes of header and screen, then per frame a 10-byte descriptor, its
  // colour map and the LZW code size. The flat frames' maps hold two entries.
  const std::size_t firstCodeSize = 13 + 10 + 2 * 3;
  const Bytes one = MakeGif({FlatFrame(6, 3, {10, 20, 30})});
  const Bytes two = MakeGif({FlatFrame(4, 4, {1, 2, 3}), FlatFrame(5, 2, {40, 50, 60})});
  const std::size_t secondCodeSize = MakeGif({FlatFrame(4, 4, {1, 2, 3})}).size() - 1 + 10 + 2 * 3;
  struct Case {
    const char* name;
    Bytes bytes;
    std::size_t frames;
  };
  const std::vector<Case> cases = {
      {"one frame, cut before the code size", Bytes(one.begin(), one.begin() + firstCodeSize), 1},
      {"one frame, cut after the code size", Bytes(one.begin(), one.begin() + firstCodeSize + 1), 1},
      {"second frame, cut before the code size", Bytes(two.begin(), two.begin() + secondCodeSize), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto images = Run(c.bytes);
    EXPECT_EQ(m_result, 1);
    ASSERT_EQ(images.size(), c.frames);
    const BmpImage& last = images.back();
    EXPECT_EQ(last.width, c.frames == 1 ? 6 : 5);
    const Rgb entryZero = c.frames == 1 ? Rgb{10, 20, 30} : Rgb{40, 50, 60};
    EXPECT_TRUE(last.pixels == std::vector<Rgb>(last.pixels.size(), entryZero));
  }
  // Cut within the descriptor or its colour map, the frame is not there: no image.
  for (const std::size_t cut : {firstCodeSize - 1, std::size_t{13 + 5}}) {
    Run(Bytes(one.begin(), one.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_EQ(m_result, 0) << cut;
  }
}

TEST_F(ConvertGif, FilesThatAreNoReadableGifGiveNoImageAndNoFile) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes header = MakeGif({});
  Bytes badVersion = MakeGif({FlatFrame(2, 2, {1, 1, 1})});
  badVersion[4] = '5';  // "GIF85a"
  const std::vector<Case> cases = {{"no image", header}, {"GIF85a", badVersion}, {"cut in the header", Bytes(header.begin(), header.begin() + 8)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Run(c.bytes);
    EXPECT_EQ(m_result, 0);
    EXPECT_FALSE(fs::exists(m_dir / "out.bmp"));
  }
}

// What browsers show is converted, within a few rows of memory, past the image library's size
// policy; what no decoder reads is refused with the reason, never written black.
TEST_F(ConvertGif, EveryGifABrowserShowsIsConvertedAndTheRestRefusedWithItsReason) {
  const auto withCodeSize = [](GifFrame frame, int codeSize) {
    frame.codeSize = codeSize;
    return frame;
  };
  struct Case {
    const char* name;
    std::vector<GifFrame> frames;
    int exitCode;
    std::size_t images;  // the frames written, their pixels the GIF's
    const char* message;
  };
  const std::vector<Case> cases = {
      {"minimum code size 11", {withCodeSize(NoiseFrame(40, 30, 3), 11)}, 0, 1, ""},
      {"65535 x 1", {FlatFrame(65535, 1, {9, 99, 199})}, 0, 1, ""},
      {"1 x 65535", {NoiseFrame(1, 65535, 4)}, 0, 1, ""},
      {"minimum code size 12", {withCodeSize(NoiseFrame(4, 4, 5), 12)}, 1, 0, "LZW minimum code size of 12;"},
      {"a frame of code size 0 after a good one", {FlatFrame(3, 3, {1, 2, 3}), withCodeSize(FlatFrame(3, 3, {4, 5, 6}), 0)}, 0, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(m_dir / "in.gif", MakeGif(c.frames));
    std::string errors;
    EXPECT_EQ(RunConvertCommand({(m_dir / "in.gif").string(), (m_dir / "out.bmp").string()}, errors), c.exitCode);
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
    if (c.images == 0) {
      EXPECT_FALSE(fs::exists(m_dir / "out.bmp"));
      continue;
    }
    const auto images = ReadBmpFile(m_dir / "out.bmp");
    ASSERT_EQ(images.size(), c.images);
    for (std::size_t i = 0; i < images.size(); ++i) EXPECT_TRUE(images[i].pixels == ColoursOf(c.frames[i])) << i;
    fs::remove(m_dir / "out.bmp");
  }
}

TEST_F(ConvertGif, ColoursLeavesAColourMappedImageWithFewerColoursAlone) {
  GifFrame frame = NoiseFrame(16, 16, 3);
  for (auto& index : frame.indexes) index &= 3;
  WriteFile(m_dir / "in.gif", MakeGif({frame}));
  ASSERT_EQ(Convert(m_dir / "in.gif", m_dir / "out.bmp", 16), 1);
  const auto images = ReadBmpFile(m_dir / "out.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_TRUE(images[0].pixels == ColoursOf(frame));
}

// ---- other sources and failures --------------------------------------------------------------

TEST(ConvertImage, PngNamedGifMissingFileBmpUnsignedFilesAndFifosGiveNoImage) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);  // no writer: an open that waits would hang
  RunConvert("rose: " + (dir / "rose.png").string());
  fs::copy_file(dir / "rose.png", dir / "rose.gif");
  RunConvert("rose: " + (dir / "rose.bmp").string());
  const Bytes text(5000, 'x');
  for (const char* name : {"text.jpg", "text.jpeg", "text.pcd", "text.gif"}) WriteFile(dir / name, text);
  for (const char* source : {"rose.gif", "missing.jpg", "rose.bmp", "text.jpg", "text.jpeg", "text.pcd", "text.gif", "fifo.jpg"}) {
    SCOPED_TRACE(source);
    EXPECT_EQ(Convert(dir / source, dir / "out.bmp"), 0);
    EXPECT_FALSE(fs::exists(dir / "out.bmp"));
  }
}

TEST(ConvertImage, ColoursReduceInSrgbSoFewColoursStayPut) {
  // Two flat halves of mid-tones: quantizing in linear light would move them.
  TempDir dir;
  RunConvert("-size 40x20 xc:#406080 xc:#C08040 +append -quality 100 " + (dir / "two.jpg").string());
  ASSERT_EQ(Convert(dir / "two.jpg", dir / "out.bmp", 16), 1);
  const auto images = ReadBmpFile(dir / "out.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].bitsPerPixel, 8);
  const Rgb left = images[0].pixels[10 * 80 + 10];
  const Rgb right = images[0].pixels[10 * 80 + 70];
  EXPECT_NEAR(left.red, 0x40, 3);
  EXPECT_NEAR(left.green, 0x60, 3);
  EXPECT_NEAR(left.blue, 0x80, 3);
  EXPECT_NEAR(right.red, 0xC0, 3);
  EXPECT_NEAR(right.green, 0x80, 3);
  EXPECT_NEAR(right.blue, 0x40, 3);
}

TEST(ConvertImage, PhotoCdGivesItsBaseImageInStoredOrientation) {
  TempDir dir;
  RunConvert("-seed 3 -size 96x64 plasma:fractal -resize 768x512! " + (dir / "p.pcd").string());
  ASSERT_EQ(Convert(dir / "p.pcd", dir / "p.bmp"), 1);
  const auto images = ReadBmpFile(dir / "p.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].width, 768);
  EXPECT_EQ(images[0].height, 512);
  EXPECT_EQ(images[0].bitsPerPixel, 24);
  const auto reference = DecodeWithMagick("PCD:" + (dir / "p.pcd").string());
  ASSERT_EQ(reference.size(), 1u);
  EXPECT_TRUE(images[0].pixels == reference[0].pixels);

  // Marked as turned by a quarter: ImageMagick would turn it, the viewer keeps it as stored.
  Bytes turned = ReadFile(dir / "p.pcd");
  turned.at(0x0E02) = static_cast<std::uint8_t>((turned.at(0x0E02) & ~3) | 1);
  WriteFile(dir / "t.pcd", turned);
  ASSERT_EQ(Convert(dir / "t.pcd", dir / "t.bmp"), 1);
  const auto kept = ReadBmpFile(dir / "t.bmp");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].width, 768);
  EXPECT_TRUE(kept[0].pixels == reference[0].pixels);
}

// The Photo CD colour of one YCC sample as ImageMagick converts it.
Rgb PhotoYccToRgb(std::uint8_t luma, std::uint8_t chroma1, std::uint8_t chroma2) {
  using namespace vimo::convert;
  EnsureImageLibrary();
  const ExceptionInfoPtr exception(AcquireExceptionInfo());
  const std::uint8_t sample[3] = {luma, chroma1, chroma2};
  const ImageListPtr image(ConstituteImage(1, 1, "RGB", CharPixel, sample, exception.get()));
  image->colorspace = YCCColorspace;
  (void)TransformImageColorspace(image.get(), sRGBColorspace);
  std::uint8_t rgb[3] = {};
  (void)ExportImagePixels(image.get(), 0, 0, 1, 1, "RGB", CharPixel, rgb, exception.get());
  return {rgb[0], rgb[1], rgb[2]};
}

TEST(ConvertImage, PhotoCdOverviewGivesOneImagePerThumbnail) {
  Bytes file(5 * 0x800, 0);
  const char signature[] = "PCD_OPA";
  std::copy(signature, signature + 7, file.begin());
  file[10] = 0;
  file[11] = 2;
  const std::uint8_t samples[2][3] = {{120, 100, 160}, {200, 150, 120}};
  for (const auto& sample : samples) {
    for (int pair = 0; pair < 64; ++pair) {
      file.insert(file.end(), 2 * 192, sample[0]);
      file.insert(file.end(), 96, sample[1]);
      file.insert(file.end(), 96, sample[2]);
    }
  }
  TempDir dir;
  WriteFile(dir / "overview.pcd", file);
  ASSERT_EQ(Convert(dir / "overview.pcd", dir / "o.bmp"), 1);
  const auto images = ReadBmpFile(dir / "o.bmp");
  ASSERT_EQ(images.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(images[i].width, 192);
    EXPECT_EQ(images[i].height, 128);
    const Rgb expected = PhotoYccToRgb(samples[i][0], samples[i][1], samples[i][2]);
    EXPECT_EQ(DistinctColours(images[i].pixels).size(), 1u);
    EXPECT_EQ(images[i].pixels.front(), expected);
  }
}

// The library's side limits bind its own readers; a colour JPEG (a panorama) and a GIF are
// streamed past them.
TEST(ConvertImage, ImagesBeyondTheLibrarysSideLimitsGiveNoImageButStreamedOnes) {
  using namespace vimo::convert;
  EnsureImageLibrary();
  TempDir dir;
  WriteFile(dir / "wide.gif", MakeGif({FlatFrame(300, 2, {1, 2, 3})}));
  RunConvert("-size 300x2 xc:red " + (dir / "wide.jpg").string());
  const MagickSizeType width = GetMagickResourceLimit(WidthResource);
  ASSERT_EQ(SetMagickResourceLimit(WidthResource, 200), MagickTrue);  // the images are 300 wide
  const int gif = Convert(dir / "wide.gif", dir / "a.bmp");
  const int jpeg = Convert(dir / "wide.jpg", dir / "b.bmp");
  const int reduced = Convert(dir / "wide.jpg", dir / "c.bmp", 4);
  const int reducedGif = Convert(dir / "wide.gif", dir / "d.bmp", 4);
  (void)SetMagickResourceLimit(WidthResource, width);
  EXPECT_EQ(gif, 1);
  EXPECT_EQ(ReadBmpFile(dir / "a.bmp").at(0).width, 300);
  EXPECT_EQ(jpeg, 1);
  EXPECT_EQ(ReadBmpFile(dir / "b.bmp").at(0).width, 300);
  EXPECT_EQ(reduced, 0);
  EXPECT_EQ(reducedGif, 0);
  EXPECT_FALSE(fs::exists(dir / "c.bmp") || fs::exists(dir / "d.bmp"));
}

TEST(ConvertImage, ImagesBeyondTheMemoryAreaAreStillConverted) {
  // Beyond the area limit the library keeps the pixels on disk instead of refusing them.
  using namespace vimo::convert;
  EnsureImageLibrary();
  TempDir dir;
  RunConvert("-seed 2 -size 30x20 plasma:fractal " + (dir / "p.jpg").string());
  const MagickSizeType area = GetMagickResourceLimit(AreaResource);
  ASSERT_EQ(SetMagickResourceLimit(AreaResource, 500), MagickTrue);  // 600 pixels
  const int result = Convert(dir / "p.jpg", dir / "p.bmp");
  (void)SetMagickResourceLimit(AreaResource, area);
  ASSERT_EQ(result, 1);
  const auto images = ReadBmpFile(dir / "p.bmp");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_TRUE(images[0].pixels == DecodeWithMagick("JPEG:" + (dir / "p.jpg").string()).at(0).pixels);
}

// ---- what the image library hands out comes back ------------------------------------------------

// The library's counts of what it has handed out. (Its area figure is the last request, not a count.)
struct LibraryResources {
  MagickSizeType memory = 0;
  MagickSizeType map = 0;
  MagickSizeType disk = 0;
  MagickSizeType files = 0;
  friend bool operator==(const LibraryResources&, const LibraryResources&) = default;
};

LibraryResources CurrentResources() {
  return {GetMagickResource(MemoryResource), GetMagickResource(MapResource), GetMagickResource(DiskResource),
          GetMagickResource(FileResource)};
}

std::size_t CacheFilesIn(const fs::path& folder) {
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) count += entry.path().filename().string().rfind("magick-", 0) == 0;
  return count;
}

// Memory and map limits so low that every image's pixels spill into cache files in the library's
// temporary folder, as a 24-megapixel photograph's do under the default limits.
class LibraryResourcesComeBack : public ::testing::Test {
 protected:
  void SetUp() override {
    vimo::convert::EnsureImageLibrary();
    m_memory = GetMagickResourceLimit(MemoryResource);
    m_map = GetMagickResourceLimit(MapResource);
    (void)SetMagickResourceLimit(MemoryResource, 4 * 1024);
    (void)SetMagickResourceLimit(MapResource, 4 * 1024);
  }
  void TearDown() override {
    (void)SetMagickResourceLimit(MemoryResource, m_memory);
    (void)SetMagickResourceLimit(MapResource, m_map);
  }
  TempDir m_temporary;
  const ScopedEnv m_magickTemporary{"MAGICK_TEMPORARY_PATH", m_temporary.Path().c_str()};
  TempDir m_dir;
  MagickSizeType m_memory = 0;
  MagickSizeType m_map = 0;
};

TEST_F(LibraryResourcesComeBack, EveryReadPathOnSuccessAndFailure) {
  RunConvert("-seed 4 -size 160x120 plasma:fractal -quality 90 " + (m_dir / "colour.jpg").string());
  RunConvert((m_dir / "colour.jpg").string() + " -colorspace CMYK " + (m_dir / "cmyk.jpg").string());
  RunConvert((m_dir / "colour.jpg").string() + " -colorspace gray " + (m_dir / "grey.jpg").string());
  RunConvert((m_dir / "colour.jpg").string() + " -resize 32x24! " + (m_dir / "small.jpg").string());  // quantized from disk
  RunConvert("-seed 3 -size 96x64 plasma:fractal -resize 768x512! " + (m_dir / "photo.pcd").string());
  const Bytes colour = ReadFile(m_dir / "colour.jpg");
  const Bytes cmyk = ReadFile(m_dir / "cmyk.jpg");
  const Bytes photoCd = ReadFile(m_dir / "photo.pcd");
  WriteFile(m_dir / "colour-head.jpg", Bytes(colour.begin(), colour.begin() + 200));
  WriteFile(m_dir / "colour-half.jpg", Bytes(colour.begin(), colour.begin() + static_cast<std::ptrdiff_t>(colour.size() / 2)));
  WriteFile(m_dir / "cmyk-head.jpg", Bytes(cmyk.begin(), cmyk.begin() + 300));
  WriteFile(m_dir / "photo-cut.pcd", Bytes(photoCd.begin(), photoCd.begin() + 3 * 0x800));
  GifFrame broken = NoiseFrame(150, 100, 2);
  broken.invalidCodeAfter = 5000;
  WriteFile(m_dir / "anim.gif", MakeGif({NoiseFrame(150, 100, 1), FlatFrame(120, 90, {1, 2, 3})}));
  WriteFile(m_dir / "broken.gif", MakeGif({broken}));
  WriteFile(m_dir / "empty.gif", MakeGif({}));
  struct Case {
    const char* source;
    int colours;
    int result;
  };
  const std::vector<Case> cases = {
      {"anim.gif", 0, 1},        {"broken.gif", 0, 1},      {"empty.gif", 0, 0},      // GIF reader
      {"photo.pcd", 0, 1},       {"photo-cut.pcd", 0, 0},                             // Photo CD reader
      {"colour.jpg", 0, 1},      {"colour-half.jpg", 0, 1}, {"colour-head.jpg", 0, 0},  // streamed JPEG
      {"cmyk.jpg", 0, 1},        {"grey.jpg", 0, 1},        {"small.jpg", 16, 1},     // library's JPEG reader
      {"cmyk-head.jpg", 0, 0},
  };
  const LibraryResources before = CurrentResources();
  for (const Case& c : cases) {
    for (int round = 1; round <= 2; ++round) {
      SCOPED_TRACE(std::string(c.source) + " colours " + std::to_string(c.colours) + " round " + std::to_string(round));
      EXPECT_EQ(Convert(m_dir / c.source, m_dir / "out.bmp", c.colours), c.result);
      EXPECT_EQ(CacheFilesIn(m_temporary.Path()), 0u);
      const LibraryResources after = CurrentResources();
      EXPECT_TRUE(after == before) << "memory " << after.memory << " map " << after.map << " disk " << after.disk
                                   << " files " << after.files;
    }
  }
}

TEST(ConvertImage, TrueColourJpegWithFewColoursIsWrittenAtEightBitsExactly) {
  TempDir dir;
  // Two flat halves (the 8-bit file is longer than the 24-bit one), and one flat colour over
  // 400 x 300 (run-length encoded, far shorter: the file is cut to its new length).
  const std::vector<std::pair<const char*, std::string>> images = {
      {"two halves", "-size 16x8 xc:#336699 xc:#CC9933 +append"},
      {"one colour", "-size 400x300 xc:#336699"},
  };
  for (const auto& [name, arguments] : images) {
    SCOPED_TRACE(name);
    RunConvert(arguments + " -quality 100 " + (dir / "few.jpg").string());
    ASSERT_EQ(Convert(dir / "few.jpg", dir / "few.bmp"), 1);
    const auto written = ReadBmpFile(dir / "few.bmp");  // fails on bytes after the image
    ASSERT_EQ(written.size(), 1u);
    const auto reference = DecodeWithMagick("JPEG:" + (dir / "few.jpg").string());
    ASSERT_EQ(reference.size(), 1u);
    ASSERT_LE(DistinctColours(reference[0].pixels).size(), 256u);
    EXPECT_EQ(written[0].bitsPerPixel, 8);
    EXPECT_TRUE(written[0].pixels == reference[0].pixels);
  }
}

// ---- the writer's form and run rules ---------------------------------------------------------

class BmpWriterRules : public ::testing::Test {
 protected:
  // Writes a true-colour image of the given pixels (top row first) and reads it back.
  BmpImage WriteTrueColour(int width, int height, const std::vector<Rgb>& pixels) {
    using namespace vimo::convert;
    EnsureImageLibrary();
    const ExceptionInfoPtr exception(AcquireExceptionInfo());
    const ImageListPtr image(ConstituteImage(static_cast<std::size_t>(width), static_cast<std::size_t>(height), "RGB",
                                             CharPixel, pixels.data(), exception.get()));
    EXPECT_TRUE(image != nullptr);
    std::FILE* file = std::fopen((m_dir / "w.bmp").c_str(), "wb");
    EXPECT_EQ(WriteBmpImages(file, image.get(), exception.get()).status, ConvertStatus::kWritten);
    std::fclose(file);
    auto images = ReadBmpFile(m_dir / "w.bmp");
    EXPECT_EQ(images.size(), 1u);
    return images.empty() ? BmpImage{} : images[0];
  }
  static std::vector<Rgb> Grey(const std::vector<int>& levels) {
    std::vector<Rgb> pixels;
    for (const int level : levels) pixels.push_back({static_cast<std::uint8_t>(level), static_cast<std::uint8_t>(level), static_cast<std::uint8_t>(level)});
    return pixels;
  }
  TempDir m_dir;
};

// The streamed JPEG's writer rewrites a few-colour image in place into the 8-bit form, plain or
// run-length, at any width, with nothing of the 24-bit rows left behind.
TEST_F(BmpWriterRules, RowWriterRewritesFewColoursInPlace) {
  struct Case {
    const char* name;
    int width;
    int height;
    int colours;
    int runLength;
    int bitsPerPixel;
    int compression;
  };
  const std::vector<Case> cases = {
      {"noise of 200 colours", 301, 97, 200, 1, 8, 0}, {"bands of 200 colours", 301, 97, 200, 40, 8, 1},
      {"one pixel wide", 1, 50, 3, 1, 8, 0},            {"257 colours", 33, 20, 257, 1, 24, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Rgb> pixels;
    for (int i = 0; i < c.width * c.height; ++i) {
      const int colour = i / c.runLength * 7919 % c.colours;
      pixels.push_back({std::uint8_t(colour), std::uint8_t(colour >> 8), std::uint8_t(colour * 3)});
    }
    vimo::convert::CBmpRowWriter writer;
    ASSERT_EQ(writer.Create((m_dir / "r.bmp").c_str(), c.width, c.height).status, ConvertStatus::kWritten);
    std::vector<std::uint8_t> row(vimo::convert::TrueColourStride(c.width), 0);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        const Rgb& pixel = pixels[y * c.width + x];
        std::copy_n(std::array{pixel.blue, pixel.green, pixel.red}.begin(), 3, row.begin() + 3 * x);
      }
      writer.PutRow(y, row.data());
    }
    ASSERT_EQ(writer.Finish().status, ConvertStatus::kWritten);
    const auto images = ReadBmpFile(m_dir / "r.bmp");  // fails on bytes after the image
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].bitsPerPixel, c.bitsPerPixel);
    EXPECT_EQ(images[0].compression, c.compression);
    EXPECT_EQ(images[0].rleError, "");
    EXPECT_TRUE(images[0].pixels == pixels);
  }
}

TEST_F(BmpWriterRules, TrueColourWithAtMost256ColoursBecomesEightBitsExactly) {
  for (const int colours : {1, 255, 256, 257}) {
    SCOPED_TRACE(colours);
    std::vector<Rgb> pixels;
    for (int i = 0; i < 300; ++i) {
      const int c = i % colours;
      pixels.push_back({static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c * 3), static_cast<std::uint8_t>(c >> 8)});
    }
    const BmpImage image = WriteTrueColour(20, 15, pixels);
    EXPECT_EQ(image.bitsPerPixel, colours <= 256 ? 8 : 24);
    EXPECT_TRUE(image.pixels == pixels) << "no dithering, no colour lost";
  }
}

TEST_F(BmpWriterRules, RunLengthOnlyWhenRunsInReadingOrderAreFewerThanHalfThePixels) {
  struct Case {
    const char* name;
    int width;
    int height;
    std::vector<int> levels;
    int compression;
  };
  std::vector<int> ten = {1, 1, 1, 2, 2, 2, 3, 3, 3, 3};
  const std::vector<Case> cases = {
      {"4 runs of 10 pixels", 10, 1, {1, 1, 2, 2, 2, 3, 3, 4, 4, 4}, 1},
      {"5 runs of 10 pixels", 10, 1, {1, 1, 2, 2, 3, 3, 4, 4, 5, 5}, 0},
      // Two rows of one colour: one run in reading order, though the encoding ends each row.
      {"runs join across rows", 3, 2, {7, 7, 7, 7, 7, 7}, 1},
      {"2 runs of 4 pixels", 2, 2, {7, 7, 8, 8}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BmpImage image = WriteTrueColour(c.width, c.height, Grey(c.levels));
    EXPECT_EQ(image.bitsPerPixel, 8);
    EXPECT_EQ(image.compression, c.compression);
    EXPECT_EQ(image.rleError, "");
    EXPECT_TRUE(image.pixels == Grey(c.levels));
  }
}

TEST_F(BmpWriterRules, LongRunsCountAt256AndEncodeAt255) {
  // 600 pixels of one colour in one row: 3 counted runs (256 + 256 + 88), encoded 255 + 255 + 90.
  const BmpImage image = WriteTrueColour(600, 1, Grey(std::vector<int>(600, 9)));
  ASSERT_EQ(image.compression, 1);
  EXPECT_EQ(image.U32(34), 3u * 2 + 2 + 2);
  const std::size_t data = 1078;
  EXPECT_EQ(image.bytes[data], 255);
  EXPECT_EQ(image.bytes[data + 2], 255);
  EXPECT_EQ(image.bytes[data + 4], 90);
  EXPECT_TRUE(image.pixels == Grey(std::vector<int>(600, 9)));

  // 512 pixels alternating in blocks of 256 and 1: counted runs stay under half the pixels.
  std::vector<int> levels(255, 1);
  levels.push_back(2);
  const BmpImage blocks = WriteTrueColour(256, 1, Grey(levels));
  EXPECT_EQ(blocks.compression, 1);
  EXPECT_EQ(blocks.rleError, "");
  EXPECT_TRUE(blocks.pixels == Grey(levels));
}

}  // namespace
