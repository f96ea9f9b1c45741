#include "MimeText.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace postmx {
namespace {

// Encoded words are kept short enough to follow a field name on the field's first line
// ("Subject: " and the word within 78 characters).
constexpr std::size_t kMaxEncodedWord = 66;
// Bytes of a file name per RFC 2231 section: percent-encoded, a section and its parameter name
// fit one folded line.
constexpr std::size_t kMaxParameterSectionBytes = 16;
// Header lines are folded to at most this many characters where a blank allows it.
constexpr std::size_t kMaxFoldedLine = 78;
// The longest address SMTP carries (RFC 5321 4.5.3.1.3, less the angle brackets).
constexpr std::size_t kMaxAddress = 254;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsPrintableAscii(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || IsControl(byte)) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// True when text holds a run of characters without a blank too long for a folded line of its
// own: such text is sent as encoded words, which can be cut anywhere.
bool HasUnfoldableRun(std::string_view text) {
  std::size_t run = 0;
  for (const char c : text) {
    run = IsBlank(c) ? 0 : run + 1;
    if (run >= kMaxFoldedLine) return true;
  }
  return false;
}

// Plain text that can stand in a header as it is.
bool CanStandUnencoded(std::string_view text) {
  return IsPrintableAscii(text) && !HasUnfoldableRun(text) &&
         text.find("=?") == std::string_view::npos;
}

// Length in bytes of the character starting at text[at], in the given charset.
std::size_t CharacterLength(std::string_view text, std::size_t at, bool utf8) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 1;
  if (utf8) {
    if (lead >= 0xF0) length = 4;
    else if (lead >= 0xE0) length = 3;
    else if (lead >= 0xC0) length = 2;
  } else if ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) {
    length = 2;
  }
  return std::min(length, text.size() - at);
}

// Cuts text into pieces of at most maxBytes bytes, never inside a character (a character longer
// than maxBytes makes a piece of its own).
template <typename Emit>
void CutAtCharacters(std::string_view text, std::size_t maxBytes, Emit emit) {
  const bool utf8 = IsValidUtf8(text);
  std::size_t start = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = CharacterLength(text, at, utf8);
    if (at + length - start > maxBytes && at > start) {
      emit(text.substr(start, at - start));
      start = at;
    }
    at += length;
  }
  if (at > start) emit(text.substr(start, at - start));
}

// RFC 2231 attribute characters that may stand unencoded.
bool IsAttributeCharacter(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string PercentEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsAttributeCharacter(byte)) {
      encoded += c;
      continue;
    }
    encoded += '%';
    encoded += kHex[byte >> 4];
    encoded += kHex[byte & 0x0F];
  }
  return encoded;
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace

std::string SanitizeForLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (IsControl(static_cast<unsigned char>(c))) c = ' ';
  }
  return line;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++at;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - at < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    at += length;
  }
  return true;
}

const char* CharsetOf(std::string_view text) {
  return IsValidUtf8(text) ? "UTF-8" : "Shift_JIS";
}

std::string EncodeWords(std::string_view text) {
  const std::string prefix = std::string("=?") + CharsetOf(text) + "?B?";
  const std::size_t encodedRoom = kMaxEncodedWord - prefix.size() - 2;
  const std::size_t bytesPerWord = encodedRoom / 4 * 3;
  std::string words;
  CutAtCharacters(text, bytesPerWord, [&](std::string_view piece) {
    if (!words.empty()) words += ' ';
    words += prefix + Base64(piece) + "?=";
  });
  return words;
}

std::string SubjectField(std::string_view subject) {
  if (CanStandUnencoded(subject)) return std::string(subject);
  return EncodeWords(subject);
}

std::string FoldField(std::string_view name, std::string_view value) {
  const std::string text = std::string(name) + ": " + std::string(value);
  // A fold goes before a blank; every line keeps a visible character, so no fold is placed in
  // the blanks at the end, nor right after the name (some readers keep that blank).
  const std::size_t lastVisible = text.find_last_not_of(" \t");
  std::string folded;
  std::size_t lineStart = 0;
  while (lastVisible != std::string::npos && text.size() - lineStart > kMaxFoldedLine) {
    const std::size_t firstVisible = text.find_first_not_of(" \t", lineStart);
    std::size_t fold = std::string::npos;
    for (std::size_t at = std::max(firstVisible + 1, name.size() + 2); at < lastVisible; ++at) {
      if (!IsBlank(text[at]) || IsBlank(text[at - 1])) continue;
      if (at - lineStart > kMaxFoldedLine && fold != std::string::npos) break;
      fold = at;
      if (at - lineStart > kMaxFoldedLine) break;  // nothing fitted: the shortest longer line
    }
    if (fold == std::string::npos) break;
    folded.append(text, lineStart, fold - lineStart);
    folded += "\r\n";
    lineStart = fold;
  }
  folded.append(text, lineStart);
  return folded;
}

