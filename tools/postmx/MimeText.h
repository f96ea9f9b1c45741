// Texts of a mail message: header fields and parameters in their encoded forms (RFC 2047 words,
// RFC 2231 parameters), addresses, content types. The viewer's bytes pass through unchanged;
// only their labels and encodings are chosen here.
#pragma once

#include <string>
#include <string_view>

namespace postmx {

// Every control byte (below 0x20, and 0x7F) becomes a blank, so the text stays on one line.
std::string SanitizeForLine(std::string_view text);

bool IsValidUtf8(std::string_view text);

// The charset a non-ASCII text is labelled with: "UTF-8" when its bytes are valid UTF-8 (what
// the viewer has on Linux), otherwise "Shift_JIS" (the viewer's encoding on Windows, where a
// settings file may come from).
const char* CharsetOf(std::string_view text);

// The text as RFC 2047 encoded words ("=?UTF-8?B?...?="), each at most 66 characters and cut
// only between characters, joined by blanks (where FoldField may fold).
std::string EncodeWords(std::string_view text);

// The Subject field's value: the text itself when it is plain ASCII that folds into lines of
// 78 characters, else encoded words (non-ASCII text, or a run without blanks too long for a
// line; encoded words can be cut anywhere).
std::string SubjectField(std::string_view subject);

// The header field "name: value", folded (RFC 5322 2.2.3) by a line break before a blank
// wherever a line would pass 78 characters. A line grows longer only where no blank allows a
// fold; the values built here keep every run without blanks short enough for 998.
std::string FoldField(std::string_view name, std::string_view value);

// The bare address for the SMTP envelope: the part inside <...> when there is one, else the
// whole text, blanks around it removed. Empty when no usable address is there: the address
// is empty, longer than 254 bytes or holds blanks or angle brackets, or the text holds a
// control byte anywhere.
std::string EnvelopeAddress(std::string_view text);

// An address as a From or To field shows it: "addr", or "Name <addr>" with the name quoted
// when it holds special characters and encoded as SubjectField encodes.
std::string AddressField(std::string_view text);

// image/jpeg, image/gif, image/bmp, image/x-photo-cd or application/octet-stream, from the
// name's ending (letter case does not matter).
std::string ContentTypeForName(std::string_view fileName);

// The Content-Type field's value of an attachment: its type with the name parameter (RFC 2047
// words in the quotes when the name is not plain ASCII, as older mail readers expect).
std::string AttachmentTypeField(std::string_view fileName);

// The Content-Disposition field's value of an attachment: "attachment" with the file name,
// as RFC 2231 parameter continuations (charset and percent-encoding) when it is not plain ASCII.
std::string AttachmentDispositionField(std::string_view fileName);

std::string Base64(std::string_view bytes);

}  // namespace postmx
