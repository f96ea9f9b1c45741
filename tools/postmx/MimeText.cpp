#include "MimeText.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace postmx {
namespace {

constexpr std::string_view kFold = "\r\n ";
constexpr std::size_t kMaxEncodedWord = 75;
constexpr std::size_t kMaxParameterSection = 60;

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsPrintableAscii(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || IsControl(byte)) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
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
    if (!words.empty()) words += kFold;
    words += prefix + Base64(piece) + "?=";
  });
  return words;
}

std::string SubjectField(std::string_view subject) {
  if (IsPrintableAscii(subject)) return std::string(subject);
  return EncodeWords(subject);
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
  if (!IsPrintableAscii(name)) return EncodeWords(name) + " <" + address + ">";
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
  if (IsPrintableAscii(fileName)) return type + ";" + std::string(kFold) + "name=" + Quoted(fileName);
  // Encoded words inside the quotes are joined by blanks, not folded: a quoted string may not
  // be broken across lines.
  std::string words = EncodeWords(fileName);
  std::string joined;
  for (std::size_t at = 0; at < words.size();) {
    const std::size_t fold = words.find(kFold, at);
    joined += words.substr(at, fold == std::string::npos ? std::string::npos : fold - at);
    if (fold == std::string::npos) break;
    joined += ' ';
    at = fold + kFold.size();
  }
  return type + ";" + std::string(kFold) + "name=\"" + joined + "\"";
}

std::string AttachmentDispositionField(std::string_view fileName) {
  if (IsPrintableAscii(fileName) && fileName.size() <= kMaxParameterSection) {
    return "attachment;" + std::string(kFold) + "filename=" + Quoted(fileName);
  }
  // RFC 2231: filename*=charset''name, cut into continuations filename*0*=charset''first;
  // filename*1*=second; ... when it is long.
  std::vector<std::string> sections;
  CutAtCharacters(fileName, kMaxParameterSection / 3,
                  [&](std::string_view piece) { sections.push_back(PercentEncode(piece)); });
  std::string field = "attachment";
  for (std::size_t section = 0; section < sections.size(); ++section) {
    field += ";" + std::string(kFold) + "filename*";
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
