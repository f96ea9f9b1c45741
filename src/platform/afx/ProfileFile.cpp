#include "afx/ProfileFile.h"

#include <minIni.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "win32/SafeFiles.h"

namespace vimo::platform {
namespace {

// minIni reads a line through a 512-byte buffer; a longer line would be read as two, and its
// second half could pass for a section or an entry of its own.
constexpr size_t kLongestLine = 510;

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Names of sections and entries compare as minIni compares them: ASCII case folded.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view text = Trimmed(line);
  const size_t close = text.rfind(']');
  if (text.empty() || text[0] != '[' || close == std::string_view::npos) return std::nullopt;
  return Trimmed(text.substr(1, close - 1));
}

std::optional<std::string_view> EntryName(std::string_view line) {
  const std::string_view text = Trimmed(line);
  if (text.empty() || text[0] == ';' || text[0] == '#') return std::nullopt;
  size_t separator = text.find('=');
  if (separator == std::string_view::npos) separator = text.find(':');
  if (separator == std::string_view::npos) return std::nullopt;
  return Trimmed(text.substr(0, separator));
}

// The value as minIni reads it back: in double quotes (inner ones escaped) when it holds a
// quote or a comment mark, or starts or ends with a blank, which the reader would strip.
std::string Quoted(std::string_view value) {
  const bool plain = value.find_first_of("\";#") == std::string_view::npos &&
                     (value.empty() || (value.front() != ' ' && value.front() != '\t' && value.back() != ' ' &&
                                        value.back() != '\t'));
  if (plain) return std::string(value);
  std::string quoted = "\"";
  for (const char c : value) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, start, end - start);
    start = end + 1;
  }
  return lines;
}

// The text with the entry's line replaced, added or (line empty) removed.
std::string Edited(const std::string& text, std::string_view section, std::string_view entry,
                   const std::optional<std::string>& line) {
  std::vector<std::string> lines = Lines(text);
  size_t begin = 0;
  while (begin < lines.size() && !(SectionName(lines[begin]) && SameName(*SectionName(lines[begin]), section))) ++begin;
  if (begin == lines.size()) {
    if (!line) return text;
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(*line);
  } else {
    size_t end = begin + 1;
    while (end < lines.size() && !SectionName(lines[end])) ++end;
    size_t at = begin + 1;
    while (at < end && !(EntryName(lines[at]) && SameName(*EntryName(lines[at]), entry))) ++at;
    if (at < end && line) {
      lines[at] = *line;
    } else if (at < end) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (line) {
      // After the section's last line that is not blank, so blank lines keep separating sections.
      while (end > begin + 1 && Trimmed(lines[end - 1]).empty()) --end;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end), *line);
    } else {
      return text;
    }
  }
  std::string result;
  for (const std::string& each : lines) result += each + '\n';
  return result;
}

// The file's bytes; empty when there is no file; nullopt when it cannot be read.
std::optional<std::string> ReadAll(const char* path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rbe"), &std::fclose);
  if (!file) return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
  std::string bytes;
  char block[4096];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof(block), file.get())) > 0) bytes.append(block, got);
  if (std::ferror(file.get())) return std::nullopt;
  return bytes;
}

}  // namespace

std::string ReadProfileString(const char* path, const char* section, const char* entry, const char* fallback) {
  char buffer[kLongestLine + 2];
  ini_gets(section, entry, fallback != nullptr ? fallback : "", buffer, sizeof(buffer), path);
  return buffer;
}

long ReadProfileInt(const char* path, const char* section, const char* entry, long fallback) {
  return ini_getl(section, entry, fallback, path);
}

bool IsStorableProfileValue(const char* entry, const char* value) {
  if (entry == nullptr || value == nullptr) return false;
  const std::string line = std::string(entry) + "=" + Quoted(value);
  return std::string_view(value).find_first_of("\r\n") == std::string_view::npos && line.size() <= kLongestLine;
}

const ProfileEdit* LastEditOf(const std::vector<ProfileEdit>& edits, std::string_view section, std::string_view entry) {
  for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit) {
    if (SameName(edit->section, section) && SameName(edit->entry, entry)) return &*edit;
  }
  return nullptr;
}

bool WriteProfileStrings(const char* path, const std::vector<ProfileEdit>& edits) {
  if (path == nullptr) return false;
  const std::optional<std::string> old = ReadAll(path);
  if (!old) return false;
  std::string text = *old;
  bool storable = true;
  for (const ProfileEdit& edit : edits) {
    std::optional<std::string> line;
    if (edit.value) {
      if (IsStorableProfileValue(edit.entry.c_str(), edit.value->c_str())) line = edit.entry + "=" + Quoted(*edit.value);
      else storable = false;
    }
    text = Edited(text, edit.section, edit.entry, line);
  }
  if (text == *old) return storable;
  return ReplaceFileAtomically(path, text, 0666) && storable;
}

bool WriteProfileString(const char* path, const char* section, const char* entry, const char* value) {
  if (section == nullptr || entry == nullptr) return false;
  ProfileEdit edit{section, entry, std::nullopt};
  if (value != nullptr) edit.value = value;
  return WriteProfileStrings(path, {edit});
}

}  // namespace vimo::platform
