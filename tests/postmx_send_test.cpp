// The mail sender Postmx.exe against a real SMTP server on loopback (tests/support/smtp_sink.py,
// aiosmtpd). The server decodes what it receives with Python's own MIME parser, so the message
// is checked by an implementation independent of the sender's.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "support/SmtpSink.h"

namespace fs = std::filesystem;

namespace {

// The sender's memory, whatever it sends or refuses. The address sanitizer's shadow memory and
// quarantine make a sender's resident size say nothing about what it read.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxSenderRssKiB = std::numeric_limits<long>::max();
#else
constexpr long kMaxSenderRssKiB = 64 * 1024;
#endif

using vimo::test::LinesOf;
using vimo::test::LoopbackServer;
using vimo::test::ReadMessage;
using vimo::test::ReceivedMessage;
using vimo::test::ReceivedPart;
using vimo::test::ShellQuoted;
using vimo::test::TextOfFile;
using vimo::test::WriteText;

// The header lines of a raw message, the parts' included, without their CR.
std::vector<std::string> HeaderLines(const std::string& raw) {
  std::vector<std::string> lines;
  bool inHeader = true;
  for (std::string line : LinesOf(raw)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      inHeader = false;
    } else if (inHeader) {
      lines.push_back(line);
    } else if (line.rfind("--", 0) == 0) {
      inHeader = true;  // a part's boundary: the part's header follows
    }
  }
  return lines;
}

// Header lines pass 78 characters only where no blank would allow a fold, and never 998. The
// message's type line is libcurl's, written whole with its boundary (80 characters).
void ExpectFoldedHeaderLines(const std::string& raw) {
  for (const std::string& line : HeaderLines(raw)) {
    const bool foldable = line.size() > 1 && line.find_first_of(" \t", 1) != std::string::npos &&
                          line.rfind("Content-Type: multipart/mixed; boundary=", 0) != 0;
    EXPECT_LE(line.size(), foldable ? 78u : 998u) << line;
  }
}

std::string Joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += separator;
    text += items[i];
  }
  return text;
}

// Bytes of every value, so that the attachments' transfer encoding is tested on all of them.
std::string AllByteValues(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return bytes;
}

// The mail job as the viewer writes it: lines joined by lineEnd, no break after the last.
struct Job {
  std::string logPath;
  std::string server;
  std::vector<std::string> recipients;
  std::string sender = "Vimo User <me@example.com>";
  std::string subject;
  std::vector<std::string> attachments;
  std::vector<std::string> body;

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines = {logPath, server, Joined(recipients, "\t"), sender, subject,
                                      Joined(attachments, "\t")};
    lines.insert(lines.end(), body.begin(), body.end());
    return lines;
  }
};

void WriteJobLines(const fs::path& path, const std::vector<std::string>& lines,
                   std::string_view lineEnd = "\r\n") {
  WriteText(path, Joined(lines, lineEnd));
}

struct RunResult {
  int exitCode = -1;
  long maxRssKiB = 0;  // the sender's peak resident memory
  std::string errors;  // what the sender wrote to its standard error stream
};

class PostmxTest : public ::testing::Test {
 protected:
  fs::path LogPath() const { return m_folder / "vimolog.txt"; }
  std::vector<std::string> LogLines() const { return LinesOf(TextOfFile(LogPath())); }

  Job SmallJob(const LoopbackServer& server) {
    Job job;
    job.logPath = LogPath().string();
    job.server = server.HostAndPort();
    job.recipients = {"alice@example.com"};
    job.subject = "Pictures";
    const fs::path picture = m_folder / "small.gif";
    WriteText(picture, AllByteValues(1000, 1));
    job.attachments = {picture.string()};
    job.body = {"Hello", "Bye"};
    return job;
  }

