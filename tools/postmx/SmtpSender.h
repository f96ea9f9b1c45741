// Sends one mail job over SMTP with libcurl.
#pragma once

#include "MailJob.h"

#include <string>
#include <vector>

namespace postmx {

struct SendResult {
  bool sent = false;   // the server accepted the message
  std::string text;    // "sent", or what went wrong: libcurl's error and the server's reply
};

// The libcurl URL for the server setting: a full URL ("smtp://", "smtps://", with
// "user:password@" where needed) as given, a host or host:port as smtp://host[:port].
std::string ServerUrl(const std::string& server);

// True when url speaks SMTP (smtp:// or smtps://, letter case aside): the message is never
// handed to another protocol.
bool IsMailUrl(const std::string& url);

// Builds the whole message in memory (the attachments are already read) and sends it.
// Blocks for at most the time-outs: a dead or silent server is given up within a minute.
// Needs curl_global_init to have been called.
SendResult SendMail(const MailJob& job, const std::vector<Attachment>& attachments);

}  // namespace postmx
