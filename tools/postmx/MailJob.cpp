#include "MailJob.h"

#include "MimeText.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

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

// Reads a regular file whole, but never more than limit bytes of it: an oversized file is
// noticed (tooLarge) without being held whole.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes,
                   bool& tooLarge, std::string& error) {
  tooLarge = false;
  std::error_code status;
  const std::filesystem::file_type type = std::filesystem::status(path, status).type();
  if (type == std::filesystem::file_type::not_found) {
    error = "no such file";
    return false;
  }
  if (type != std::filesystem::file_type::regular) {
    error = status ? status.message() : std::string("not a regular file");
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  bytes.clear();
  std::vector<char> chunk(64 * 1024);
  while (file) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    bytes.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
    if (bytes.size() > limit) {
      tooLarge = true;
      error = "larger than " + std::to_string(limit >> 20) + " MiB";
      return false;
    }
  }
  if (file.bad()) {
    error = "read error";
    return false;
  }
  return true;
}

}  // namespace

bool ReadJobFile(const std::string& path, std::string& text, std::string& error) {
  bool tooLarge = false;
  return ReadWholeFile(path, kMaxJobFileBytes, text, tooLarge, error);
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
  return true;
}

bool LoadAttachments(const std::vector<std::string>& paths, std::vector<Attachment>& attachments,
                     std::string& error) {
  attachments.clear();
  std::size_t total = 0;
  for (const std::string& path : paths) {
    Attachment attachment;
    attachment.path = path;
    attachment.fileName = path.substr(path.rfind('/') + 1);
    attachment.contentType = ContentTypeForName(attachment.fileName);
    std::string reason;
    bool tooLarge = false;
    if (!ReadWholeFile(path, kMaxAttachmentBytes - total, attachment.bytes, tooLarge, reason)) {
      error = tooLarge ? "attachments together larger than " +
                             std::to_string(kMaxAttachmentBytes >> 20) + " MiB"
                       : "attachment " + SanitizeForLine(path) + " cannot be read: " + reason;
      return false;
    }
    total += attachment.bytes.size();
    attachments.push_back(std::move(attachment));
  }
  return true;
}

}  // namespace postmx
