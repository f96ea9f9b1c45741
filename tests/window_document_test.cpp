// The document: loading converted BMP files, its title as the status line, the Open dialog's
// selection, and what it leaves behind.
#include <gtest/gtest.h>

#include <fstream>

#include "app/Globals.h"
#include "res/Resource.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

void PutU32(Bytes& bytes, size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}
void PutU16(Bytes& bytes, size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// A file of size bytes: a 14-byte file header and a 40-byte info header, the rest zero.
Bytes MakeHeaderFile(size_t size, int width, int height, int bitCount, std::uint32_t clrUsed, std::uint32_t compression = 0) {
  Bytes bytes(size, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutU32(bytes, 2, static_cast<std::uint32_t>(size));
  PutU32(bytes, 14, 40);
  PutU32(bytes, 18, static_cast<std::uint32_t>(width));
  PutU32(bytes, 22, static_cast<std::uint32_t>(height));
  PutU16(bytes, 26, 1);
  PutU16(bytes, 28, static_cast<std::uint16_t>(bitCount));
  PutU32(bytes, 30, compression);
  PutU32(bytes, 46, clrUsed);
  return bytes;
}

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_session.Start());
    m_pDoc = m_session.Doc();
    ASSERT_NE(m_pDoc, nullptr);
  }
  // The file dialogs leave the process in the chosen folder, as on Windows.
  void TearDown() override { std::filesystem::current_path(m_cwd); }
  const std::filesystem::path m_cwd = std::filesystem::current_path();
  TempDir m_dir;
  ViewerSession m_session;
  CVimoDoc* m_pDoc = nullptr;
};

TEST_F(DocumentTest, LoadFailuresShowOnlyInTheTitleAndKeepTheShownImage) {
  const auto good = m_dir / "good.jpg.bmp";
  WriteFile(good, MakeBmp24(20, 10, Pattern(20, 10, 1)));
  m_pDoc->LoadDib(good.c_str());
  ASSERT_EQ(m_pDoc->GetTitle(), "good.jpg");
  const BYTE* pShown = m_pDoc->m_pDib.get();

  const auto missing = m_dir / "missing.jpg.bmp";
  const auto small = m_dir / "small.bmp.bmp";
  WriteFile(small, Bytes(199, 0));
  struct Case {
    std::filesystem::path path;
    std::string title;
  } cases[] = {
      {missing, "stat error " + missing.string()},
      {small, "Invalid File Size"},
  };
  for (const Case& c : cases) {
    m_pDoc->LoadDib(c.path.c_str());
    EXPECT_EQ(m_pDoc->GetTitle(), c.title.c_str());
    EXPECT_EQ(m_session.Frame()->GetWindowText(), (c.title + " - Vimo").c_str());
    EXPECT_EQ(m_pDoc->m_pDib.get(), pShown) << "the shown image stays";
  }
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(DocumentTest, TwoHundredBytesIsTheSmallestFileAccepted) {
  const auto file = m_dir / "tiny.gif.bmp";
  WriteFile(file, MakeHeaderFile(200, 2, 2, 24, 0));
  m_pDoc->LoadDib(file.c_str());
  EXPECT_EQ(m_pDoc->GetTitle(), "tiny.gif");
  ASSERT_NE(m_pDoc->m_pDib, nullptr);
  EXPECT_EQ(m_pDoc->m_nDibSize, 186u);
}

TEST_F(DocumentTest, FileTooLargeForMemoryIsReportedAsNoMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer stops at an allocation this large instead of failing it";
#endif
  const auto file = m_dir / "huge.bmp.bmp";
  WriteFile(file, MakeHeaderFile(200, 2, 2, 24, 0));
  std::error_code error;
  for (int bits : {46, 44, 42, 40}) {
    error.clear();
    std::filesystem::resize_file(file, std::uintmax_t{1} << bits, error);
    if (!error) break;
  }
  if (error) GTEST_SKIP() << "no sparse file of a TiB or more here";
  m_pDoc->LoadDib(file.c_str());
  EXPECT_EQ(m_pDoc->GetTitle(), "No memory");
  EXPECT_EQ(m_pDoc->m_pDib, nullptr);
}

TEST_F(DocumentTest, UnreadableFileIsAnOpenError) {
  const auto file = m_dir / "locked.jpg.bmp";
  WriteFile(file, MakeBmp24(20, 10, Pattern(20, 10, 1)));
  std::filesystem::permissions(file, std::filesystem::perms::none);
  if (std::ifstream(file).is_open()) GTEST_SKIP() << "this user reads files without permission";
  m_pDoc->LoadDib(file.c_str());
  EXPECT_EQ(m_pDoc->GetTitle(), "Open error");
}

TEST_F(DocumentTest, PixelRowsFollowTheColourTableRule) {
  struct Case {
    int bitCount;
    std::uint32_t clrUsed;
    std::uint32_t compression;
    size_t offset;
  } cases[] = {
      {8, 0, 0, 1064}, {8, 16, 0, 40 + 64}, {24, 0, 0, 40},  {1, 0, 0, 48},
      {4, 0, 0, 104},  {16, 0, 0, 40},      {32, 0, 3, 52},  {24, 2, 0, 48},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bitCount << " bits, " << c.clrUsed << " colours used");
    const auto file = m_dir / "rule.bmp.bmp";
    WriteFile(file, MakeHeaderFile(4000, 4, 4, c.bitCount, c.clrUsed, c.compression));
    m_pDoc->LoadDib(file.c_str());
    ASSERT_NE(m_pDoc->m_pDib, nullptr);
    EXPECT_EQ(static_cast<size_t>(m_pDoc->m_pBits - m_pDoc->m_pDib.get()), c.offset);
  }
}