  // Runs Postmx.exe with the given arguments as the viewer starts it (no shell), and waits.
  RunResult Run(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {}) const {
    const fs::path errorFile = m_folder / "stderr.txt";
    std::vector<std::string> words = {"Postmx.exe"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> settings(environment);
    for (char** variable = environ; *variable != nullptr; ++variable) settings.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : settings) envp.push_back(variable.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    RunResult result;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, VIMO_BINARY_DIR "/Postmx.exe", &actions, nullptr,
                                    argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    if (spawned != 0) return result;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.maxRssKiB = usage.ru_maxrss;
    result.errors = TextOfFile(errorFile);
    return result;
  }

  RunResult RunJob(const fs::path& jobFile) const { return Run({"/d", jobFile.string()}); }

  const vimo::test::TempDir m_dir;
  const fs::path m_folder = m_dir.Path();
};

const std::regex kLogTime(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t)");

TEST_F(PostmxTest, DeliversEnvelopeHeadersBodyAndEveryAttachmentByteForByte) {
  const LoopbackServer server(m_folder, "serve");
  ASSERT_NE(server.Port(), 0) << server.PortFileText();

  const fs::path bigJpeg = m_folder / "big.jpg";
  const std::string convert = "convert-im6.q16 -size 2000x1500 xc: +noise Random -quality 95 " +
                              ShellQuoted(bigJpeg.string());
  ASSERT_EQ(std::system(convert.c_str()), 0);
  ASSERT_GE(fs::file_size(bigJpeg), 5u << 20);

  // Name, content type expected from its ending.
  const std::vector<std::pair<std::string, std::string>> smallFiles = {
      {"春の 写真 01.jpg", "image/jpeg"},
      {"anim.GIF", "image/gif"},
      {"scan.bmp", "image/bmp"},
      {"disc.pcd", "image/x-photo-cd"},
      {"old.jpe", "image/jpeg"},
      {"photo.jpeg", "image/jpeg"},
      {"notes.txt", "application/octet-stream"},
      {"とても長いファイル名の写真を何枚も送るときのテストです.jpg", "image/jpeg"},
  };
  Job job;
  job.logPath = LogPath().string();
  job.server = server.HostAndPort();
  job.recipients = {"alice@example.com", "山田 太郎 <taro@example.jp>"};
  job.subject = "春の写真です。長い件名は幾つかの符号化された単語に分けて送られます";
  job.attachments = {bigJpeg.string()};
  std::vector<std::string> expectedTypes = {"image/jpeg"};
  for (std::size_t i = 0; i < smallFiles.size(); ++i) {
    const fs::path path = m_folder / smallFiles[i].first;
    WriteText(path, AllByteValues(3000 + i, static_cast<unsigned>(i)));
    job.attachments.push_back(path.string());
    expectedTypes.push_back(smallFiles[i].second);
  }
  job.body = {"こんにちは、写真を送ります。", "", ".", "..two dots", "trailing blank ",
              "=3D stays as typed", "a lone\rCR", std::string(300, 'x'), "last"};
  const fs::path jobFile = m_folder / "VIM1A2B.tmp";
  WriteJobLines(jobFile, job.Lines());

  const RunResult result = RunJob(jobFile);
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_FALSE(fs::exists(jobFile)) << "/d leaves the job file behind";

  const std::vector<fs::path> messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const ReceivedMessage message = ReadMessage(messages[0]);
  EXPECT_EQ(message.envelope, (std::vector<std::string>{"MAIL FROM:<me@example.com>",
                                                         "RCPT TO:<alice@example.com>",
                                                         "RCPT TO:<taro@example.jp>"}));
  EXPECT_EQ(message.defects, "");
  EXPECT_EQ(message.headers.at("From"), "Vimo User <me@example.com>");
  EXPECT_EQ(message.headers.at("To"), "alice@example.com, 山田 太郎 <taro@example.jp>");
  EXPECT_EQ(message.headers.at("Subject"), job.subject);
  EXPECT_EQ(message.headers.at("MIME-Version"), "1.0");
  EXPECT_TRUE(std::regex_match(
      message.headers.at("Date"),
      std::regex(R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4})")))
      << message.headers.at("Date");
  EXPECT_TRUE(std::regex_match(message.headers.at("Message-ID"),
                               std::regex(R"(<[^<>@\s]+@example\.com>)")))
      << message.headers.at("Message-ID");

  // SMTP's own rules: CR LF line ends only, no line over 998 bytes, 7-bit headers.
  const std::string& raw = message.raw;
  for (std::size_t at = raw.find('\n'); at != std::string::npos; at = raw.find('\n', at + 1)) {
    ASSERT_TRUE(at > 0 && raw[at - 1] == '\r') << "bare LF at byte " << at;
  }
  for (const std::string& line : LinesOf(raw)) ASSERT_LE(line.size(), 999u);
  ExpectFoldedHeaderLines(raw);
  const std::string rawHeaders = raw.substr(0, raw.find("\r\n\r\n"));
  for (const char c : rawHeaders) ASSERT_LT(static_cast<unsigned char>(c), 0x80);

  ASSERT_EQ(message.parts.size(), 1 + job.attachments.size());
  const ReceivedPart& text = message.parts[0];
  EXPECT_EQ(text.meta.at("type"), "text/plain");
  EXPECT_EQ(text.meta.at("charset"), "utf-8");
  EXPECT_EQ(text.meta.at("filename"), "");
  EXPECT_EQ(text.data, Joined(job.body, "\r\n") + "\r\n");

  for (std::size_t i = 0; i < job.attachments.size(); ++i) {
    SCOPED_TRACE(job.attachments[i]);
    const ReceivedPart& part = message.parts[1 + i];
    EXPECT_EQ(part.meta.at("type"), expectedTypes[i]);
    EXPECT_EQ(part.meta.at("disposition"), "attachment");
    EXPECT_EQ(part.meta.at("encoding"), "base64");
    EXPECT_EQ(part.meta.at("filename"), fs::path(job.attachments[i]).filename().string());
    EXPECT_TRUE(part.data == TextOfFile(job.attachments[i])) << "decoded bytes differ";
  }

  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(std::regex_search(log[0], kLogTime)) << log[0];
  EXPECT_TRUE(log[0].ends_with(
      "\tsent\tto: alice@example.com, 山田 太郎 <taro@example.jp>\tattachments: 9\tjob: VIM1A2B.tmp"))
      << log[0];
}

TEST_F(PostmxTest, ReadsJobFilesWithEitherLineEndAndKeepsTheJobWithoutSwitch) {
  const LoopbackServer server(m_folder, "serve");
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  const Job job = SmallJob(server);
  const std::vector<std::string_view> lineEnds = {"\r\n", "\n"};
  for (std::size_t i = 0; i < lineEnds.size(); ++i) {
    SCOPED_TRACE(i == 0 ? "CR LF" : "LF");
    const fs::path jobFile = m_folder / ("job" + std::to_string(i));
    WriteJobLines(jobFile, job.Lines(), lineEnds[i]);
    const RunResult result = Run({jobFile.string()});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(jobFile)) << "without /d the job file is the caller's";
    ASSERT_EQ(server.Messages().size(), i + 1);
    const ReceivedMessage message = ReadMessage(server.Messages()[i]);
    EXPECT_EQ(message.headers.at("Subject"), "Pictures");
    ASSERT_EQ(message.parts.size(), 2u);
    EXPECT_EQ(message.parts[0].data, "Hello\r\nBye\r\n");
    EXPECT_EQ(message.parts[1].meta.at("filename"), "small.gif");
  }
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(PostmxTest, ShiftJisTextFromAWindowsSettingsFileIsLabelledSo) {
  // Bytes that are not UTF-8 pass through unchanged, labelled as the viewer's Windows encoding.
  const LoopbackServer server(m_folder, "serve");
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  Job job = SmallJob(server);
  job.subject = "\x8F\x74\x82\xCC\x8E\xCA\x90\x5E";                       // 春の写真
  job.body = {"\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD", "abc"};           // こんにちは
  const fs::path picture = m_folder / "\x8E\xCA\x90\x5E\x20\x82\xC5\x82\xB7.jpg";  // 写真 です.jpg
  WriteText(picture, AllByteValues(500, 3));
  job.attachments = {picture.string()};
  const fs::path jobFile = m_folder / "job";
  WriteJobLines(jobFile, job.Lines());

  const RunResult result = RunJob(jobFile);

  EXPECT_EQ(result.exitCode, 0) << result.errors;
  ASSERT_EQ(server.Messages().size(), 1u);
  const ReceivedMessage message = ReadMessage(server.Messages()[0]);
  EXPECT_EQ(message.defects, "");
  EXPECT_EQ(message.headers.at("Subject"), "春の写真");
  ASSERT_EQ(message.parts.size(), 2u);
  EXPECT_EQ(message.parts[0].meta.at("charset"), "shift_jis");
  EXPECT_EQ(message.parts[0].data, job.body[0] + "\r\nabc\r\n");
  EXPECT_EQ(message.parts[1].meta.at("filename"), "写真 です.jpg");
  EXPECT_EQ(message.parts[1].data, TextOfFile(picture));
}

TEST_F(PostmxTest, RefusedRecipientSendsNothingAndLogsTheServersReply) {
  const LoopbackServer server(m_folder, "serve", {"--refuse", "nobody@example.com"});
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  Job job = SmallJob(server);
  job.recipients = {"alice@example.com", "nobody@example.com"};
  const fs::path jobFile = m_folder / "job";
  WriteJobLines(jobFile, job.Lines());

  const RunResult result = RunJob(jobFile);

  EXPECT_NE(result.exitCode, 0);
  EXPECT_TRUE(server.Messages().empty());
  EXPECT_FALSE(fs::exists(jobFile));
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(std::regex_search(log[0], kLogTime)) << log[0];
  EXPECT_NE(log[0].find("\tnot sent: "), std::string::npos) << log[0];
  EXPECT_NE(log[0].find("550 5.1.1 <nobody@example.com>: Recipient address rejected"),
            std::string::npos)
      << log[0];
  EXPECT_TRUE(log[0].ends_with("\tto: alice@example.com, nobody@example.com\tattachments: 1\tjob: job"))
      << log[0];
}

// A throwaway certificate authority and a server certificate it signed for 127.0.0.1.
struct TestCertificates {
  explicit TestCertificates(const fs::path& folder)
      : authority(folder / "ca.pem"), certificate(folder / "server.pem"), key(folder / "server.key") {
    const fs::path authorityKey = folder / "ca.key";
    const fs::path request = folder / "server.csr";
    const fs::path names = folder / "names.cnf";
    std::ofstream(names) << "subjectAltName=IP:127.0.0.1\n";
    const std::string quiet = " 2>/dev/null";
    const std::string curve = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string commands[] = {
        "openssl req -x509" + curve + " -days 1 -subj /CN=vimo-test-ca -keyout " +
            ShellQuoted(authorityKey.string()) + " -out " + ShellQuoted(authority.string()),
        "openssl req -new" + curve + " -subj /CN=127.0.0.1 -keyout " + ShellQuoted(key.string()) +
            " -out " + ShellQuoted(request.string()),
        "openssl x509 -req -days 1 -in " + ShellQuoted(request.string()) + " -CA " +
            ShellQuoted(authority.string()) + " -CAkey " + ShellQuoted(authorityKey.string()) +
            " -CAcreateserial -extfile " + ShellQuoted(names.string()) + " -out " +
            ShellQuoted(certificate.string()),
    };
    for (const std::string& command : commands) ready = ready && std::system((command + quiet).c_str()) == 0;
  }
  fs::path authority;
  fs::path certificate;
  fs::path key;
  bool ready = true;
};

TEST_F(PostmxTest, StartTlsCarriesTheLoginAndAPasswordNeverTravelsInTheClear) {
  const TestCertificates certificates(m_folder);
  ASSERT_TRUE(certificates.ready) << "openssl could not make the test certificates";
  const std::vector<std::string> tls = {"--tls", certificates.certificate.string(), certificates.key.string()};
  const std::vector<std::string> auth = {"--auth", "vimo", "secret-word"};
  const std::string trusted = "CURL_CA_BUNDLE=" + certificates.authority.string();

  struct Case {
    const char* what;
    bool offersTls;
    bool withLogin;
    bool trustsCertificate;
    int exitCode;
    const char* session;  // as the server saw the message; empty: no message
  };
  const std::vector<Case> cases = {
      {"login over STARTTLS", true, true, true, 0, "tls: 1\nlogin: vimo\n"},
      {"no login, STARTTLS taken when offered", true, false, true, 0, "tls: 1\nlogin: \n"},
      {"login, server without STARTTLS", false, true, true, 1, ""},
      {"login, certificate not trusted", true, true, false, 1, ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    const fs::path serverFolder = m_folder / ("server" + std::to_string(i));
    std::vector<std::string> options = auth;
    if (c.offersTls) options.insert(options.end(), tls.begin(), tls.end());
    const LoopbackServer server(serverFolder, "serve", options);
    ASSERT_NE(server.Port(), 0) << server.PortFileText();
    Job job = SmallJob(server);
    if (c.withLogin) job.server = "smtp://vimo:secret-word@" + server.HostAndPort();
    const fs::path jobFile = m_folder / ("job" + std::to_string(i));
    WriteJobLines(jobFile, job.Lines());

    const RunResult result = Run({"/d", jobFile.string()}, c.trustsCertificate ? std::vector{trusted}
                                                                                : std::vector<std::string>{});

    EXPECT_EQ(result.exitCode, c.exitCode) << result.errors;
    const std::vector<fs::path> messages = server.Messages();
    ASSERT_EQ(messages.size(), c.session[0] == '\0' ? 0u : 1u);
    if (!messages.empty()) {
      EXPECT_EQ(ReadMessage(messages[0]).session, c.session);
    }
    // Every password the server was given, and whether TLS protected it.
    const std::string attempts = TextOfFile(serverFolder / "auth.txt");
    for (const std::string& attempt : LinesOf(attempts)) {
      EXPECT_EQ(attempt.rfind("tls=1 ", 0), 0u) << "password sent in the clear: " << attempt;
    }
    EXPECT_EQ(attempts.empty(), !(c.withLogin && c.exitCode == 0)) << attempts;
    const std::string log = TextOfFile(LogPath());
    EXPECT_EQ(log.find("secret-word"), std::string::npos) << log;
    EXPECT_EQ(result.errors.find("secret-word"), std::string::npos) << result.errors;
  }
}

TEST_F(PostmxTest, EveryHeaderLineIsFoldedToAtMost78Characters) {
  const LoopbackServer server(m_folder, "serve");
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  std::string words;
  for (int i = 0; words.size() < 2000; ++i) {
    words += "word" + std::to_string(i) + (i % 7 == 0 ? "  " : " ");
  }
  words += "end";
  const std::string longName =
      "Very Long Display Name Of The Recipient Who Has Many Given Names And A Long Family Name";
  const std::vector<std::pair<std::string, std::string>> subjects = {
      {"2,000 characters of words", words},
      {"2,000 characters without a blank", std::string(2000, 's')},
      {"Japanese words", "写真 " + std::string(60, 'x') + " の件 " + std::string(300, 'y')},
      {"looks like an encoded word", "=?UTF-8?B?eA==?= is plain text"},
  };
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    SCOPED_TRACE(subjects[i].first);
    Job job = SmallJob(server);
    job.subject = subjects[i].second;
    job.recipients = {"alice@example.com", longName + " <bob@example.com>", "carol@example.com"};
    const fs::path picture = m_folder / (std::string(100, 'p') + " " + std::string(100, 'q') + ".jpg");
    WriteText(picture, "picture");
    job.attachments = {picture.string()};
    const fs::path jobFile = m_folder / "job";
    WriteJobLines(jobFile, job.Lines());

    const RunResult result = RunJob(jobFile);

    ASSERT_EQ(result.exitCode, 0) << result.errors;
    ASSERT_EQ(server.Messages().size(), i + 1);
    const ReceivedMessage message = ReadMessage(server.Messages()[i]);
    EXPECT_EQ(message.defects, "");
    EXPECT_EQ(message.headers.at("Subject"), job.subject);
    EXPECT_EQ(message.headers.at("To"), "alice@example.com, " + longName + " <bob@example.com>, carol@example.com");
    ASSERT_EQ(message.parts.size(), 2u);
    EXPECT_EQ(message.parts[1].meta.at("filename"), picture.filename().string());
    ExpectFoldedHeaderLines(message.raw);
  }
}

TEST_F(PostmxTest, ServerThatRefusesTheConnectionIsReportedAtOnce) {
  const LoopbackServer server(m_folder, "closed");
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  const fs::path jobFile = m_folder / "job";
  WriteJobLines(jobFile, SmallJob(server).Lines());

  const RunResult result = RunJob(jobFile);

  EXPECT_EQ(result.exitCode, 1) << result.errors;
  EXPECT_FALSE(fs::exists(jobFile));
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  // The refusal itself is the reason given, not a time-out (bench/run times it).
  EXPECT_NE(log.back().find("\tnot sent: "), std::string::npos) << log.back();
  EXPECT_NE(log.back().find("Couldn't connect to server"), std::string::npos) << log.back();
}

TEST_F(PostmxTest, BadJobsSendNothingAndSayWhy) {
  const LoopbackServer server(m_folder, "serve");
  ASSERT_NE(server.Port(), 0) << server.PortFileText();
  const Job good = SmallJob(server);
  fs::create_directories(m_folder / "a folder.jpg");

  struct Case {
    const char* what;
    std::vector<std::string> lines;
    std::string reason;  // expected in the log line
  };
  const auto with = [&good](int line, const std::string& value) {
    std::vector<std::string> lines = good.Lines();
    lines[static_cast<std::size_t>(line - 1)] = value;
    return lines;
  };
  std::vector<std::string> shortJob = good.Lines();
  shortJob.resize(5);
  const std::string present = good.attachments[0];
  const std::string missing = (m_folder / "gone.jpg").string();
  const std::string folder = (m_folder / "a folder.jpg").string();
  // Larger than the sender takes, and sparse: reading it would show in the sender's memory.
  const fs::path oversize = m_folder / "huge.jpg";
  { std::ofstream(oversize, std::ios::binary).put('x'); }
  fs::resize_file(oversize, (256u << 20) + 1);
  const std::vector<Case> cases = {
      {"missing attachment after a good one", with(6, present + "\t" + missing),
       "attachment " + missing + " cannot be read: no such file"},
      {"folder as attachment", with(6, folder), "cannot be read: not a regular file"},
      {"relative attachment path", with(6, present + "\tx/.netrc"),
       "attachment path x/.netrc is not absolute"},
      {"attachment path with a control byte", with(6, present + "\x01.jpg"), "holds a control character"},
      {"attachment path with a CR", with(6, present + "\r.jpg"), "holds a control character"},
      {"oversize attachment", with(6, present + "\t" + oversize.string()),
       "attachments together larger than 256 MiB"},
      {"no recipient", with(3, "\t \t"), "no recipient on line 3"},
      {"no sender", with(4, " "), "no sender on line 4"},
      {"no server", with(2, ""), "no mail server named on line 2"},
      {"recipient with a control byte", with(3, "a@example.com\t\rRCPT TO:<x@example.com>"),
       "unusable recipient address"},
      {"short job file", shortJob, "job file has 5 lines, at least 7 expected"},
      {"server of another protocol", with(2, "http://" + server.HostAndPort() + "/upload"),
       "neither host[:port] nor an smtp:// or smtps:// URL"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    const std::size_t linesBefore = LogLines().size();
    const fs::path jobFile = m_folder / ("bad" + std::to_string(i));
    WriteJobLines(jobFile, cases[i].lines);

    const RunResult result = RunJob(jobFile);

    EXPECT_EQ(result.exitCode, 2) << result.errors;
    EXPECT_LT(result.maxRssKiB, kMaxSenderRssKiB) << "a refused attachment was read";
    EXPECT_FALSE(fs::exists(jobFile));
    const std::vector<std::string> log = LogLines();
    ASSERT_EQ(log.size(), linesBefore + 1);
    EXPECT_TRUE(std::regex_search(log.back(), kLogTime)) << log.back();
    EXPECT_NE(log.back().find("\tnot sent: "), std::string::npos) << log.back();
    EXPECT_NE(log.back().find(cases[i].reason), std::string::npos) << log.back();
  }
  EXPECT_TRUE(server.Messages().empty());

  // Without a job file there is no log to name: the reason goes to the error stream.
  const std::size_t linesBefore = LogLines().size();
  const RunResult result = RunJob(m_folder / "no such job");
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.errors.find("cannot be read"), std::string::npos) << result.errors;
  EXPECT_EQ(LogLines().size(), linesBefore);

  // A path cut at its blank is refused, not pieced together: with /d a guess would delete it.
  const fs::path spaced = m_folder / "job one";
  WriteJobLines(spaced, good.Lines());
  EXPECT_EQ(Run({"/d", (m_folder / "job").string(), "one"}).exitCode, 2);
  EXPECT_TRUE(fs::exists(spaced));
  EXPECT_TRUE(server.Messages().empty());
}

}  // namespace
