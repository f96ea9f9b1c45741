#include "win32/Kernel.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "posix/RegularFile.h"
#include "posix/UniqueFd.h"

static_assert(_S_IFMT == S_IFMT && _S_IFDIR == S_IFDIR && _S_IFREG == S_IFREG);

using vimo::posix::UniqueFd;

namespace {

bool CopyAll(int from, int to) {
  std::vector<char> block(1 << 16);
  for (;;) {
    const ssize_t got = read(from, block.data(), block.size());
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!vimo::posix::WriteAll(to, std::string_view(block.data(), static_cast<std::size_t>(got)))) return false;
  }
}

bool PatternMatches(const std::string& pattern, const char* name) {
  if (pattern == "*.*" || pattern == "*" || pattern.empty()) return true;
  return fnmatch(pattern.c_str(), name, 0) == 0;
}

struct FoundEntry {
  std::string name;
  DWORD attributes;
};

// A search lists its folder once, when it starts; the steps walk that snapshot.
struct FindState {
  std::vector<FoundEntry> entries;
  size_t next = 0;
};

DWORD AttributesOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FILE_ATTRIBUTE_NORMAL;
  return S_ISDIR(mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_DEVICE;
}

// The file type comes from the listing itself; only a symlink (judged by what it leads to) or
// a file system that does not say costs a stat.
DWORD AttributesOf(DIR* dir, const dirent& entry) {
  switch (entry.d_type) {
    case DT_REG:
      return FILE_ATTRIBUTE_NORMAL;
    case DT_DIR:
      return FILE_ATTRIBUTE_DIRECTORY;
    case DT_LNK:
    case DT_UNKNOWN: {
      struct stat info {};
      if (fstatat(dirfd(dir), entry.d_name, &info, 0) != 0) return FILE_ATTRIBUTE_DEVICE;  // broken or looping
      return AttributesOfMode(info.st_mode);
    }
    default:
      return FILE_ATTRIBUTE_DEVICE;
  }
}

unsigned char FoldCase(unsigned char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<unsigned char>(ch - 'A' + 'a') : ch; }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// How a file manager orders two names, ties left at 0: letters without case, digit runs by
// their value.
int CompareAsFileManager(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t endA = i;
      while (endA < a.size() && IsDigit(a[endA])) ++endA;
      size_t endB = j;
      while (endB < b.size() && IsDigit(b[endB])) ++endB;
      while (i + 1 < endA && a[i] == '0') ++i;  // leading zeros do not change the value
      while (j + 1 < endB && b[j] == '0') ++j;
      // Without leading zeros the longer run is the larger number; equal lengths compare as text.
      if (endA - i != endB - j) return endA - i < endB - j ? -1 : 1;
      const int digits = a.compare(i, endA - i, b, j, endB - j);
      if (digits != 0) return digits;
      i = endA;
      j = endB;
      continue;
    }
    const unsigned char left = FoldCase(static_cast<unsigned char>(a[i]));
    const unsigned char right = FoldCase(static_cast<unsigned char>(b[j]));
    if (left != right) return left < right ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  return j < b.size() ? -1 : 0;
}

bool InListingOrder(const FoundEntry& a, const FoundEntry& b) {
  const int order = CompareAsFileManager(a.name, b.name);
  return order != 0 ? order < 0 : a.name < b.name;
}

void Fill(const FoundEntry& entry, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = entry.attributes;
  std::memcpy(data->cFileName, entry.name.c_str(), entry.name.size() + 1);
}

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  const std::string beside = vimo::platform::ExecutableFolder() + name;
  if (access(beside.c_str(), X_OK) == 0) return beside;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  if (lpExistingFileName == nullptr || lpNewFileName == nullptr) return FALSE;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> from(vimo::platform::OpenRegularFile(lpExistingFileName),
                                                              &std::fclose);
  if (!from) return FALSE;
  const int fromFd = fileno(from.get());
  struct stat source {};
  if (fstat(fromFd, &source) != 0) return FALSE;
  struct stat target {};
  if (stat(lpNewFileName, &target) == 0) {
    if (bFailIfExists) return FALSE;
    // Copying a file onto itself would truncate it before it is read.
    if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) return FALSE;
  }
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (bFailIfExists ? O_EXCL : O_TRUNC);
  UniqueFd to(open(lpNewFileName, flags, source.st_mode & 0777));
  if (!to.valid()) return FALSE;
  if (!CopyAll(fromFd, to.get())) return FALSE;
  const int result = close(to.release());
  return result == 0 ? TRUE : FALSE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  return (lpFileName != nullptr && unlink(lpFileName) == 0) ? TRUE : FALSE;
}

