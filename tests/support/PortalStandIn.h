// The desktop portal's wallpaper call answered by portal_stand_in.py on a session bus of its own.
// A process keeps the first session bus it connects to, so there is one per test program: made on
// first use, it is DBUS_SESSION_BUS_ADDRESS from then on.
#pragma once

#include <string>
#include <vector>

namespace vimo::test {

struct PortalStandIn {
  static PortalStandIn& Get();
  // How the next calls are answered: "0" done, "1" cancelled, "2" failed, "unknown" no backend.
  void Answer(const std::string& answer) const;
  // The calls so far: "URI<TAB>{options}".
  std::vector<std::string> Calls() const;
};

}  // namespace vimo::test
