#include "MailJob.h"

#include "MimeText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace postmx {
namespace {

constexpr std::size_t kJobLineCount = 7;

std::string_view TrimBlanks(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string> SplitAtTabs(std::string_view text) {
  std::vector<std::string> items;
  for (;;) {
    const std::size_t tab = text.find('\t');
    items.emplace_back(text.substr(0, tab));
    if (tab == std::string_view::npos) return items;
    text.remove_prefix(tab + 1);
  }
}

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// Opens path for reading when it is a regular file (symlinks followed) and takes its size. The
// status is looked at before the open, so that a device or FIFO is never opened at all, and
// after it, in case the name was replaced in between.
bool OpenRegularFile(const std::string& path, FileDescriptor& file, std::uint64_t& size,
                     std::string& error) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    error = errno == ENOENT ? "no such file" : std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "not a regular file";
    return false;
  }
  file.Reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Get() < 0) {
    error = std::strerror(errno);
    return false;
  }
  if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "not a regular file";
    return false;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

// Follows a path character by character against the pieces of a command line split at blanks:
// the path must be the pieces in order, with one or more blanks or TABs between them and none
// anywhere else.
class SplitPathMatcher {
 public:
  explicit SplitPathMatcher(const std::vector<std::string>& pieces) : m_pieces(&pieces) {}

  void Feed(char c) {
    if (m_failed) return;
    const std::string& piece = (*m_pieces)[m_piece];
    if (c == ' ' || c == '\t') {
      if (m_inGap) return;
      if (m_offset != piece.size() || m_piece + 1 == m_pieces->size()) {
        m_failed = true;
        return;
      }
      ++m_piece;
      m_offset = 0;
      m_inGap = true;
      return;
    }
    m_inGap = false;
    if (m_offset < piece.size() && piece[m_offset] == c) {
      ++m_offset;
      return;
    }
    m_failed = true;
  }
  bool Failed() const { return m_failed; }
  bool Complete() const {
    return !m_failed && !m_inGap && m_piece + 1 == m_pieces->size() &&
           m_offset == (*m_pieces)[m_piece].size();
  }

 private:
  const std::vector<std::string>* m_pieces;
  std::size_t m_piece = 0;
  std::size_t m_offset = 0;
  bool m_inGap = false;
  bool m_failed = false;
};

// Lists folder (a path ending in '/', or empty for the current folder) and follows every entry
// that fits the pieces so far; regular files that complete them are added to found. Stops once
// two are found: the path is then ambiguous anyway.
void SearchSplitPath(const std::string& folder, const SplitPathMatcher& matcher,
                     std::vector<std::string>& found) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), &closedir);
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    if (found.size() > 1) return;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    SplitPathMatcher next = matcher;
    for (const char c : name) next.Feed(c);
    if (next.Failed()) continue;
    const std::string path = folder + name;
    std::error_code ignored;
    if (next.Complete()) {
      if (std::filesystem::is_regular_file(path, ignored)) found.push_back(path);
      continue;
    }
    next.Feed('/');
    if (!next.Failed() && std::filesystem::is_directory(path, ignored)) {
      SearchSplitPath(path + "/", next, found);
    }
  }
}

}  // namespace

