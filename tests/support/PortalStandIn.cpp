#include "support/PortalStandIn.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "support/ImageFixtures.h"
#include "support/SmtpSink.h"

namespace vimo::test {

static const TempDir& Folder() {
  static const TempDir folder;
  return folder;
}

PortalStandIn& PortalStandIn::Get() {
  static PortalStandIn standIn;
  // It runs while its input is open: to the end of the test program.
  static std::unique_ptr<FILE, int (*)(FILE*)> input(nullptr, &pclose);
  if (input) return standIn;
  const std::filesystem::path folder = Folder().Path();
  standIn.Answer("0");
  const std::string command = "exec /usr/bin/python3 " + ShellQuoted(VIMO_SOURCE_DIR "/tests/support/portal_stand_in.py") + " " +
                              ShellQuoted(folder.string()) + " 2>/dev/null";
  input.reset(popen(command.c_str(), "w"));
  WaitUntil([&] { return std::filesystem::exists(folder / "address"); });  // written aside, then renamed
  std::string address;
  std::getline(std::ifstream(folder / "address"), address);
  EXPECT_FALSE(address.empty()) << "the portal stand-in did not start";
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  return standIn;
}

void PortalStandIn::Answer(const std::string& answer) const { std::ofstream(Folder().Path() / "answer") << answer << "\n"; }

std::vector<std::string> PortalStandIn::Calls() const {
  std::vector<std::string> calls;
  std::ifstream in(Folder().Path() / "calls");
  for (std::string line; std::getline(in, line);) calls.push_back(line);
  return calls;
}

}  // namespace vimo::test
