// The document: loading converted BMP files, its title as the status line, the Open dialog's
// selection, and what it leaves behind.
#include <gtest/gtest.h>

#include <fstream>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/Globals.h"
#include "res/Resource.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

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

// The same with a 12-byte core header: 16-bit width and height, planes, bits per pixel.
Bytes MakeCoreHeaderFile(size_t size, int width, int height, int bitCount) {
  Bytes bytes(size, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutU32(bytes, 2, static_cast<std::uint32_t>(size));
  PutU32(bytes, 14, 12);
  PutU16(bytes, 18, static_cast<std::uint16_t>(width));
  PutU16(bytes, 20, static_cast<std::uint16_t>(height));
  PutU16(bytes, 22, 1);
  PutU16(bytes, 24, static_cast<std::uint16_t>(bitCount));
  return bytes;
}

// The converted files of the history, oldest first.
std::vector<std::string> HistoryPaths(CVimoDoc* pDoc) {
  std::vector<std::string> paths;
  CSingleLock lock(&pDoc->m_queue.m_csLock, TRUE);
  POSITION pos = pDoc->m_queue.m_listHistory.GetHeadPosition();
  while (pos != nullptr) paths.push_back(static_cast<CString*>(pDoc->m_queue.m_listHistory.GetNext(pos))->str());
  return paths;
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

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

TEST_F(DocumentTest, FileTooLargeForTheAddressSpaceIsReportedAsNoMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves the address space in its own way";
#endif
  // A sparse file of a PiB: more than a process can map. Not every file system allows one.
  std::filesystem::path file;
  for (const std::filesystem::path& folder : {m_dir.Path(), std::filesystem::path("/dev/shm")}) {
    const auto candidate = folder / ("huge-" + std::to_string(getpid()) + ".bmp.bmp");
    WriteFile(candidate, MakeHeaderFile(200, 2, 2, 24, 0));
    std::error_code error;
    std::filesystem::resize_file(candidate, std::uintmax_t{1} << 50, error);
    if (!error) {
      file = candidate;
      break;
    }
    std::filesystem::remove(candidate);
  }
  if (file.empty()) GTEST_SKIP() << "no sparse file of a PiB here";
  m_pDoc->LoadDib(file.c_str());
  std::filesystem::remove(file);
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
  constexpr std::uint32_t kBitFields = 3;
  struct Case {
    int headerSize;
    int bitCount;
    std::uint32_t clrUsed;
    std::uint32_t compression;
    size_t offset;
  } cases[] = {
      {40, 8, 0, 0, 1064}, {40, 8, 16, 0, 40 + 64}, {40, 24, 0, 0, 40},        {40, 1, 0, 0, 48},
      {40, 4, 0, 0, 104},  {40, 16, 0, 0, 40},      {40, 32, 0, kBitFields, 52}, {40, 24, 2, 0, 48},
      // Bit-field masks belong to 16 and 32 bits only: a 24-bit image never consults the field.
      {40, 16, 0, kBitFields, 52}, {40, 24, 0, kBitFields, 40},
      // The core header's colour table has 3-byte entries.
      {12, 8, 0, 0, 12 + 768}, {12, 4, 0, 0, 12 + 48}, {12, 1, 0, 0, 12 + 6}, {12, 24, 0, 0, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.headerSize << "-byte header, " << c.bitCount << " bits, " << c.clrUsed
                                    << " colours used, compression " << c.compression);
    const auto file = m_dir / "rule.bmp.bmp";
    WriteFile(file, c.headerSize == 12 ? MakeCoreHeaderFile(4000, 4, 4, c.bitCount)
                                       : MakeHeaderFile(4000, 4, 4, c.bitCount, c.clrUsed, c.compression));
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

TEST_F(DocumentTest, FolderOrFifoNamedLikeAnImageIsAnOpenError) {
  const auto good = m_dir / "good.jpg.bmp";
  WriteFile(good, MakeBmp24(20, 10, Pattern(20, 10, 1)));
  m_pDoc->LoadDib(good.c_str());
  const BYTE* pShown = m_pDoc->m_pDib.get();
  std::filesystem::create_directory(m_dir / "folder.jpg.bmp");
  ASSERT_EQ(mkfifo((m_dir / "fifo.jpg.bmp").c_str(), 0600), 0);
  for (const char* name : {"folder.jpg.bmp", "fifo.jpg.bmp"}) {
    SCOPED_TRACE(name);
    m_pDoc->LoadDib((m_dir / name).c_str());  // never waits for a writer
    EXPECT_EQ(m_pDoc->GetTitle(), "Open error");
    EXPECT_EQ(m_pDoc->m_pDib.get(), pShown);
  }
}

TEST_F(DocumentTest, ShownImageStaysIntactWhenItsNameIsConvertedAgain) {
  // Two sources of one name give one converted name; the second must not change the first
  // while it is shown.
  std::filesystem::create_directories(m_dir / "one");
  std::filesystem::create_directories(m_dir / "two");
  WriteFile(m_dir / "one" / "x.bmp", MakeBmp24(64, 48, Pattern(64, 48, 1)));
  const Bytes second = MakeBmp24(20, 10, Pattern(20, 10, 2));  // smaller: a rewrite in place would cut the first
  WriteFile(m_dir / "two" / "x.bmp", second);
  m_pDoc->OpenImages((m_dir / "one" / "x.bmp").c_str());
  ASSERT_TRUE(m_session.WaitForImage("x.bmp"));
  const Bytes shown(m_pDoc->m_pDib.get(), m_pDoc->m_pDib.get() + m_pDoc->m_nDibSize);

  m_pDoc->m_queue.Enqueue((m_dir / "two" / "x.bmp").c_str());
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() == 2; }));
  const std::vector<std::string> converted = HistoryPaths(m_pDoc);
  ASSERT_EQ(converted[0], converted[1]);
  EXPECT_EQ(ReadFile(converted[1]), second);
  EXPECT_EQ(Bytes(m_pDoc->m_pDib.get(), m_pDoc->m_pDib.get() + m_pDoc->m_nDibSize), shown);
  m_session.View()->InvalidateRect(nullptr, FALSE);
  EXPECT_EQ(m_session.ViewPixels().At(63, 47), Pattern(64, 48, 1).back());
}

TEST_F(DocumentTest, BrowsingPassesOverFoldersFifosSocketsAndLoops) {
  for (const char* name : {"a.bmp", "e.bmp"}) WriteFile(m_dir / name, MakeBmp24(20, 10, Pattern(20, 10, 3)));
  ASSERT_EQ(mkfifo((m_dir / "b.bmp").c_str(), 0600), 0);
  std::filesystem::create_directory(m_dir / "c.bmp");
  std::filesystem::create_symlink(m_dir / "d.bmp", m_dir / "d.bmp");  // a loop
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", (m_dir / "s.bmp").c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

  m_pDoc->OpenImages((m_dir / "a.bmp").c_str());
  ASSERT_TRUE(m_session.WaitForImage("a.bmp"));
  for (int i = 0; i < 6; ++i) m_pDoc->QueueNextImage();
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.IsNextComing() == 0; }));
  close(sock);
  std::vector<std::string> names;
  for (const std::string& path : HistoryPaths(m_pDoc)) names.push_back(NameOf(path));
  EXPECT_EQ(names, (std::vector<std::string>{"a.bmp.bmp", "e.bmp.bmp"}));
  EXPECT_TRUE(m_pDoc->m_queue.TakeError().IsEmpty());
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(DocumentTest, FolderLongerThanAWindowsPathIsBrowsed) {
  const std::filesystem::path folder = m_dir / std::string(200, 'f') / std::string(200, 'g');
  std::filesystem::create_directories(folder);
  WriteFile(folder / "deep.bmp", MakeBmp24(20, 10, Pattern(20, 10, 4)));
  m_pDoc->OpenImages((folder / "deep.bmp").c_str());
  EXPECT_TRUE(m_session.WaitForImage("deep.bmp"));
  EXPECT_EQ(std::string(m_pDoc->m_szFolder), folder.string() + "/");
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(DocumentTest, PathsTooLongForThePlatformAreRefusedWithAMessage) {
  const std::string longFolder = "/" + std::string(2500, 'f') + "/" + std::string(2500, 'g');
  // A folder chosen in the Open dialog, and a destination in the Save dialog.
  m_session.fileDialogAnswers.push_back({longFolder + "/a.jpg", longFolder + "/b.jpg"});
  AfxTestAccess::ClickButton(m_session.Frame()->m_wndToolBar, 0);
  m_session.fileDialogAnswers.push_back({longFolder + "/copy.jpg"});
  const auto source = m_dir / "photo.jpg";
  WriteFile(source, Bytes{'j'});
  m_pDoc->SaveCopyAs(source.c_str());
  // A file opened by a path that long.
  m_pDoc->OpenImages((longFolder + "/a.jpg").c_str());

  ASSERT_EQ(m_session.messages.size(), 3u);
  for (const std::string& message : m_session.messages) {
    EXPECT_EQ(message.rfind("path too long\n/fff", 0), 0u) << message.substr(0, 40);
  }
  EXPECT_EQ(m_pDoc->m_queue.IsNextComing(), 0);
  EXPECT_EQ(m_pDoc->m_szFolder[0], '\0');
}

TEST_F(DocumentTest, FolderEntryWhosePathIsTooLongIsPassedOverWithAMessage) {
  // A folder deep enough that a long name in it makes a path the platform cannot reach.
  std::filesystem::path folder = m_dir.Path();
  while (folder.string().size() < 3700) folder /= std::string(240, 'd');
  std::filesystem::create_directories(folder);
  WriteFile(folder / "a.bmp", MakeBmp24(20, 10, Pattern(20, 10, 6)));
  const std::string longName = std::string(250, 'n') + ".bmp";
  std::filesystem::current_path(folder);  // only a relative name reaches it
  WriteFile(longName, MakeBmp24(20, 10, Pattern(20, 10, 7)));

  m_pDoc->OpenImages((folder / "a.bmp").c_str());
  EXPECT_TRUE(m_session.WaitForImage("a.bmp"));
  ASSERT_EQ(m_session.messages.size(), 1u);
  EXPECT_EQ(m_session.messages[0], "path too long\n" + folder.string() + "/" + longName);
  std::filesystem::remove(longName);
}

TEST_F(DocumentTest, SaveCopyThatFailsSaysSo) {
  const auto source = m_dir / "photo.jpg";
  WriteFile(source, Bytes{'j', 'p', 'g'});
  std::filesystem::create_directory(m_dir / "taken");
  m_session.fileDialogAnswers.push_back({(m_dir / "taken").string()});  // a folder of that name
  m_pDoc->SaveCopyAs(source.c_str());
  ASSERT_EQ(m_session.messages.size(), 1u);
  EXPECT_EQ(m_session.messages[0], "cannot save\n" + (m_dir / "taken").string());
}

TEST_F(DocumentTest, OpenDialogWithSeveralFilesBrowsesTheImageNamesAsListed) {
  RunConvert("-size 30x20 xc:red " + (m_dir / "A.JPG").string());
  WriteFile(m_dir / "b.txt", Bytes{'t'});
  RunConvert("-size 30x20 xc:blue " + (m_dir / "C.gif").string());
  m_session.fileDialogAnswers.push_back(
      {(m_dir / "A.JPG").string(), (m_dir / "b.txt").string(), (m_dir / "C.gif").string()});
  AfxTestAccess::ClickButton(m_session.Frame()->m_wndToolBar, 0);  // the Open button
  EXPECT_EQ(std::string(m_pDoc->m_szFolder), m_dir.Path().string() + "/");
  ASSERT_TRUE(m_session.WaitForImage("A.JPG"));
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() == 2; }));
  const std::vector<std::string> history = HistoryPaths(m_pDoc);
  EXPECT_EQ(NameOf(history.at(0)), "A.JPG.bmp");
  EXPECT_EQ(NameOf(history.at(1)), "C.gif.bmp");
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(DocumentTest, CancelledOpenDialogEndsTheReadAhead) {
  m_pDoc->m_nReadAhead = 4;
  AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_IMAGE_OPEN);
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
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(DocumentTest, ClosingDeletesEveryConvertedFile) {
  for (const char* name : {"p.bmp", "q.bmp"}) WriteFile(m_dir / name, MakeBmp24(20, 10, Pattern(20, 10, 2)));
  m_pDoc->OpenImages((m_dir / "p.bmp").c_str());
  ASSERT_TRUE(ViewerSession::WaitFor([&] { return m_pDoc->m_queue.HistoryCount() == 2; }));
  const std::vector<std::string> converted = HistoryPaths(m_pDoc);
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
  EXPECT_TRUE(AfxTestAccess::PressAccelerator(m_session.Frame(), "Ctrl+S"));
  ViewerSession::WaitFor([] { return false; }, 50);
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_TRUE(m_session.messages.empty());
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