bool ReadJobFile(const std::string& path, std::string& text, std::string& error) {
  FileDescriptor file;
  std::uint64_t size = 0;
  if (!OpenRegularFile(path, file, size, error)) return false;
  if (size > kMaxJobFileBytes) {
    error = "larger than " + std::to_string(kMaxJobFileBytes >> 20) + " MiB";
    return false;
  }
  text.assign(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t got = read(file.Get(), text.data() + done, text.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  text.resize(done);
  return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  for (;;) {
    const std::size_t lineFeed = text.find('\n');
    if (lineFeed == std::string_view::npos) {
      lines.emplace_back(text);
      return lines;
    }
    std::string_view line = text.substr(0, lineFeed);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    text.remove_prefix(lineFeed + 1);
  }
}

bool ParseMailJob(std::string_view text, MailJob& job, std::string& error) {
  job = MailJob{};
  const std::vector<std::string> lines = SplitLines(text);
  // Line 1 counts only when its line end was read: a cut-off path names no real log.
  if (lines.size() > 1) job.logPath = lines[0];
  if (lines.size() < kJobLineCount) {
    error = "job file has " + std::to_string(lines.size()) + " lines, at least " +
            std::to_string(kJobLineCount) + " expected";
    return false;
  }
  job.server = TrimBlanks(lines[1]);
  for (const std::string& recipient : SplitAtTabs(lines[2])) {
    const std::string_view address = TrimBlanks(recipient);
    if (!address.empty()) job.recipients.emplace_back(address);
  }
  job.sender = TrimBlanks(lines[3]);
  job.subject = lines[4];
  for (std::string& path : SplitAtTabs(lines[5])) {
    if (!path.empty()) job.attachmentPaths.push_back(std::move(path));
  }
  job.bodyLines.assign(lines.begin() + 6, lines.end());

  if (job.logPath.empty()) {
    error = "no log file named on line 1";
    return false;
  }
  if (job.server.empty()) {
    error = "no mail server named on line 2";
    return false;
  }
  if (job.recipients.empty()) {
    error = "no recipient on line 3";
    return false;
  }
  if (job.sender.empty()) {
    error = "no sender on line 4";
    return false;
  }
  for (const std::string& address : job.recipients) {
    if (EnvelopeAddress(address).empty()) {
      error = "unusable recipient address \"" + SanitizeForLine(address) + "\"";
      return false;
    }
  }
  if (EnvelopeAddress(job.sender).empty()) {
    error = "unusable sender address \"" + SanitizeForLine(job.sender) + "\"";
    return false;
  }
  for (const std::string& path : job.attachmentPaths) {
    if (std::find_if(path.begin(), path.end(), IsControl) != path.end()) {
      error = "attachment path " + SanitizeForLine(path) + " holds a control character";
      return false;
    }
    if (path.front() != '/') {
      error = "attachment path " + path + " is not absolute";
      return false;
    }
  }
  return true;
}

FileDescriptor::~FileDescriptor() { Reset(-1); }

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) Reset(std::exchange(other.m_fd, -1));
  return *this;
}

void FileDescriptor::Reset(int fd) {
  if (m_fd >= 0) close(m_fd);
  m_fd = fd;
}

bool OpenAttachments(const std::vector<std::string>& paths, std::vector<Attachment>& attachments,
                     std::string& error) {
  attachments.clear();
  std::uint64_t total = 0;
  for (const std::string& path : paths) {
    Attachment attachment;
    attachment.path = path;
    attachment.fileName = path.substr(path.rfind('/') + 1);
    attachment.contentType = ContentTypeForName(attachment.fileName);
    std::string reason;
    if (!OpenRegularFile(path, attachment.file, attachment.size, reason)) {
      error = "attachment " + SanitizeForLine(path) + " cannot be read: " + reason;
      return false;
    }
    total += attachment.size;
    if (total > kMaxAttachmentBytes) {
      error = "attachments together larger than " + std::to_string(kMaxAttachmentBytes >> 20) + " MiB";
      return false;
    }
    attachments.push_back(std::move(attachment));
  }
  return true;
}

std::string FindJobPath(const std::vector<std::string>& pieces) {
  if (pieces.empty()) return {};
  if (pieces.size() == 1) return pieces[0];
  // The first piece holds no blank, so the folders it names are taken as they are.
  const std::size_t lastSlash = pieces[0].rfind('/');
  const std::string start = lastSlash == std::string::npos ? "" : pieces[0].substr(0, lastSlash + 1);
  SplitPathMatcher matcher(pieces);
  for (const char c : start) matcher.Feed(c);
  std::vector<std::string> found;
  SearchSplitPath(start, matcher, found);
  return found.size() == 1 ? found[0] : std::string();
}

}  // namespace postmx