TEST_F(DocumentTest, AbsurdColourTableNeverPointsPastTheBytesRead) {
  const auto file = m_dir / "absurd.bmp.bmp";
  WriteFile(file, MakeHeaderFile(300, 4, 4, 8, 0xFFFFFFFFu));
  m_pDoc->LoadDib(file.c_str());
  ASSERT_NE(m_pDoc->m_pDib, nullptr);
  EXPECT_EQ(m_pDoc->m_pBits, m_pDoc->m_pDib.get() + m_pDoc->m_nDibSize);
  ViewerSession::WaitFor([] { return false; }, 50);  // painted without reading beyond the block
  EXPECT_GT(m_session.ViewPixels().width, 0);
}

TEST_F(DocumentTest, HeaderClaimingMoreRowsThanTheFileHoldsIsDrawnAsFarAsTheBytesGo) {
  // 16 x 16 pixels of 24 bits claimed, but the file ends after 6 of the 16 stored rows.
  const std::vector<Rgb> pixels = Pattern(16, 16, 3);
  Bytes bytes = MakeBmp24(16, 16, pixels);
  bytes.resize(54 + 6 * 48);
  const auto file = m_dir / "cut.bmp.bmp";
  WriteFile(file, bytes);
  m_pDoc->LoadDib(file.c_str());
  ASSERT_EQ(m_pDoc->GetTitle(), "cut.bmp");
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_session.ViewPixels().width > 0; }));
  const Pixels painted = m_session.ViewPixels();
  // Stored bottom-up: the bottom six lines are there, the top ten are not.
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const Rgb expected = y < 10 ? Rgb{0, 0, 0} : pixels[static_cast<size_t>(y * 16 + x)];
      EXPECT_EQ(painted.At(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(DocumentTest, OpenDialogWithSeveralFilesBrowsesTheImageNamesAsListed) {
  RunConvert("-size 30x20 xc:red " + (m_dir / "A.JPG").string());
  WriteFile(m_dir / "b.txt", Bytes{'t'});
  RunConvert("-size 30x20 xc:blue " + (m_dir / "C.gif").string());
  m_session.fileDialogAnswers.push_back(
      {(m_dir / "A.JPG").string(), (m_dir / "b.txt").string(), (m_dir / "C.gif").string()});
  m_session.Frame()->m_wndToolBar.ClickButton(0);  // the Open button
  EXPECT_EQ(std::string(m_pDoc->m_szFolder), m_dir.Path().string() + "/");
  ASSERT_TRUE(m_session.WaitForImage("A.JPG"));
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() == 2; }));
  CSingleLock lock(&m_pDoc->m_queue.m_csLock, TRUE);
  POSITION pos = m_pDoc->m_queue.m_listHistory.GetHeadPosition();
  const std::string first = static_cast<CString*>(m_pDoc->m_queue.m_listHistory.GetNext(pos))->str();
  const std::string second = static_cast<CString*>(m_pDoc->m_queue.m_listHistory.GetNext(pos))->str();
  EXPECT_EQ(first.substr(first.rfind('/') + 1), "A.JPG.bmp");
  EXPECT_EQ(second.substr(second.rfind('/') + 1), "C.gif.bmp");
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(DocumentTest, CancelledOpenDialogEndsTheReadAhead) {
  m_pDoc->m_nReadAhead = 4;
  m_session.Frame()->TriggerMenuItem(ID_IMAGE_OPEN);
  EXPECT_EQ(m_pDoc->m_nReadAhead, 0);
  EXPECT_EQ(m_pDoc->m_nNextName, 0);
}

TEST_F(DocumentTest, SaveCopyAsCopiesTheSourceByteForByte) {
  const auto source = m_dir / "photo.jpg";
  RunConvert("-size 30x20 xc:green " + source.string());
  std::filesystem::create_directory(m_dir / "out");
  m_session.fileDialogAnswers.push_back({(m_dir / "out" / "copy.bmp").string()});
  m_pDoc->SaveCopyAs(source.c_str());
  EXPECT_EQ(ReadFile(m_dir / "out" / "copy.bmp"), ReadFile(source));
}

TEST_F(DocumentTest, ClosingDeletesEveryConvertedFile) {
  for (const char* name : {"p.bmp", "q.bmp"}) WriteFile(m_dir / name, MakeBmp24(20, 10, Pattern(20, 10, 2)));
  m_pDoc->OpenImages((m_dir / "p.bmp").c_str());
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() == 2; }));
  std::vector<std::string> converted;
  {
    CSingleLock lock(&m_pDoc->m_queue.m_csLock, TRUE);
    POSITION pos = m_pDoc->m_queue.m_listHistory.GetHeadPosition();
    while (pos != nullptr) converted.push_back(static_cast<CString*>(m_pDoc->m_queue.m_listHistory.GetNext(pos))->str());
  }
  for (const std::string& path : converted) EXPECT_TRUE(std::filesystem::exists(path)) << path;
  m_session.Stop();
  for (const std::string& path : converted) EXPECT_FALSE(std::filesystem::exists(path)) << path;
  ASSERT_TRUE(m_session.Start());
}

TEST_F(DocumentTest, SaveKeyNeverWritesTheOpenedFile) {
  const auto file = m_dir / "keep.bmp";
  WriteFile(file, MakeBmp24(20, 10, Pattern(20, 10, 5)));
  const Bytes before = ReadFile(file);
  ASSERT_NE(theApp.OpenDocumentFile(file.c_str()), nullptr);
  ASSERT_TRUE(m_session.WaitForImage("keep.bmp"));
  EXPECT_TRUE(m_session.Frame()->PressAccelerator("Ctrl+S"));
  ViewerSession::WaitFor([] { return false; }, 50);
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_TRUE(m_session.messages.empty());
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
