// The folder search: listed once, in the order a Linux file manager shows, each entry marked
// as folder, regular file or something else; and copies that never wait on a FIFO.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "afx/afx.h"
#include "posix/UniqueFd.h"
#include "support/ImageFixtures.h"
#include "win32/Kernel.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

// Every entry of folder as the search gives it: name and attributes, in search order.
std::vector<std::pair<std::string, DWORD>> Search(const fs::path& folder) {
  std::vector<std::pair<std::string, DWORD>> entries;
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA((folder.string() + "/*.*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    entries.emplace_back(data.cFileName, data.dwFileAttributes);
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return entries;
}

TEST(FolderSearch, ListsNamesAsAFileManagerSortsThem) {
  const TempDir dir;
  // Expected order: case folded, digit runs by value, ties by the raw bytes.
  const std::vector<std::string> expected = {
      "a.jpg",     "B.jpg",      "b.jpg",       "caf\xC3\xA9.jpg", "img1.jpg", "img02.jpg", "img2.jpg",
      "IMG3.jpg",  "img10.jpg",  "img100.jpg",  "img100a.jpg",     "x 1.jpg",  "x1.jpg",    "z.jpg",
  };
  std::vector<std::string> shuffled = expected;
  std::reverse(shuffled.begin(), shuffled.end());
  std::rotate(shuffled.begin(), shuffled.begin() + 5, shuffled.end());
  for (const std::string& name : shuffled) WriteFile(dir / name, Bytes{'x'});

  std::vector<std::string> listed;
  for (const auto& [name, attributes] : Search(dir.Path())) {
    if (name != "." && name != "..") listed.push_back(name);
  }
  EXPECT_EQ(listed, expected);
}

TEST(FolderSearch, MarksFoldersRegularFilesAndEverythingElse) {
  const TempDir dir;
  WriteFile(dir / "file.jpg", Bytes{'x'});
  fs::create_directory(dir / "folder.jpg");
  ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);
  fs::create_symlink(dir / "file.jpg", dir / "link-to-file.jpg");
  fs::create_symlink(dir / "folder.jpg", dir / "link-to-folder.jpg");
  fs::create_symlink(dir / "fifo.jpg", dir / "link-to-fifo.jpg");
  fs::create_symlink(dir / "gone.jpg", dir / "broken.jpg");
  fs::create_symlink(dir / "loop.jpg", dir / "loop.jpg");
  fs::create_symlink("/dev/null", dir / "device.jpg");
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", (dir / "socket.jpg").c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

  std::vector<std::pair<std::string, DWORD>> listed = Search(dir.Path());
  close(sock);
  const std::vector<std::pair<std::string, DWORD>> expected = {
      {".", FILE_ATTRIBUTE_DIRECTORY},          {"..", FILE_ATTRIBUTE_DIRECTORY},
      {"broken.jpg", FILE_ATTRIBUTE_DEVICE},    {"device.jpg", FILE_ATTRIBUTE_DEVICE},
      {"fifo.jpg", FILE_ATTRIBUTE_DEVICE},      {"file.jpg", FILE_ATTRIBUTE_NORMAL},
      {"folder.jpg", FILE_ATTRIBUTE_DIRECTORY}, {"link-to-fifo.jpg", FILE_ATTRIBUTE_DEVICE},
      {"link-to-file.jpg", FILE_ATTRIBUTE_NORMAL}, {"link-to-folder.jpg", FILE_ATTRIBUTE_DIRECTORY},
      {"loop.jpg", FILE_ATTRIBUTE_DEVICE},      {"socket.jpg", FILE_ATTRIBUTE_DEVICE},
  };
  EXPECT_EQ(listed, expected);
}

TEST(FolderSearch, IsASnapshotTakenWhenItStarts) {
  const TempDir dir;
  WriteFile(dir / "a.jpg", Bytes{'a'});
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA((dir.Path().string() + "/*.*").c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  WriteFile(dir / "b.jpg", Bytes{'b'});
  fs::remove(dir / "a.jpg");
  std::vector<std::string> names = {data.cFileName};
  while (FindNextFileA(search, &data)) names.emplace_back(data.cFileName);
  FindClose(search);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.jpg"}));
}

// A listing made ahead serves the search that starts next, when it is of its folder, and only
// that one: a later search never sees a listing older than the search before it.
TEST(FolderSearch, ListingMadeAheadServesOnlyTheNextSearchOfItsFolder) {
  const TempDir dir;
  const TempDir other;
  const std::string pattern = dir.Path().string() + "/*.*";
  WriteFile(dir / "a.jpg", Bytes{'a'});
  const vimo::posix::UniqueFd watch(inotify_init1(IN_CLOEXEC));  // sees the listing close the folder
  ASSERT_GE(inotify_add_watch(watch.get(), dir.Path().c_str(), IN_CLOSE_NOWRITE), 0);
  vimo::platform::ListFolderAhead(pattern.c_str());
  pollfd listed{watch.get(), POLLIN, 0};
  ASSERT_EQ(poll(&listed, 1, 60000), 1) << "the folder was not listed ahead";
  WriteFile(dir / "b.jpg", Bytes{'b'});
  EXPECT_EQ(Search(dir.Path()).size(), 3u) << "the listing made ahead, without b.jpg, serves the next search";

  vimo::platform::ListFolderAhead(pattern.c_str());
  EXPECT_EQ(Search(other.Path()).size(), 2u);
  WriteFile(dir / "c.jpg", Bytes{'c'});
  EXPECT_EQ(Search(dir.Path()).size(), 5u) << "c.jpg was written after the listing made ahead";
}

TEST(CopyFile, SourceThatIsNotARegularFileFailsAtOnce) {
  const TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
  fs::create_directory(dir / "folder.bmp");
  for (const char* name : {"fifo.bmp", "folder.bmp"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(CopyFileA((dir / name).c_str(), (dir / "copy.bmp").c_str(), FALSE));  // never waits for a writer
    EXPECT_FALSE(fs::exists(dir / "copy.bmp"));
  }
}

TEST(FreshFile, IsNewEmptyPrivateAndEndsAsAsked) {
  const TempDir dir;
  const std::string folder = dir.Path().string() + "/";
  const std::string first = vimo::platform::CreateFreshFile(folder, ".bmp");
  const std::string second = vimo::platform::CreateFreshFile(folder, ".bmp");
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(folder, 0), 0u);
  EXPECT_EQ(first.substr(first.size() - 4), ".bmp");
  EXPECT_EQ(fs::file_size(first), 0u);
  EXPECT_EQ(fs::status(first).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(vimo::platform::CreateFreshFile(folder + "missing/", ".bmp").empty());
}

}  // namespace
