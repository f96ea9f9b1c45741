// A real mail server on loopback for the tests of the mail sender (tests/support/smtp_sink.py,
// aiosmtpd, always run with /usr/bin/python3), and the messages it received as it decoded them.
// The server decodes with Python's own MIME parser, so a message is checked by an
// implementation independent of the sender's.
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/ImageFixtures.h"

namespace vimo::test {

// text in single quotes for /bin/sh.
std::string ShellQuoted(std::string_view text);

// A part of a received message, as the server decoded it.
struct ReceivedPart {
  std::map<std::string, std::string> meta;  // type, charset, filename, disposition, encoding
  std::string data;                         // decoded bytes
};

// A message as the loopback server received and decoded it.
struct ReceivedMessage {
  std::vector<std::string> envelope;  // "MAIL FROM:<a>", "RCPT TO:<b>", ...
  std::string session;                // "tls: 1\nlogin: user\n"
  std::map<std::string, std::string> headers;
  std::string defects;
  std::string raw;
  std::vector<ReceivedPart> parts;
};

// Reads a message folder the server saved (msg-N).
ReceivedMessage ReadMessage(const std::filesystem::path& folder);

// A loopback server run by smtp_sink.py: "serve" (a mail server, with the script's options
// such as "--refuse", "--delay-data", "--tls", "--auth"), "silent" (accepts, never answers) or
// "closed" (a port nobody listens on). Its files go below folder; it runs while this object
// lives (its input pipe is open) and is ready when the constructor returns.
class LoopbackServer {
 public:
  LoopbackServer(const std::filesystem::path& folder, const std::string& mode,
                 const std::vector<std::string>& options = {});

  int Port() const { return m_port; }
  // Why the server did not come up, when Port() is 0.
  const std::string& PortFileText() const { return m_portFileText; }
  std::string HostAndPort() const { return "127.0.0.1:" + std::to_string(m_port); }

  // The folders of the messages received so far, in order of arrival; each appears complete.
  std::vector<std::filesystem::path> Messages() const;

 private:
  struct PipeCloser {
    void operator()(FILE* pipe) const { pclose(pipe); }  // the server sees end of input and stops
  };
  std::filesystem::path m_messageFolder;
  std::unique_ptr<FILE, PipeCloser> m_input;
  std::string m_portFileText;
  int m_port = 0;
};

}  // namespace vimo::test
