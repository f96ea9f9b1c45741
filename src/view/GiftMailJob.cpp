#include "view/GiftMailJob.h"

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
