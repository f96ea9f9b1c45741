// A conversion the test holds back: the worker converts sources whose name holds "late" only once
// the test releases them; all others at once.
#pragma once

#include <atomic>

namespace vimo::test {

struct LateConverter {
  // Put in place with AfxTestAccess::SetConvertFunction.
  static int Convert(const char* src, const char* dst, int colours);
  // Late sources wait again (the state a test program starts in); Release lets them through.
  static void Hold();
  static void Release();
  // How many late sources wait now.
  static std::atomic<int> waiting;
};

}  // namespace vimo::test
