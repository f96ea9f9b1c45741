// The kernel stand-ins the program relies on: the private temporary folder, temporary files,
// copies, folder listing, starting programs, and the cleanup of folders left by earlier runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "afx/afx.h"
#include "win32/GlobalMemory.h"
#include "win32/Kernel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string TempFolder() {
  char path[256];
  const DWORD length = GetTempPathA(sizeof(path), path);
  EXPECT_GT(length, 0u);
  return std::string(path, length);
}

class KernelTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(TempFolder()) / "scratch";
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  fs::path m_dir;
};

TEST(TempFolder, IsPrivateToThisProcessAndEndsWithSlash) {
  const std::string folder = TempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_NE(folder.find("/vimo-"), std::string::npos);
  const auto perms = fs::status(folder).permissions();
  EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(TempFolder(), folder);  // the same folder for the whole run
}

TEST(TempFolder, TooSmallBufferGetsTheSizeNeeded) {
  char tiny[4] = "abc";
  const DWORD needed = GetTempPathA(sizeof(tiny), tiny);
  EXPECT_EQ(needed, TempFolder().size() + 1);
  EXPECT_STREQ(tiny, "abc");
}

TEST_F(KernelTest, TempFileNamesAreNewAndUnique) {
  char first[MAX_PATH];
  char second[MAX_PATH];
  ASSERT_NE(GetTempFileNameA(TempFolder().c_str(), "VIM", 0, first), 0u);
  ASSERT_NE(GetTempFileNameA(TempFolder().c_str(), "VIM", 0, second), 0u);
  EXPECT_STRNE(first, second);
  EXPECT_EQ(fs::path(first).filename().string().rfind("VIM", 0), 0u);
  EXPECT_TRUE(fs::exists(first));
  EXPECT_EQ(fs::file_size(first), 0u);
  EXPECT_TRUE(DeleteFileA(first));
  EXPECT_TRUE(DeleteFileA(second));
  EXPECT_FALSE(DeleteFileA(first));
  EXPECT_EQ(GetTempFileNameA("/nonexistent-folder/", "VIM", 0, first), 0u);
}

TEST_F(KernelTest, CopyIsByteExactAndHonoursFailIfExists) {
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  WriteBytes(m_dir / "src.jpg", bytes);
  WriteBytes(m_dir / "old.bmp", "old content that is longer than nothing");

  EXPECT_TRUE(CopyFileA((m_dir / "src.jpg").c_str(), (m_dir / "old.bmp").c_str(), FALSE));
  EXPECT_EQ(ReadBytes(m_dir / "old.bmp"), bytes);
  WriteBytes(m_dir / "keep.bmp", "keep");
  EXPECT_FALSE(CopyFileA((m_dir / "src.jpg").c_str(), (m_dir / "keep.bmp").c_str(), TRUE));
  EXPECT_EQ(ReadBytes(m_dir / "keep.bmp"), "keep");
  EXPECT_FALSE(CopyFileA((m_dir / "missing.jpg").c_str(), (m_dir / "x.bmp").c_str(), FALSE));
  EXPECT_FALSE(fs::exists(m_dir / "x.bmp"));
}

TEST_F(KernelTest, CopyOntoItselfFailsAndKeepsTheFile) {
  WriteBytes(m_dir / "photo.jpg", "precious bytes");
  EXPECT_FALSE(CopyFileA((m_dir / "photo.jpg").c_str(), (m_dir / "photo.jpg").c_str(), FALSE));
  EXPECT_EQ(ReadBytes(m_dir / "photo.jpg"), "precious bytes");
}

