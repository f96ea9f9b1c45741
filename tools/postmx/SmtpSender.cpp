#include "SmtpSender.h"

#include "MimeText.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string_view>

#include <unistd.h>

namespace postmx {
namespace {

// Time-outs. Each phase gives up on a silent server after 20 s; the whole send is given a
// minute, and more only for a message so large that a slow but working line needs it.
constexpr long kConnectSeconds = 20;
constexpr long kReplySeconds = 20;
constexpr long kStallSeconds = 20;
constexpr long kTotalSeconds = 55;
constexpr long kSlowestBytesPerSecond = 25000;

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

// The server's replies arrive as "header in" data when verbose. The last refusal (a 4xx or 5xx
// reply) is kept, so that it can be logged in the server's own words; the polite replies that
// follow it (QUIT's 221) do not replace it.
int KeepServerRefusal(CURL*, curl_infotype type, char* data, size_t size, void* lastRefusal) {
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string text(data, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::size_t lastLineFeed = text.rfind('\n');
  if (lastLineFeed != std::string::npos) text.erase(0, lastLineFeed + 1);
  if (!text.empty() && (text[0] == '4' || text[0] == '5')) {
    *static_cast<std::string*>(lastRefusal) = text;
  }
  return 0;
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
  const bool built = Append(headers, "Content-Disposition: inline");
  if (!built || curl_mime_headers(part, headers.get(), 1) != CURLE_OK) return false;
  headers.release();
  const std::string type = std::string("text/plain; charset=") + CharsetOf(body);
  return curl_mime_data(part, body.data(), body.size()) == CURLE_OK &&
         curl_mime_type(part, type.c_str()) == CURLE_OK &&
         // Quoted-printable keeps every byte, long lines and bare CR included, within the
         // limits of SMTP, while the plain text stays readable.
         curl_mime_encoder(part, "quoted-printable") == CURLE_OK;
}

bool AddAttachmentPart(curl_mime* mime, const Attachment& attachment) {
  curl_mimepart* const part = curl_mime_addpart(mime);
  if (part == nullptr) return false;
  StringList headers;
  const bool built =
      Append(headers, "Content-Type: " + AttachmentTypeField(attachment.fileName)) &&
      Append(headers, "Content-Disposition: " + AttachmentDispositionField(attachment.fileName));
  if (!built || curl_mime_headers(part, headers.get(), 1) != CURLE_OK) return false;
  headers.release();
  return curl_mime_data(part, attachment.bytes.data(), attachment.bytes.size()) == CURLE_OK &&
         curl_mime_encoder(part, "base64") == CURLE_OK;
}

std::string ToField(const std::vector<std::string>& recipients) {
  std::string field;
  for (const std::string& recipient : recipients) {
    if (!field.empty()) field += ",\r\n ";
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
  const bool headersBuilt = Append(headers, "Date: " + DateField()) &&
                            Append(headers, "From: " + AddressField(job.sender)) &&
                            Append(headers, "To: " + ToField(job.recipients)) &&
                            Append(headers, "Subject: " + SubjectField(job.subject)) &&
                            Append(headers, "Message-ID: " + MessageIdField(senderAddress));
  const MimeHandle mime(curl_mime_init(curl));
  bool partsBuilt = headersBuilt && mime && AddBodyPart(mime.get(), job.bodyLines);
  std::size_t messageBytes = 0;
  for (const Attachment& attachment : attachments) {
    partsBuilt = partsBuilt && AddAttachmentPart(mime.get(), attachment);
    messageBytes += attachment.bytes.size() / 3 * 4;
  }
  if (!partsBuilt) return {false, "not sent: the message cannot be built (out of memory)"};

  const std::string url = ServerUrl(job.server);
  const long totalSeconds =
      std::max(kTotalSeconds, static_cast<long>(messageBytes / kSlowestBytesPerSecond));
  // STARTTLS whenever the server offers it; a password is never sent in the clear.
  const long tls = IsSecureUrl(url) || HasCredentials(url) ? CURLUSESSL_ALL : CURLUSESSL_TRY;
  const std::string mailFrom = "<" + senderAddress + ">";
  std::string lastRefusal;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(curl, CURLOPT_USE_SSL, tls);
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mailFrom.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, envelopeRecipients.get());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime.get());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kReplySeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalSeconds);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, KeepServerRefusal);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &lastRefusal);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);

  const CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK) return {false, FailureText(code, errorBuffer, lastRefusal)};
  return {true, "sent"};
}

}  // namespace postmx
