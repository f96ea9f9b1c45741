// The mail job file that Image Gift hands to the sender program "Postmx.exe".
//
// Lines, separated by CR LF, the last one without a line break:
//   1 log path, 2 SMTP server, 3 recipients joined by TAB, 4 sender, 5 subject,
//   6 attachment paths joined by TAB, 7.. the body's lines.
#pragma once

#include <vector>

#include "afx/afx.h"

// The non-empty lines of a CR LF-separated recipient list, joined by single TABs.
CString MakeRecipientLine(const CString& strTo);

// The attachment line: the paths joined by single TABs.
CString MakeAttachmentLine(const std::vector<CString>& paths);

// The job text with a single LF between its parts; every body line (split at CR LF, empty ones
// included) is a part of its own.
CString MakeMailJobText(const char* logPath, const CString& server, const CString& to, const CString& from,
                        const CString& subject, const CString& attachments, const CString& body);

// Writes text to the file at path, storing each LF as CR LF. Returns 0 when the file cannot be
// opened, -1 when not all of the text was taken, 1 on success.
int WriteMailJobFile(const char* path, const CString& text);

// True when path can stand on the job's attachment line: it holds no control byte (a TAB or
// line break would split it into other paths, since nothing in the job file is quoted).
BOOL IsMailablePath(const char* path);

// path as a message box can show it: control bytes written as \t, \r, \n or \xNN.
CString VisiblePath(const char* path);

// Why the sender of job jobName ended with exitStatus: the result of the last line the sender
// logged for that job in the log at logPath, or the exit status when it logged none.
CString SendFailureReason(const char* logPath, const char* jobName, int exitStatus);