namespace {

// The entries of pattern's folder that match its name part, in listing order; nullptr when the
// folder cannot be listed.
std::unique_ptr<FindState> ListFolder(const std::string& pattern) {
  const size_t slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : pattern.substr(0, slash + 1);
  const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
  if (!dir) return nullptr;
  auto state = std::make_unique<FindState>();
  while (const dirent* entry = readdir(dir.get())) {
    if (!PatternMatches(namePattern, entry->d_name)) continue;
    if (std::strlen(entry->d_name) >= sizeof(WIN32_FIND_DATAA::cFileName)) continue;
    state->entries.push_back(FoundEntry{entry->d_name, AttributesOf(dir.get(), *entry)});
  }
  std::sort(state->entries.begin(), state->entries.end(), &InListingOrder);
  return state;
}

// The niceness of a listing made ahead, above the program's own.
constexpr int kListingAheadNiceness = 10;
// The listing ListFolderAhead is making, for the search that starts next.
std::mutex g_listingAheadMutex;
std::string g_listingAheadPattern;                         // guarded by the mutex
std::future<std::unique_ptr<FindState>> g_listingAhead;  // guarded by the mutex

// The listing of pattern made ahead, waited for; nullptr when there is none. Any listing made
// ahead goes with the first search after it, so that none is taken long after it was made.
std::unique_ptr<FindState> TakeListingAhead(const std::string& pattern, bool& bMadeAhead) {
  std::future<std::unique_ptr<FindState>> listing;
  std::string madeFor;
  {
    const std::lock_guard<std::mutex> guard(g_listingAheadMutex);
    listing = std::move(g_listingAhead);
    madeFor = std::move(g_listingAheadPattern);
    g_listingAheadPattern.clear();
  }
  bMadeAhead = listing.valid() && madeFor == pattern;
  if (!bMadeAhead) return nullptr;
  return listing.get();
}

}  // namespace

void vimo::platform::LowerThreadPriority(int nNiceness) {
  const auto self = static_cast<id_t>(gettid());
  setpriority(PRIO_PROCESS, self, std::min(19, getpriority(PRIO_PROCESS, self) + nNiceness));
}

void vimo::platform::ListFolderAhead(LPCSTR lpFileName) {
  if (lpFileName == nullptr) return;
  std::future<std::unique_ptr<FindState>> previous;
  const std::lock_guard<std::mutex> guard(g_listingAheadMutex);
  previous = std::move(g_listingAhead);
  g_listingAheadPattern = lpFileName;
  try {
    g_listingAhead = std::async(std::launch::async, [pattern = g_listingAheadPattern] {
      // Made before it is needed: what the start waits for (the window, the first conversion)
      // goes first on a busy machine. The thread ends with the listing.
      LowerThreadPriority(kListingAheadNiceness);
      return ListFolder(pattern);
    });
  } catch (const std::system_error&) {
    g_listingAheadPattern.clear();  // no thread to be had: the search lists the folder itself
  }
}

HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData) {
  if (lpFileName == nullptr || lpFindFileData == nullptr) return INVALID_HANDLE_VALUE;
  bool bMadeAhead = false;
  std::unique_ptr<FindState> state = TakeListingAhead(lpFileName, bMadeAhead);
  if (!bMadeAhead) state = ListFolder(lpFileName);
  if (state == nullptr || state->entries.empty()) return INVALID_HANDLE_VALUE;
  Fill(state->entries[0], lpFindFileData);
  state->next = 1;
  return state.release();  // owned by the caller until FindClose
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData) {
  if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE || lpFindFileData == nullptr) return FALSE;
  auto& state = *static_cast<FindState*>(hFindFile);
  if (state.next >= state.entries.size()) return FALSE;
  Fill(state.entries[state.next++], lpFindFileData);
  return TRUE;
}

BOOL vimo::platform::FindRewind(HANDLE hFindFile) {
  if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE) return FALSE;
  static_cast<FindState*>(hFindFile)->next = 0;
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE) return FALSE;
  std::unique_ptr<FindState> state(static_cast<FindState*>(hFindFile));
  return TRUE;
}

