#include "SmtpSender.h"

#include "MimeText.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <string_view>

#include <unistd.h>

namespace postmx {
namespace {

// Time-outs of RFC 5321 4.5.3.2: a server has 5 minutes for each reply to a command, and
// 10 minutes from the start of the message data to the reply that accepts it. Only a stall ends
// a send: there is no limit on a transfer that keeps moving.
constexpr long kCommandSeconds = 5 * 60;
constexpr long kDataSeconds = 10 * 60;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MimeDeleter {
  void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MimeHandle = std::unique_ptr<curl_mime, MimeDeleter>;
using StringList = std::unique_ptr<curl_slist, ListDeleter>;

// Appends to a list that stays owned by its holder; false when libcurl is out of memory.
bool Append(StringList& list, const std::string& text) {
  curl_slist* const grown = curl_slist_append(list.get(), text.c_str());
  if (grown == nullptr) return false;
  list.release();
  list.reset(grown);
  return true;
}

// What the transfer has done last, for telling a stall from a slow but working server.
using Clock = std::chrono::steady_clock;

struct TransferWatch {
  Clock::time_point lastActivity = Clock::now();
  curl_off_t lastDownloaded = 0;
  curl_off_t lastUploaded = 0;
  bool inData = false;  // the server has invited the message data (354)
  bool stalled = false;
  std::string lastRefusal;
};

// Every command and reply counts as activity; the last refusal (a 4xx or 5xx reply) is kept, so
// that it can be logged in the server's own words; the polite replies that follow it (QUIT's
// 221) do not replace it.
int WatchProtocol(CURL*, curl_infotype type, char* data, size_t size, void* watchData) {
  auto* watch = static_cast<TransferWatch*>(watchData);
  if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT) return 0;
  watch->lastActivity = Clock::now();
  if (type == CURLINFO_HEADER_OUT) return 0;
  std::string text(data, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::size_t lastLineFeed = text.rfind('\n');
  if (lastLineFeed != std::string::npos) text.erase(0, lastLineFeed + 1);
  if (text.rfind("354", 0) == 0) watch->inData = true;
  if (!text.empty() && (text[0] == '4' || text[0] == '5')) watch->lastRefusal = text;
  return 0;
}

// Ends the transfer (non-zero) once nothing has moved for longer than the server is given.
int StopAStall(void* watchData, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto* watch = static_cast<TransferWatch*>(watchData);
  const Clock::time_point now = Clock::now();
  if (downloaded != watch->lastDownloaded || uploaded != watch->lastUploaded) {
    watch->lastDownloaded = downloaded;
    watch->lastUploaded = uploaded;
    watch->lastActivity = now;
  }
  const std::chrono::seconds allowed(watch->inData ? kDataSeconds : kCommandSeconds);
  watch->stalled = now - watch->lastActivity > allowed;
  return watch->stalled ? 1 : 0;
}

// Reads an attachment's file as libcurl asks for it, from the position it asks for; never more
// than the size the file had when it was opened. A file that shrank ends the send.
struct AttachmentReader {
  const Attachment* attachment;
  curl_off_t position = 0;
  bool shrank = false;
};

size_t ReadAttachment(char* buffer, size_t size, size_t count, void* readerData) {
  auto* reader = static_cast<AttachmentReader*>(readerData);
  const auto total = static_cast<curl_off_t>(reader->attachment->size);
  const size_t wanted = static_cast<size_t>(
      std::min<curl_off_t>(total - reader->position, static_cast<curl_off_t>(size * count)));
  if (wanted == 0) return 0;
  for (;;) {
    const ssize_t got = pread(reader->attachment->file.get(), buffer, wanted, reader->position);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      reader->shrank = true;
      return CURL_READFUNC_ABORT;
    }
    reader->position += got;
    return static_cast<size_t>(got);
  }
}

int SeekAttachment(void* readerData, curl_off_t offset, int origin) {
  auto* reader = static_cast<AttachmentReader*>(readerData);
  if (origin != SEEK_SET || offset < 0) return CURL_SEEKFUNC_CANTSEEK;
  reader->position = offset;
  return CURL_SEEKFUNC_OK;
}

std::string DateField() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  // The program never sets a locale, so day and month names are the English ones mail needs.
  if (std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S %z", &local) == 0) return {};
  return text;
}

std::string MessageIdField(const std::string& senderAddress) {
  std::string domain = senderAddress.substr(senderAddress.rfind('@') + 1);
  if (domain.empty() || domain == senderAddress) domain = "postmx.invalid";
  std::random_device entropy;
  const unsigned long long unique =
      (static_cast<unsigned long long>(entropy()) << 32) | entropy();
  char text[96];
  std::snprintf(text, sizeof text, "<%lld.%d.%016llx@", static_cast<long long>(std::time(nullptr)),
                static_cast<int>(getpid()), unique);
  return text + domain + ">";
}

std::string BodyText(const std::vector<std::string>& lines) {
  std::string body;
  for (const std::string& line : lines) body += line + "\r\n";
  return body;
}

bool AddBodyPart(curl_mime* mime, const std::vector<std::string>& lines) {
  const std::string body = BodyText(lines);
  curl_mimepart* const part = curl_mime_addpart(mime);
  if (part == nullptr) return false;
  StringList headers;
  const bool built = Append(headers, FoldField("Content-Disposition", "inline"));
  if (!built || curl_mime_headers(part, headers.get(), 1) != CURLE_OK) return false;
  headers.release();
  const std::string type = std::string("text/plain; charset=") + CharsetOf(body);
  return curl_mime_data(part, body.data(), body.size()) == CURLE_OK &&
         curl_mime_type(part, type.c_str()) == CURLE_OK &&
         // Quoted-printable keeps every byte, long lines and bare CR included, within the
         // limits of SMTP, while the plain text stays readable.
         curl_mime_encoder(part, "quoted-printable") == CURLE_OK;
}

bool AddAttachmentPart(curl_mime* mime, AttachmentReader& reader) {
  const Attachment& attachment = *reader.attachment;
  curl_mimepart* const part = curl_mime_addpart(mime);
  if (part == nullptr) return false;
  StringList headers;
  const bool built =
      Append(headers, FoldField("Content-Type", AttachmentTypeField(attachment.fileName))) &&
      Append(headers, FoldField("Content-Disposition", AttachmentDispositionField(attachment.fileName)));
  if (!built || curl_mime_headers(part, headers.get(), 1) != CURLE_OK) return false;
  headers.release();
  // The file is read in pieces while the message goes out, so memory stays small at any size.
  return curl_mime_data_cb(part, static_cast<curl_off_t>(attachment.size), ReadAttachment,
                           SeekAttachment, nullptr, &reader) == CURLE_OK &&
         curl_mime_encoder(part, "base64") == CURLE_OK;
}

std::string ToField(const std::vector<std::string>& recipients) {
  std::string field;
  for (const std::string& recipient : recipients) {
    if (!field.empty()) field += ", ";
    field += AddressField(recipient);
  }
  return field;
}

std::string FailureText(CURLcode code, const char* errorBuffer, const std::string& refusal) {
  std::string text = "not sent: ";
  text += errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
  if (!refusal.empty()) text += " - server replied: " + refusal;
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view start) {
  if (text.size() < start.size()) return false;
  for (std::size_t i = 0; i < start.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != start[i]) return false;
  }
  return true;
}

bool IsSecureUrl(const std::string& url) { return StartsWithNoCase(url, "smtps://"); }

bool HasCredentials(const std::string& url) {
  const std::size_t authority = url.find("://") + 3;
  const std::size_t end = url.find_first_of("/?#", authority);
  return url.substr(authority, end - authority).find('@') != std::string::npos;
}

}  // namespace

