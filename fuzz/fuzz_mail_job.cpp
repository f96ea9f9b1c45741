// The mail sender's job reader on any bytes: the whole text through ParseMailJob, whose result
// must be self-consistent.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "MailJob.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  postmx::MailJob job;
  std::string error;
  const bool accepted = postmx::ParseMailJob(text, job, error);
  if (accepted && (job.server.empty() || job.recipients.empty() || job.sender.empty() || job.bodyLines.empty())) {
    std::fprintf(stderr, "a job without server, recipient, sender or body was accepted\n");
    std::abort();
  }
  if (!accepted && error.empty()) {
    std::fprintf(stderr, "a refused job without a reason\n");
    std::abort();
  }
  return 0;
}
