#include "app/GiftSettingsFile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Globals.h"
#include "win32/SafeFiles.h"

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The reader sees the file as a text stream: each CR LF reads as one LF.
std::string ReadAsText(std::FILE* file) {
  std::string bytes;
  char block[8192];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof(block), file)) > 0) bytes.append(block, got);
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  return text;
}

// Hands out the text the way a line buffer of 8192 bytes takes it: up to and including the
// next LF, at most 8191 bytes per piece, so a longer line arrives in pieces. A piece is a C
// string: a NUL byte ends it.
class LineReader {
 public:
  explicit LineReader(std::string text) : m_text(std::move(text)) {}

  bool Next(std::string& line) {
    if (m_pos >= m_text.size()) return false;
    constexpr size_t kMaxPiece = 8191;
    size_t end = m_text.find('\n', m_pos);
    end = (end == std::string::npos) ? m_text.size() : end + 1;
    if (end - m_pos > kMaxPiece) end = m_pos + kMaxPiece;
    line.assign(m_text, m_pos, end - m_pos);
    m_pos = end;
    const size_t nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    return true;
  }

 private:
  std::string m_text;
  size_t m_pos = 0;
};

bool StartsWith(const std::string& line, const char* key) { return line.compare(0, std::strlen(key), key) == 0; }

void StripLineFeed(std::string& line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
}

// The recipient block: one recipient per line until a line of fewer than 3 bytes (with its
// LF), which ends the block. Returns false at end of file; otherwise line holds the next line
// for the main loop.
bool ReadRecipients(LineReader& reader, std::string& line) {
  if (!reader.Next(line)) return false;
  for (;;) {
    if (line.size() < 3) return reader.Next(line);
    StripLineFeed(line);
    if (g_strTo.IsEmpty()) {
      g_strTo = line.c_str();
    } else {
      g_strTo += "\r\n";
      g_strTo += line.c_str();
    }
    if (!reader.Next(line)) return false;
  }
}

// The body block: every following line, its LF given back as the CR LF it was written as.
void ReadBody(LineReader& reader) {
  std::string line;
  while (reader.Next(line)) {
    // A line that is a line break alone was written as CR LF too; give it back as such so
    // that blank lines of the body survive a round trip.
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      line += "\r\n";
    }
    g_strBody += line.c_str();
  }
}

}  // namespace

void WriteGiftSettings(const char* path) {
  if (path == nullptr) return;
  // Each part ends at its first NUL byte, as a C string written out does.
  std::string bytes;
  for (const CString& part : {"\tServer\t" + g_strServer + "\r\n", CString("\tTo\r\n"), g_strTo + "\r\n\r\n",
                              "\tFrom\t" + g_strFrom + "\r\n", "\tSubject\t" + g_strSubject + "\r\n",
                              CString("\tBody\r\n"), g_strBody}) {
    bytes += static_cast<const char*>(part);
  }
  // The server may carry a password: a new file is the user's alone. The old file is replaced
  // whole, never truncated first, so a failed write keeps it.
  vimo::platform::ReplaceFileAtomically(path, bytes, 0600);
}

void ReadGiftSettings(const char* path) {
  FilePtr file(std::fopen(path, "rb"), &std::fclose);
  if (!file) return;
  LineReader reader(ReadAsText(file.get()));
  file.reset();

  std::string line;
  if (!reader.Next(line)) return;
  for (;;) {
    StripLineFeed(line);
    if (StartsWith(line, "\tServer\t")) {
      g_strServer = line.c_str() + 8;
    } else if (StartsWith(line, "\tFrom\t")) {
      g_strFrom = line.c_str() + 6;
    } else if (StartsWith(line, "\tSubject\t")) {
      g_strSubject = line.c_str() + 9;
    } else if (StartsWith(line, "\tTo")) {
      if (!ReadRecipients(reader, line)) return;
      continue;
    } else if (StartsWith(line, "\tBody")) {
      ReadBody(reader);
      return;
    }
    if (!reader.Next(line)) return;
  }
}