std::string ServerUrl(const std::string& server) {
  if (server.find("://") != std::string::npos) return server;
  return "smtp://" + server;
}

bool IsMailUrl(const std::string& url) {
  return StartsWithNoCase(url, "smtp://") || StartsWithNoCase(url, "smtps://");
}

SendResult SendMail(const MailJob& job, const std::vector<Attachment>& attachments) {
  const EasyHandle easy(curl_easy_init());
  if (!easy) return {false, "not sent: libcurl cannot start"};
  CURL* const curl = easy.get();

  const std::string senderAddress = EnvelopeAddress(job.sender);
  StringList envelopeRecipients;
  for (const std::string& recipient : job.recipients) {
    if (!Append(envelopeRecipients, "<" + EnvelopeAddress(recipient) + ">")) {
      return {false, "not sent: out of memory"};
    }
  }
  StringList headers;
  const bool headersBuilt =
      Append(headers, FoldField("Date", DateField())) &&
      Append(headers, FoldField("From", AddressField(job.sender))) &&
      Append(headers, FoldField("To", ToField(job.recipients))) &&
      Append(headers, FoldField("Subject", SubjectField(job.subject))) &&
      Append(headers, FoldField("Message-ID", MessageIdField(senderAddress)));
  const MimeHandle mime(curl_mime_init(curl));
  bool partsBuilt = headersBuilt && mime && AddBodyPart(mime.get(), job.bodyLines);
  std::vector<AttachmentReader> readers;
  readers.reserve(attachments.size());  // the parts keep pointers to their readers
  for (const Attachment& attachment : attachments) {
    readers.push_back(AttachmentReader{&attachment});
    partsBuilt = partsBuilt && AddAttachmentPart(mime.get(), readers.back());
  }
  if (!partsBuilt) return {false, "not sent: the message cannot be built (out of memory)"};

  const std::string url = ServerUrl(job.server);
  // STARTTLS whenever the server offers it; a password is never sent in the clear.
  const long tls = IsSecureUrl(url) || HasCredentials(url) ? CURLUSESSL_ALL : CURLUSESSL_TRY;
  const std::string mailFrom = "<" + senderAddress + ">";
  TransferWatch watch;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(curl, CURLOPT_USE_SSL, tls);
  // A private certificate authority, named as for curl itself.
  if (const char* authorities = std::getenv("CURL_CA_BUNDLE"); authorities != nullptr && *authorities != '\0') {
    curl_easy_setopt(curl, CURLOPT_CAINFO, authorities);
  }
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mailFrom.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, envelopeRecipients.get());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime.get());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kCommandSeconds);
  // libcurl's own limit for one reply is the longest the server is given; StopAStall applies
  // the shorter one to commands.
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kDataSeconds);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, StopAStall);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, WatchProtocol);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &watch);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);

  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) return {true, "sent"};
  if (watch.stalled) return {false, "not sent: the server stopped answering"};
  for (const AttachmentReader& reader : readers) {
    if (reader.shrank) {
      return {false, "not sent: attachment " + SanitizeForLine(reader.attachment->path) +
                         " became shorter while it was sent"};
    }
  }
  return {false, FailureText(code, errorBuffer, watch.lastRefusal)};
}

}  // namespace postmx
