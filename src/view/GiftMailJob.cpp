#include "view/GiftMailJob.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

CString MakeRecipientLine(const CString& strTo) {
  std::string rest = strTo.str();
  std::string list;
  const auto add = [&list](const std::string& address) {
    if (!list.empty()) list += '\t';
    list += address;
  };
  for (size_t at = rest.find("\r\n"); at != std::string::npos; at = rest.find("\r\n")) {
    if (at > 0) add(rest.substr(0, at));
    rest.erase(0, at + 2);
  }
  if (!rest.empty()) add(rest);
  return CString(list);
}

CString MakeAttachmentLine(const std::vector<CString>& paths) {
  CString line;
  for (const CString& path : paths) {
    if (!line.IsEmpty()) line += '\t';
    line += path;
  }
  return line;
}

CString MakeMailJobText(const char* logPath, const CString& server, const CString& to, const CString& from,
                        const CString& subject, const CString& attachments, const CString& body) {
  std::string text = logPath;
  text += "\n" + server.str();
  text += "\n" + MakeRecipientLine(to).str();
  text += "\n" + from.str();
  text += "\n" + subject.str();
  text += "\n" + attachments.str();
  std::string rest = body.str();
  for (size_t at = rest.find("\r\n"); at != std::string::npos; at = rest.find("\r\n")) {
    text += "\n" + rest.substr(0, at);
    rest.erase(0, at + 2);
  }
  text += "\n" + rest;
  return CString(text);
}

int WriteMailJobFile(const char* path, const CString& text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "wb"), &std::fclose);
  if (!file) return 0;
  // Stored as a text file is on Windows: every LF becomes CR LF.
  std::string stored;
  stored.reserve(static_cast<size_t>(text.GetLength()) + 64);
  for (const char c : text.str()) {
    if (c == '\n') stored += '\r';
    stored += c;
  }
  const size_t taken = std::fwrite(stored.data(), 1, stored.size(), file.get());
  const int closed = std::fclose(file.release());
  return (taken == stored.size() && closed == 0) ? 1 : -1;
}

namespace {

bool IsControlByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// The sender's log grows by one line per send; the lines of a send just ended are at its end.
constexpr long kLogTailBytes = 64 * 1024;

}  // namespace

BOOL IsMailablePath(const char* path) {
  const std::string text = path;
  return std::none_of(text.begin(), text.end(), IsControlByte) ? TRUE : FALSE;
}

CString VisiblePath(const char* path) {
  std::string visible;
  for (const char* p = path; *p != '\0'; ++p) {
    if (!IsControlByte(*p)) {
      visible += *p;
      continue;
    }
    if (*p == '\t') visible += "\\t";
    else if (*p == '\r') visible += "\\r";
    else if (*p == '\n') visible += "\\n";
    else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(*p));
      visible += escaped;
    }
  }
  return CString(visible);
}

CString SendFailureReason(const char* logPath, const char* jobName, int exitStatus) {
  const std::string fallback = "Postmx.exe ended with status " + std::to_string(exitStatus);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(logPath, "rb"), &std::fclose);
  if (!file) return CString(fallback);
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return CString(fallback);
  const long size = std::ftell(file.get());
  const long start = std::max(0L, size - kLogTailBytes);
  if (size < 0 || std::fseek(file.get(), start, SEEK_SET) != 0) return CString(fallback);
  std::string tail(static_cast<size_t>(size - start), '\0');
  tail.resize(std::fread(tail.data(), 1, tail.size(), file.get()));
  // Lines are "<time>\t<result>\tto: ...\tattachments: N\tjob: <name>".
  const std::string ending = std::string("\tjob: ") + jobName;
  std::string reason;
  for (size_t lineStart = 0; lineStart < tail.size();) {
    size_t lineEnd = tail.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = tail.size();
    const std::string line = tail.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (!line.ends_with(ending)) continue;
    const size_t resultStart = line.find('\t');
    const size_t resultEnd = line.find('\t', resultStart + 1);
    if (resultStart != std::string::npos && resultEnd != std::string::npos) {
      reason = line.substr(resultStart + 1, resultEnd - resultStart - 1);
    }
  }
  return CString(reason.empty() ? fallback : "Postmx.exe: " + reason);
}
