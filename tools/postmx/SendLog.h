// The send log: one line per attempt, appended to the file the viewer names (vimolog.txt).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace postmx {

// Appends "<local time>\t<result>\tto: <recipients>\tattachments: <count>\tjob: <job file
// name>" and a line feed to the file at logPath, creating it when missing. The job file's name
// lets the viewer find the line of its own send. When logPath is empty or the file cannot
// be written, the line goes to the standard error stream instead. Control bytes in the texts
// become blanks, so one attempt is always one line. The line is written with one append,
// so lines of senders running at the same time do not mix.
void AppendLogLine(const std::string& logPath, const std::string& result,
                   const std::vector<std::string>& recipients, std::size_t attachmentCount,
                   const std::string& jobName);

}  // namespace postmx
