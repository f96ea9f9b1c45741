#include "support/SmtpSink.h"

namespace fs = std::filesystem;

namespace vimo::test {

std::string ShellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

ReceivedMessage ReadMessage(const fs::path& folder) {
  ReceivedMessage message;
  message.envelope = LinesOf(TextOfFile(folder / "envelope.txt"));
  message.session = TextOfFile(folder / "session.txt");
  for (const std::string& line : LinesOf(TextOfFile(folder / "headers.txt"))) {
    const std::size_t colon = line.find(": ");
    if (colon != std::string::npos) message.headers[line.substr(0, colon)] = line.substr(colon + 2);
  }
  message.defects = TextOfFile(folder / "defects.txt");
  message.raw = TextOfFile(folder / "raw.eml");
  for (int index = 0; fs::exists(folder / ("part-" + std::to_string(index) + ".meta")); ++index) {
    ReceivedPart part;
    const std::string stem = "part-" + std::to_string(index);
    for (const std::string& line : LinesOf(TextOfFile(folder / (stem + ".meta")))) {
      const std::size_t colon = line.find(':');
      const std::size_t value = std::min(line.size(), colon + 2);
      part.meta[line.substr(0, colon)] = line.substr(value);
    }
    part.data = TextOfFile(folder / (stem + ".data"));
    message.parts.push_back(std::move(part));
  }
  return message;
}

LoopbackServer::LoopbackServer(const fs::path& folder, const std::string& mode,
                               const std::vector<std::string>& options)
    : m_messageFolder(folder / "received") {
  fs::create_directories(m_messageFolder);
  const fs::path portFile = folder / ("port-" + mode);
  std::string command = "exec /usr/bin/python3 " +
                        ShellQuoted(VIMO_SOURCE_DIR "/tests/support/smtp_sink.py") + " " + mode +
                        " " + ShellQuoted(portFile.string());
  if (mode == "serve") command += " " + ShellQuoted(m_messageFolder.string());
  for (const std::string& option : options) command += " " + ShellQuoted(option);
  m_input.reset(popen(command.c_str(), "w"));
  if (!m_input) return;
  // Ready means the port file is there (it is written aside and renamed when listening).
  WaitUntil([&] { return fs::exists(portFile); });
  m_portFileText = TextOfFile(portFile);
  if (!m_portFileText.empty()) m_port = std::stoi(m_portFileText);
}

std::vector<fs::path> LoopbackServer::Messages() const {
  std::vector<fs::path> messages;
  for (int number = 1; fs::exists(m_messageFolder / ("msg-" + std::to_string(number))); ++number) {
    messages.push_back(m_messageFolder / ("msg-" + std::to_string(number)));
  }
  return messages;
}

}  // namespace vimo::test
