// The kernel stand-ins the program relies on: the private temporary folder and its lock,
// temporary files, copies, folder listing, starting programs, and the cleanup of folders left
// by viewers that are gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "afx/afx.h"
#include "app/TempFiles.h"
#include "support/ImageFixtures.h"
#include "win32/GlobalMemory.h"
#include "win32/Kernel.h"
#include "win32/TempFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>

namespace fs = std::filesystem;
using namespace vimo::test;

namespace {

constexpr const char* kLock = "vimo.lock";

// The folder's lock taken as another viewer would take it: its descriptor, or -1 when taken.
int LockFolder(const std::string& folder) {
  const int fd = open((folder + kLock).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The viewer's rule for its temporary files, set as it sets it at start.
struct TempFilesSetUp : testing::Environment {
  void SetUp() override { SetUpTempFiles(); }
};
const testing::Environment* const kTempFiles = testing::AddGlobalTestEnvironment(new TempFilesSetUp);

class KernelTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(TempFolder()) / "scratch";
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  fs::path m_dir;
};

TEST(TempFolder, IsPrivateToThisProcessAndLockedForItsLife) {
  const std::string folder = TempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(fs::path(folder).parent_path().filename().string().rfind("vimo-" + std::to_string(getpid()) + "-", 0), 0u);
  const auto perms = fs::status(folder).permissions();
  EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(TempFolder(), folder);  // the same folder for the whole run
  // Another viewer's cleanup cannot take the lock.
  EXPECT_EQ(LockFolder(folder), -1);
}

TEST(TempFolder, ExitTakesConvertedFilesAndTheFolderButLeavesMailJobs) {
  const fs::path folder = TempFolder();
  for (const char* name : {"a.jpg.bmp", "magick-Ab12Cd", "VIMx1y2z3"}) WriteText(folder / name, "x");
  vimo::platform::RemovePrivateFolder();
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"VIMx1y2z3", kLock}));  // the sender still needs its job

  fs::remove(folder / "VIMx1y2z3");
  vimo::platform::RemovePrivateFolder();
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_NE(TempFolder(), folder.string());  // later needs get a new folder
}

TEST(TempFolder, ImageMagickSpillsIntoThePrivateFolderUnlessToldOtherwise) {
  {
    const ScopedEnv unset("MAGICK_TEMPORARY_PATH", nullptr);
    SetUpTempFiles();
    ASSERT_NE(std::getenv("MAGICK_TEMPORARY_PATH"), nullptr);
    EXPECT_EQ(std::string(std::getenv("MAGICK_TEMPORARY_PATH")) + "/", TempFolder());
  }
  const ScopedEnv chosen("MAGICK_TEMPORARY_PATH", "/var/tmp");
  SetUpTempFiles();
  EXPECT_STREQ(std::getenv("MAGICK_TEMPORARY_PATH"), "/var/tmp");
}