namespace {

FILETIME FileTimeOf(const timespec& time) {
  // From the Unix epoch (1970) to the Windows one (1601): 11644473600 seconds.
  const std::uint64_t ticks = (static_cast<std::uint64_t>(time.tv_sec) + 11644473600ull) * 10000000ull +
                              static_cast<std::uint64_t>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

BOOL FileTimeToLocalSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpLocalTime) {
  if (lpFileTime == nullptr || lpLocalTime == nullptr) return FALSE;
  const std::uint64_t ticks = (static_cast<std::uint64_t>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
  const auto seconds = static_cast<std::int64_t>(ticks / 10000000ull) - 11644473600ll;
  const time_t when = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&when, &local) == nullptr || local.tm_year + 1900 < 1601 || local.tm_year + 1900 > 30827) return FALSE;
  *lpLocalTime = SYSTEMTIME{static_cast<WORD>(local.tm_year + 1900), static_cast<WORD>(local.tm_mon + 1),
                            static_cast<WORD>(local.tm_wday), static_cast<WORD>(local.tm_mday),
                            static_cast<WORD>(local.tm_hour), static_cast<WORD>(local.tm_min),
                            static_cast<WORD>(local.tm_sec), static_cast<WORD>((ticks / 10000u) % 1000u)};
  return TRUE;
}

BOOL GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS /*fInfoLevelId*/, LPVOID lpFileInformation) {
  struct stat info {};
  if (lpFileName == nullptr || lpFileInformation == nullptr || stat(lpFileName, &info) != 0) return FALSE;
  auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation);
  data->dwFileAttributes = AttributesOfMode(info.st_mode);
  data->ftCreationTime = FileTimeOf(info.st_ctim);
  data->ftLastAccessTime = FileTimeOf(info.st_atim);
  data->ftLastWriteTime = FileTimeOf(info.st_mtim);
  data->nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(info.st_size) >> 32);
  data->nFileSizeLow = static_cast<DWORD>(static_cast<std::uint64_t>(info.st_size) & 0xFFFFFFFFu);
  return TRUE;
}

void Sleep(DWORD dwMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds)); }


UINT WinExec(LPCSTR lpCmdLine, UINT /*uCmdShow*/) {
  long pid = 0;
  const UINT result = vimo::platform::StartCommandLine(lpCmdLine, &pid);
  // Nobody waits for this program: a thread of its own reaps it, so no zombie is left.
  if (result > 31) std::thread([pid] { waitpid(static_cast<pid_t>(pid), nullptr, 0); }).detach();
  return result;
}

BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
  if (lpName == nullptr) return FALSE;
  return (lpValue != nullptr ? setenv(lpName, lpValue, 1) : unsetenv(lpName)) == 0 ? TRUE : FALSE;
}

int _stat(const char* path, struct _stat* buffer) {
  struct stat info {};
  if (path == nullptr || buffer == nullptr || stat(path, &info) != 0) return -1;
  buffer->st_size = info.st_size;
  buffer->st_mode = info.st_mode;
  return 0;
}

char* _itoa(int value, char* buffer, int radix) {
  if (radix == 10) {
    std::snprintf(buffer, 12, "%d", value);
    return buffer;
  }
  if (radix < 2 || radix > 36) {
    buffer[0] = '\0';
    return buffer;
  }
  auto magnitude = static_cast<unsigned int>(value);
  char digits[40];
  int count = 0;
  do {
    const unsigned int digit = magnitude % static_cast<unsigned int>(radix);
    digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    magnitude /= static_cast<unsigned int>(radix);
  } while (magnitude != 0);
  for (int i = 0; i < count; ++i) buffer[i] = digits[count - 1 - i];
  buffer[count] = '\0';
  return buffer;
}

int _mbscmp(const unsigned char* string1, const unsigned char* string2) {
  return std::strcmp(reinterpret_cast<const char*>(string1), reinterpret_cast<const char*>(string2));
}