std::string EnvelopeAddress(std::string_view text) {
  // A control byte anywhere (a CR in the name, say) would end up in a header or command line.
  for (const char c : text) {
    if (c != '\t' && IsControl(static_cast<unsigned char>(c))) return {};
  }
  const std::size_t open = text.rfind('<');
  if (open != std::string_view::npos) {
    const std::size_t close = text.find('>', open);
    if (close == std::string_view::npos) return {};
    text = text.substr(open + 1, close - open - 1);
  }
  text = TrimBlanks(text);
  if (text.size() > kMaxAddress) return {};
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == ' ' || IsControl(byte) || c == '<' || c == '>') return {};
  }
  return std::string(text);
}

std::string AddressField(std::string_view text) {
  const std::string address = EnvelopeAddress(text);
  const std::size_t open = text.rfind('<');
  const std::string_view name =
      open == std::string_view::npos ? std::string_view() : TrimBlanks(text.substr(0, open));
  if (name.empty()) return address;
  if (!CanStandUnencoded(name)) return EncodeWords(name) + " <" + address + ">";
  const bool quoted = name.size() >= 2 && name.front() == '"' && name.back() == '"';
  const bool plain = name.find_first_of("()<>[]:;@\\,.\"") == std::string_view::npos;
  if (quoted || plain) return std::string(name) + " <" + address + ">";
  return Quoted(name) + " <" + address + ">";
}

std::string ContentTypeForName(std::string_view fileName) {
  std::string lower(fileName);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const auto endsWith = [&lower](std::string_view ending) { return lower.ends_with(ending); };
  if (endsWith(".jpg") || endsWith(".jpeg") || endsWith(".jpe")) return "image/jpeg";
  if (endsWith(".gif")) return "image/gif";
  if (endsWith(".bmp")) return "image/bmp";
  if (endsWith(".pcd")) return "image/x-photo-cd";
  return "application/octet-stream";
}

std::string AttachmentTypeField(std::string_view fileName) {
  const std::string type = ContentTypeForName(fileName);
  if (IsPrintableAscii(fileName)) return type + "; name=" + Quoted(fileName);
  return type + "; name=\"" + EncodeWords(fileName) + "\"";
}

std::string AttachmentDispositionField(std::string_view fileName) {
  if (IsPrintableAscii(fileName) && fileName.size() <= 3 * kMaxParameterSectionBytes) {
    return "attachment; filename=" + Quoted(fileName);
  }
  // RFC 2231: filename*=charset''name, cut into continuations filename*0*=charset''first;
  // filename*1*=second; ... when it is long.
  std::vector<std::string> sections;
  CutAtCharacters(fileName, kMaxParameterSectionBytes,
                  [&](std::string_view piece) { sections.push_back(PercentEncode(piece)); });
  std::string field = "attachment";
  for (std::size_t section = 0; section < sections.size(); ++section) {
    field += "; filename*";
    if (sections.size() > 1) field += std::to_string(section) + "*";
    field += "=";
    if (section == 0) field += std::string(CharsetOf(fileName)) + "''";
    field += sections[section];
  }
  return field;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t at = 0;
  for (; at + 3 <= bytes.size(); at += 3) {
    const std::uint32_t group = static_cast<unsigned char>(bytes[at]) << 16 |
                                static_cast<unsigned char>(bytes[at + 1]) << 8 |
                                static_cast<unsigned char>(bytes[at + 2]);
    encoded += kAlphabet[(group >> 18) & 0x3F];
    encoded += kAlphabet[(group >> 12) & 0x3F];
    encoded += kAlphabet[(group >> 6) & 0x3F];
    encoded += kAlphabet[group & 0x3F];
  }
  const std::size_t rest = bytes.size() - at;
  if (rest == 0) return encoded;
  std::uint32_t group = static_cast<unsigned char>(bytes[at]) << 16;
  if (rest == 2) group |= static_cast<unsigned char>(bytes[at + 1]) << 8;
  encoded += kAlphabet[(group >> 18) & 0x3F];
  encoded += kAlphabet[(group >> 12) & 0x3F];
  encoded += rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
  encoded += '=';
  return encoded;
}

}  // namespace postmx
