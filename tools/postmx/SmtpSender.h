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

// Builds the message and sends it, reading the attachments' files while it goes out. Blocks
// while the server keeps answering; a server silent for longer than RFC 5321 allows (5 minutes
// for a command, 10 for the message data) is given up. The environment's CURL_CA_BUNDLE, when
// set, names the certificate authorities TLS trusts. Needs curl_global_init to have been called.
SendResult SendMail(const MailJob& job, const std::vector<Attachment>& attachments);

}  // namespace postmx