namespace vimo::platform {

UINT StartCommandLine(const char* cmdLine, long* pPid) {
  if (cmdLine == nullptr || pPid == nullptr) return 2;
  std::vector<std::string> words = SplitCommandLine(cmdLine);
  if (words.empty()) return 2;
  const std::string program = FindProgram(words[0]);
  if (program.empty()) return 2;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  // The program starts clean: no input, none of this process's descriptors, default signal
  // handling, and a session of its own, so that a signal meant for the viewer's terminal does
  // not cut a mail short.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigfillset(&signals);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return 2;
  *pPid = pid;
  return 33;
}

std::vector<std::string> SplitCommandLine(const char* cmdLine) {
  std::vector<std::string> words;
  if (cmdLine == nullptr) return words;
  const std::string_view line = cmdLine;
  std::string word;
  bool inWord = false;  // a word has begun, perhaps with a pair of quotes around nothing
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(std::exchange(word, std::string()));
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      const std::size_t end = std::min(line.find_first_not_of('\\', i), line.size());
      const std::size_t count = end - i;
      const bool beforeQuote = end < line.size() && line[end] == '"';
      word.append(beforeQuote ? count / 2 : count, '\\');
      i = beforeQuote ? end : end - 1;
      if (beforeQuote && count % 2 == 1) word += '"';
      else if (beforeQuote) quoted = !quoted;
      continue;
    }
    if (c == '"') quoted = !quoted;
    else word += c;
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::string QuoteCommandLineArgument(const char* argument) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;  // the run just read, written once its end is known
  for (const char* p = argument != nullptr ? argument : ""; *p != '\0'; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    // Before a quote the run is doubled and one more escapes the quote; elsewhere it stays.
    quoted.append(*p == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    quoted += *p;
    backslashes = 0;
  }
  // Before the closing quote the run is doubled, so that the quote still groups.
  quoted.append(2 * backslashes, '\\');
  return quoted + '"';
}

std::FILE* OpenRegularFile(const char* path) {
  UniqueFd file = vimo::posix::OpenRegularFd(path);
  if (!file.valid()) return nullptr;
  std::FILE* stream = fdopen(file.get(), "rb");
  if (stream != nullptr) file.release();  // the stream owns it now
  return stream;
}

std::string CreateFreshFile(const std::string& folder, const char* suffix) {
  const std::string ending = suffix != nullptr ? suffix : "";
  std::string templ = folder + ".new-XXXXXX" + ending;
  const int fd = mkstemps(templ.data(), static_cast<int>(ending.size()));
  if (fd < 0) return {};
  close(fd);
  return templ;
}

std::string FollowLinks(const char* path) {
  constexpr int kMostLinks = 40;  // as the kernel allows in one path
  std::string current = path != nullptr ? path : "";
  for (int link = 0; link < kMostLinks; ++link) {
    struct stat info {};
    if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string named(PATH_MAX, '\0');
    const ssize_t length = readlink(current.c_str(), named.data(), named.size());
    if (length < 0) return {};
    named.resize(static_cast<std::size_t>(length));
    const std::size_t slash = current.rfind('/');
    current = named[0] == '/' || slash == std::string::npos ? named : current.substr(0, slash + 1) + named;
  }
  errno = ELOOP;
  return {};
}

std::string CreateFreshFileFor(const std::string& target) {
  struct stat info {};
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    errno = ENXIO;
    return {};
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = target.substr(folder.size());
  const std::size_t dot = name.rfind('.');
  const std::string endings[] = {"-" + name, dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot)};
  static thread_local std::mt19937 random{std::random_device{}()};
  constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (const std::string& ending : endings) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string fresh = folder + ".new-";
      for (int i = 0; i < 6; ++i) fresh += kLetters[random() % (sizeof(kLetters) - 1)];
      fresh += ending;
      // A new file's mode is left to the umask; an existing file's is copied as it is.
      const int fd = open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd < 0 && errno == ENAMETOOLONG) break;
      if (fd < 0) return {};
      const bool made = (!exists || fchmod(fd, info.st_mode & 07777) == 0) & (close(fd) == 0);
      if (made) return fresh;
      const int error = errno;
      unlink(fresh.c_str());
      errno = error;
      return {};
    }
  }
  if (errno != ENAMETOOLONG) errno = EEXIST;
  return {};
}

void IgnoreFileSizeSignal() { signal(SIGXFSZ, SIG_IGN); }

std::uint64_t FreeBytesAt(const char* path) {
  struct statvfs info {};
  if (path == nullptr || statvfs(path, &info) != 0) return UINT64_MAX;
  // The blocks kept back for the superuser are free to root only.
  const std::uint64_t blocks = geteuid() == 0 ? info.f_bfree : info.f_bavail;
  return blocks * info.f_frsize;
}

int RemoveFileReleasingLater(const char* path) {
  // A path descriptor keeps the file alive past the unlink without opening it (nothing happens
  // to a FIFO or device); the file is freed when the last descriptor is closed.
  const int holder = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (unlink(path) != 0) {
    const int error = errno;
    if (holder >= 0) close(holder);
    errno = error;
    return -1;
  }
  if (holder < 0) return 0;
  try {
    std::thread([holder] { close(holder); }).detach();
  } catch (const std::system_error&) {
    close(holder);
  }
  return 0;
}

std::string ExecutableFolder() {
  char path[PATH_MAX] = "";
  const std::string executable = GetModuleFileNameA(nullptr, path, sizeof(path)) != 0 ? path : "";
  return executable.empty() ? std::string("./") : executable.substr(0, executable.rfind('/') + 1);
}

}  // namespace vimo::platform
