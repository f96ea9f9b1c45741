#include "MailJob.h"

#include "MimeText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "posix/RegularFile.h"

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

// Opens path for reading when it is a regular file, without ever blocking, and takes its size.
// An invalid descriptor, with the reason in error, when it cannot.
vimo::posix::UniqueFd OpenRegularFile(const std::string& path, std::uint64_t& size, std::string& error) {
  struct stat info {};
  vimo::posix::UniqueFd file = vimo::posix::OpenRegularFd(path.c_str(), &info);
  if (!file.valid()) {
    error = errno == ENOENT ? "no such file"
            : errno == EISDIR || errno == ENXIO ? "not a regular file"
                                                : std::strerror(errno);
    return file;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  return file;
}

}  // namespace

bool ReadJobFile(const std::string& path, std::string& text, std::string& error) {
  std::uint64_t size = 0;
  const vimo::posix::UniqueFd file = OpenRegularFile(path, size, error);
  if (!file.valid()) return false;
  if (size > kMaxJobFileBytes) {
    error = "larger than " + std::to_string(kMaxJobFileBytes >> 20) + " MiB";
    return false;
  }
  text.assign(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t got = read(file.get(), text.data() + done, text.size() - done);
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
    attachment.file = OpenRegularFile(path, attachment.size, reason);
    if (!attachment.file.valid()) {
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

}  // namespace postmx