TEST(TempFolder, OnTmpfsConvertedFilesGoToAPrivateCacheFolder) {
  const TempDir home;
  const fs::path elsewhere = home / "elsewhere";
  fs::create_directory(elsewhere);
  enum class Cache { Missing, Symlink, OpenToOthers };
  const struct {
    const char* why;
    std::optional<bool> tmpfs;  // nullopt: as the file system says
    fs::path tmpdir;
    Cache cache;
    bool cacheHomeSet;  // else ~/.cache
    bool expectCache;
  } cases[] = {
      {"tmpfs detected", std::nullopt, "/dev/shm", Cache::Missing, true, true},
      {"a disk detected", std::nullopt, "/proc", Cache::Missing, true, false},
      {"tmpfs, cache under the home folder", true, home.Path(), Cache::Missing, false, true},
      {"tmpfs, cache folder readable by others is closed", true, home.Path(), Cache::OpenToOthers, true, true},
      {"tmpfs, a planted symlink is not followed", true, home.Path(), Cache::Symlink, true, false},
      {"not tmpfs", false, home.Path(), Cache::Missing, true, false},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    if (c.tmpdir == "/dev/shm" && !fs::is_directory(c.tmpdir)) continue;
    const fs::path cacheHome = home / ("cache" + std::to_string(row++));
    const fs::path cache = (c.cacheHomeSet ? cacheHome : home / ".cache") / "vimo";
    fs::remove_all(home / ".cache");
    if (c.cache == Cache::Symlink) {
      fs::create_directories(cacheHome);
      fs::create_directory_symlink(elsewhere, cache);
    } else if (c.cache == Cache::OpenToOthers) {
      fs::create_directories(cache);
      fs::permissions(cache, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    }
    const ScopedEnv tmpdir("TMPDIR", c.tmpdir.c_str());
    const ScopedEnv cacheVariable("XDG_CACHE_HOME", c.cacheHomeSet ? cacheHome.c_str() : nullptr);
    const ScopedEnv homeVariable("HOME", home.Path().c_str());
    const std::string root = TempFilesRoot(c.tmpfs ? *c.tmpfs : vimo::platform::IsOnTmpfs(c.tmpdir));

    EXPECT_EQ(root, c.expectCache ? cache.string() : c.tmpdir.string());
    if (c.expectCache) {
      EXPECT_TRUE(fs::is_directory(fs::symlink_status(cache)));
      EXPECT_EQ(fs::status(cache).permissions() & fs::perms::all, fs::perms::owner_all);
    }
    EXPECT_TRUE(fs::is_empty(elsewhere));
  }
}

TEST(StaleFolders, OnlyFoldersWhoseLockIsFreeLoseTheirConvertedFiles) {
  const TempDir tmp;
  const TempDir cacheHome;
  const TempDir elsewhere;
  fs::create_directory(cacheHome / "vimo");
  fs::permissions(cacheHome / "vimo", fs::perms::owner_all);
  const ScopedEnv tmpdir("TMPDIR", tmp.Path().c_str());
  const ScopedEnv cacheVariable("XDG_CACHE_HOME", cacheHome.Path().c_str());
  const std::string running = std::to_string(getpid());
  enum class Lock { Held, Free, None };
  // Process ids above the kernel's limit (99999999) never belong to a running process.
  const struct {
    const char* why;
    fs::path folder;
    Lock lock;
    std::vector<std::string> files;
    std::vector<std::string> left;  // sorted; empty: the folder is gone
  } cases[] = {
      {"a viewer holds the lock, though its process id looks dead", tmp / "vimo-99999999-held01", Lock::Held,
       {"a.jpg.bmp"}, {"a.jpg.bmp", kLock}},
      {"nobody holds the lock", tmp / "vimo-99999999-free01", Lock::Free, {"a.jpg.bmp", "magick-Xy12Zw"}, {}},
      {"a mail job stays for its sender", tmp / "vimo-99999998-job001", Lock::Free, {"b.bmp", "VIMab12cd"},
       {"VIMab12cd", kLock}},
      {"a folder from before the lock, process gone", tmp / "vimo-99999997-old001", Lock::None, {"c.bmp"}, {}},
      {"a folder from before the lock, process running", tmp / ("vimo-" + running + "-old002"), Lock::None,
       {"d.bmp"}, {"d.bmp"}},
      {"a folder still being made", tmp / ".vimo-new-Ab12Cd", Lock::Free, {"e.bmp"}, {"e.bmp", kLock}},
      {"a test's folder is not the viewer's", tmp / "vimo-convert-test-1", Lock::Free, {"h.bmp"}, {"h.bmp", kLock}},
      {"nor a name that only starts like one", tmp / "vimo-99999995-abcdef-x", Lock::Free, {"i.bmp"},
       {"i.bmp", kLock}},
      {"the cache folder is cleaned too", cacheHome / "vimo" / "vimo-99999999-cache1", Lock::Free, {"f.bmp"}, {}},
      {"a symlink is not followed", elsewhere.Path(), Lock::Free, {"g.bmp"}, {"g.bmp", kLock}},
  };
  fs::create_directory_symlink(elsewhere.Path(), tmp / "vimo-99999996-link01");
  std::vector<int> held;
  for (const auto& c : cases) {
    fs::create_directories(c.folder);
    for (const std::string& name : c.files) WriteText(c.folder / name, "x");
    if (c.lock != Lock::None) WriteText(c.folder / kLock, "");
    if (c.lock == Lock::Held) held.push_back(LockFolder(c.folder.string() + "/"));
  }

  CleanAbandonedTempFiles();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(fs::exists(c.folder), !c.left.empty());
    if (fs::exists(c.folder)) {
      EXPECT_EQ(Names(c.folder), c.left);
    }
  }
  EXPECT_TRUE(fs::is_symlink(tmp / "vimo-99999996-link01"));
  for (const int fd : held) close(fd);
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
  WriteText(m_dir / "src.jpg", bytes);
  WriteText(m_dir / "old.bmp", "old content that is longer than nothing");

  EXPECT_TRUE(CopyFileA((m_dir / "src.jpg").c_str(), (m_dir / "old.bmp").c_str(), FALSE));
  EXPECT_EQ(TextOfFile(m_dir / "old.bmp"), bytes);
  WriteText(m_dir / "keep.bmp", "keep");
  EXPECT_FALSE(CopyFileA((m_dir / "src.jpg").c_str(), (m_dir / "keep.bmp").c_str(), TRUE));
  EXPECT_EQ(TextOfFile(m_dir / "keep.bmp"), "keep");
  EXPECT_FALSE(CopyFileA((m_dir / "missing.jpg").c_str(), (m_dir / "x.bmp").c_str(), FALSE));
  EXPECT_FALSE(fs::exists(m_dir / "x.bmp"));
}

