// Browsing a folder through the real window as a user holding Tab, then Shift+Tab, does:
// each press waits until it has had its effect, never for a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/ui/ViewerSession.h"

namespace vimo::test {

// What one key press ended in.
struct BrowseStep {
  std::string converted;              // the history entry now current (empty: none)
  std::string title;                  // the document's title after the press
  std::vector<std::string> messages;  // message boxes the press brought
};

// Presses Tab until the Next command is disabled (nothing more can come), calling onStep after
// each press once it has had its effect: another entry became current, a message box came, or
// the command was disabled. False when a press had none of these within timeoutMs.
bool HoldTab(ViewerSession& session, const std::function<void(const BrowseStep&)>& onStep, int timeoutMs = 120000);

// The same with Shift+Tab and the Previous command.
bool HoldShiftTab(ViewerSession& session, const std::function<void(const BrowseStep&)>& onStep,
                  int timeoutMs = 120000);

// The source name a converted file stands for: its name without the ".bmp" the worker added.
std::string SourceNameOf(const std::string& converted);

// The process's peak resident memory so far, in bytes.
long long PeakResidentBytes();

}  // namespace vimo::test
