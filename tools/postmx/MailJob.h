// The mail job file the viewer writes for one Image Gift send, and the attachments it names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "posix/UniqueFd.h"

namespace postmx {

// One job file, line by line. Texts are the viewer's bytes, passed through unchanged.
struct MailJob {
  std::string logPath;                       // line 1; empty when line 1 is not complete
  std::string server;                        // line 2, blanks around it removed
  std::vector<std::string> recipients;       // line 3 split at TAB, blanks trimmed, empty ones dropped
  std::string sender;                        // line 4, blanks around it removed
  std::string subject;                       // line 5, may be empty
  std::vector<std::string> attachmentPaths;  // line 6 split at TAB, empty ones dropped
  std::vector<std::string> bodyLines;        // lines 7 and on, at least one (possibly empty)
};

// An attachment's file, open for reading. Its bytes are read only while the message is sent,
// and never more than the size it had when it was opened.
struct Attachment {
  std::string path;
  std::string fileName;        // the text after the path's last '/'
  std::string contentType;     // from the name's ending
  vimo::posix::UniqueFd file;  // open for reading
  std::uint64_t size = 0;      // bytes to send
};

// A job file larger than this is refused rather than held in memory.
inline constexpr std::size_t kMaxJobFileBytes = 16u << 20;
// The attachments of one mail together may not exceed this (mail servers refuse far less).
inline constexpr std::size_t kMaxAttachmentBytes = 256u << 20;

// Reads the whole file into text. False with a reason in error when it cannot be read.
bool ReadJobFile(const std::string& path, std::string& text, std::string& error);

// Splits text into lines: a LF ends a line, a CR right before it belongs to the line end.
// The text after the last LF is the last line, also when it is empty.
std::vector<std::string> SplitLines(std::string_view text);

// Fills job from the file's text. The log path is filled as soon as line 1 is complete, so a
// caller can log even a refused job. False with a reason in error when the job cannot be sent:
// fewer than 7 lines, no server, no recipient, no sender, an unusable address, or an attachment
// path that is not absolute or holds a control byte (a relative path would be resolved against
// whatever folder this program was started in).
bool ParseMailJob(std::string_view text, MailJob& job, std::string& error);

// Opens every attachment and takes its size, without reading any of them, so that nothing is
// sent half-built. False with a reason in error when one of them is missing, is not a regular
// file or cannot be opened, or when they are too large together.
bool OpenAttachments(const std::vector<std::string>& paths, std::vector<Attachment>& attachments,
                     std::string& error);

}  // namespace postmx