TEST_F(KernelTest, CopyOntoItselfFailsAndKeepsTheFile) {
  WriteText(m_dir / "photo.jpg", "precious bytes");
  EXPECT_FALSE(CopyFileA((m_dir / "photo.jpg").c_str(), (m_dir / "photo.jpg").c_str(), FALSE));
  EXPECT_EQ(TextOfFile(m_dir / "photo.jpg"), "precious bytes");
}

TEST_F(KernelTest, FolderSearchListsEveryEntryWithDirectoryBit) {
  WriteText(m_dir / "a.jpg", "a");
  WriteText(m_dir / "B.GIF", "b");
  fs::create_directory(m_dir / "sub.jpg");
  WIN32_FIND_DATAA data;
  const std::string pattern = (m_dir / "*.*").string();
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::pair<std::string, bool>> seen;
  do {
    seen.emplace_back(data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileA(search, &data));
  // Started over, the search walks the listing it took at its start, not the folder as it is now.
  WriteText(m_dir / "c.jpg", "c");
  std::vector<std::pair<std::string, bool>> again;
  ASSERT_TRUE(vimo::platform::FindRewind(search));
  for (BOOL found = FindNextFileA(search, &data); found; found = FindNextFileA(search, &data)) {
    again.emplace_back(data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  }
  EXPECT_TRUE(FindClose(search));
  EXPECT_EQ(again, seen);
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
  WriteText(m_dir / "a.jpg", "bytes");
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

TEST_F(KernelTest, RemovingLetsGoOfTheNameAtOnceWhateverItNames) {
  WriteText(m_dir / "a.bmp", "bytes");
  WriteText(m_dir / "kept.bmp", "kept");
  ASSERT_EQ(mkfifo((m_dir / "fifo.bmp").c_str(), 0600), 0);
  fs::create_symlink(m_dir / "kept.bmp", m_dir / "link.bmp");
  const struct {
    const char* name;
    int error;  // 0: removed
  } cases[] = {{"a.bmp", 0}, {"fifo.bmp", 0}, {"link.bmp", 0}, {"missing.bmp", ENOENT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_EQ(vimo::platform::RemoveFileReleasingLater((m_dir / c.name).c_str()), c.error == 0 ? 0 : -1);
    if (c.error != 0) {
      EXPECT_EQ(errno, c.error);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_dir / c.name)));
  }
  EXPECT_TRUE(fs::exists(m_dir / "kept.bmp"));  // a link goes, not what it points at
}

TEST_F(KernelTest, WinExecFindsProgramsAndReportsMissingOnes) {
  const fs::path marker = m_dir / "started";
  const std::string command = "touch " + marker.string();
  EXPECT_GT(WinExec(command.c_str(), 0), 31u);
  EXPECT_TRUE(WaitUntil([&] { return fs::exists(marker); }));
  EXPECT_EQ(WinExec("no-such-program-vimo /d x", 0), 2u);
  EXPECT_EQ(WinExec("", 0), 2u);
}

// Each line splits into its words as on Windows; each word, quoted, comes back whole.
TEST(CommandLine, SplitsAsWindowsDoesAndQuotedWordsComeBackWhole) {
  const struct {
    const char* line;
    std::vector<std::string> words;
  } cases[] = {
      {" a \t b\t", {"a", "b"}},
      {"\"two  blanks/VIM 1\" x", {"two  blanks/VIM 1", "x"}},
      {"\"tab\there\" a\"b c\"d", {"tab\there", "ab cd"}},
      {"\"\" x", {"", "x"}},
      {"a\\b\\\\c\\", {"a\\b\\\\c\\"}},           // not before a quote: literal
      {"a\\\\\"b c\"", {"a\\b c"}},               // 2n before a quote: n, and the quote groups
      {"a\\\\\\\"b c", {"a\\\"b", "c"}},          // 2n+1 before a quote: n and a literal quote
      {"\"ends in \\\\\\\\\"", {"ends in \\\\"}},
      {"\"say \\\"hi\\\"\"", {"say \"hi\""}},
      {"caf\xE9 \x8F\x74 \"\x82\xA0 \xFF\"", {"caf\xE9", "\x8F\x74", "\x82\xA0 \xFF"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(vimo::platform::SplitCommandLine(c.line), c.words);
    for (const std::string& word : c.words) {
      const std::string line = "Postmx.exe /d " + vimo::platform::QuoteCommandLineArgument(word.c_str());
      EXPECT_EQ(vimo::platform::SplitCommandLine(line.c_str()), (std::vector<std::string>{"Postmx.exe", "/d", word}));
    }
  }
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