TEST_F(KernelTest, FolderSearchListsEveryEntryWithDirectoryBit) {
  WriteBytes(m_dir / "a.jpg", "a");
  WriteBytes(m_dir / "B.GIF", "b");
  fs::create_directory(m_dir / "sub.jpg");
  WIN32_FIND_DATAA data;
  const std::string pattern = (m_dir / "*.*").string();
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::pair<std::string, bool>> seen;
  do {
    seen.emplace_back(data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileA(search, &data));
  EXPECT_TRUE(FindClose(search));
  std::sort(seen.begin(), seen.end());
  const std::vector<std::pair<std::string, bool>> expected = {
      {".", true}, {"..", true}, {"B.GIF", false}, {"a.jpg", false}, {"sub.jpg", true}};
  EXPECT_EQ(seen, expected);
}

TEST_F(KernelTest, SearchOfMissingFolderFails) {
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA((m_dir / "gone" / "*.*").c_str(), &data), INVALID_HANDLE_VALUE);
}

TEST_F(KernelTest, OnlyRegularFilesAreOpenedAndNothingBlocks) {
  WriteBytes(m_dir / "a.jpg", "bytes");
  ASSERT_EQ(mkfifo((m_dir / "fifo.jpg").c_str(), 0600), 0);
  fs::create_directory(m_dir / "folder.jpg");
  fs::create_symlink(m_dir / "fifo.jpg", m_dir / "to-fifo.jpg");
  fs::create_symlink(m_dir / "a.jpg", m_dir / "to-file.jpg");
  fs::create_symlink(m_dir / "loop.jpg", m_dir / "loop.jpg");
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (m_dir / "s.jpg").string();
  ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  const struct {
    const char* name;
    int error;  // 0: opened
  } cases[] = {{"a.jpg", 0},         {"to-file.jpg", 0},     {"fifo.jpg", ENXIO}, {"to-fifo.jpg", ENXIO},
               {"folder.jpg", EISDIR}, {"s.jpg", ENXIO},      {"loop.jpg", ELOOP}, {"missing.jpg", ENOENT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    std::FILE* file = vimo::platform::OpenRegularFile((m_dir / c.name).c_str());
    EXPECT_EQ(file != nullptr, c.error == 0);
    if (file != nullptr) {
      char buffer[8] = {};
      EXPECT_EQ(std::fread(buffer, 1, sizeof(buffer), file), 5u);
      std::fclose(file);
    } else {
      EXPECT_EQ(errno, c.error);
    }
  }
  close(sock);
}

TEST_F(KernelTest, WinExecFindsProgramsAndReportsMissingOnes) {
  const fs::path marker = m_dir / "started";
  const std::string command = "touch " + marker.string();
  EXPECT_GT(WinExec(command.c_str(), 0), 31u);
  for (int i = 0; i < 3000 && !fs::exists(marker); ++i) Sleep(5);
  EXPECT_TRUE(fs::exists(marker));
  EXPECT_EQ(WinExec("no-such-program-vimo /d x", 0), 2u);
  EXPECT_EQ(WinExec("", 0), 2u);
}

TEST(RuntimeNames, ItoaAndStat) {
  char buffer[16];
  EXPECT_STREQ(_itoa(16, buffer, 10), "16");
  EXPECT_STREQ(_itoa(-2147483647 - 1, buffer, 10), "-2147483648");
  EXPECT_STREQ(_itoa(255, buffer, 16), "ff");
  struct _stat info {};
  EXPECT_EQ(_stat("/nonexistent-vimo", &info), -1);
  EXPECT_EQ(_mbscmp(reinterpret_cast<const unsigned char*>("a"), reinterpret_cast<const unsigned char*>("")) != 0,
            true);
}

TEST(StaleFolders, DeadProcessFoldersLoseTheirBmpFiles) {
  const fs::path root = fs::path(TempFolder()).parent_path().parent_path();
  // PIDs above the kernel's limit never belong to a running process.
  const fs::path stale = root / "vimo-99999999-test01";
  const fs::path withJob = root / "vimo-99999998-test02";
  fs::create_directories(stale);
  fs::create_directories(withJob);
  WriteBytes(stale / "a.jpg.bmp", "x");
  WriteBytes(withJob / "b.bmp", "x");
  WriteBytes(withJob / "VIMabc123", "job");
  const fs::path mine = fs::path(TempFolder());
  WriteBytes(mine / "live.bmp", "x");

  vimo::platform::CleanStaleTempDirs();
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_FALSE(fs::exists(withJob / "b.bmp"));
  EXPECT_TRUE(fs::exists(withJob / "VIMabc123"));  // a mail job belongs to its sender
  EXPECT_TRUE(fs::exists(mine / "live.bmp"));
  fs::remove_all(withJob);
  fs::remove(mine / "live.bmp");
}

TEST(CStringOps, SearchSliceAndLowerCase) {
  CString text("C:/Pics/Photo.JPG");
  EXPECT_EQ(text.ReverseFind('/'), 7);
  EXPECT_EQ(text.Mid(8).str(), "Photo.JPG");
  EXPECT_EQ(text.Left(2).str(), "C:");
  EXPECT_EQ(text.Right(3).str(), "JPG");
  EXPECT_EQ(text.Find(".JPG"), 13);
  CString lower("ÄB.JPG");
  lower.MakeLower();
  EXPECT_EQ(lower.str(), "Äb.jpg");  // bytes beyond ASCII are left alone
  CString formatted;
  formatted.Format("%04d %04d", -5, 100);
  EXPECT_EQ(formatted.str(), "-005 0100");
  char* buffer = formatted.GetBuffer(20);
  buffer[3] = '\0';
  formatted.ReleaseBuffer(-1);
  EXPECT_EQ(formatted.str(), "-00");
}

TEST(Collections, ListOwnsItsElementsAndMapIsASet) {
  CObList list(10);
  list.AddTail(std::make_unique<CString>("a"));
  list.AddTail(std::make_unique<CString>("b"));
  list.AddTail(std::make_unique<CString>("c"));
  EXPECT_EQ(static_cast<CString*>(list.GetAt(list.FindIndex(1)))->str(), "b");
  EXPECT_EQ(list.FindIndex(3), nullptr);
  EXPECT_EQ(list.FindIndex(-1), nullptr);
  auto removed = list.RemoveAt(list.FindIndex(1));
  EXPECT_EQ(static_cast<CString*>(removed.get())->str(), "b");
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_EQ(static_cast<CString*>(list.RemoveHead().get())->str(), "a");

  CMapStringToPtr map(10);
  map["/p/a.jpg"] = nullptr;
  map["/p/a.jpg"] = nullptr;
  map["/p/b.jpg"] = reinterpret_cast<void*>(1);
  EXPECT_EQ(map.GetCount(), 2);
  int visited = 0;
  for (POSITION pos = map.GetStartPosition(); pos != nullptr;) {
    CString key;
    void* value = nullptr;
    map.GetNextAssoc(pos, key, value);
    ++visited;
  }
  EXPECT_EQ(visited, 2);
  void* value = nullptr;
  EXPECT_TRUE(map.Lookup("/p/b.jpg", value));
  EXPECT_EQ(value, reinterpret_cast<void*>(1));
  EXPECT_FALSE(map.Lookup("/p/c.jpg", value));
}

TEST(Events, AutoResetReleasesOneWaitManualResetStaysSignalled) {
  CEvent autoReset(FALSE, FALSE);
  autoReset.SetEvent();
  EXPECT_TRUE(autoReset.Lock(0));
  EXPECT_FALSE(autoReset.Lock(10));
  CEvent manual(FALSE, TRUE);
  manual.SetEvent();
  EXPECT_TRUE(manual.Lock(0));
  EXPECT_TRUE(manual.Lock(0));
  manual.ResetEvent();
  EXPECT_FALSE(manual.Lock(10));
}

TEST(GlobalMemoryBlocks, ZeroInitialisedAndSized) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 42);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 42u);
  const auto* bytes = static_cast<const unsigned char*>(GlobalLock(block));
  EXPECT_TRUE(std::all_of(bytes, bytes + 42, [](unsigned char b) { return b == 0; }));
  GlobalUnlock(block);
  EXPECT_EQ(GlobalFree(block), nullptr);
}

}  // namespace
