#include "SendLog.h"

#include "MimeText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace postmx {
namespace {

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return "?";
  return text;
}

bool AppendToFile(const std::string& path, const std::string& line, std::string& error) {
  const int file = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) {
    error = std::strerror(errno);
    return false;
  }
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t count = write(file, line.data() + written, line.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      error = std::strerror(errno);
      close(file);
      return false;
    }
    written += static_cast<std::size_t>(count);
  }
  if (close(file) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

void AppendLogLine(const std::string& logPath, const std::string& result,
                   const std::vector<std::string>& recipients, std::size_t attachmentCount,
                   const std::string& jobName) {
  std::string to;
  for (const std::string& recipient : recipients) {
    if (!to.empty()) to += ", ";
    to += recipient;
  }
  const std::string line = LocalTimeText() + "\t" + SanitizeForLine(result) + "\tto: " +
                           SanitizeForLine(to) + "\tattachments: " +
                           std::to_string(attachmentCount) + "\tjob: " +
                           SanitizeForLine(jobName) + "\n";
  std::string error = "no log file named";
  if (!logPath.empty() && AppendToFile(logPath, line, error)) return;
  std::fprintf(stderr, "Postmx.exe: cannot write the log %s (%s): %s", logPath.c_str(),
               error.c_str(), line.c_str());
}

}  // namespace postmx
