#include "support/ui/LateConverter.h"

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "convert/ConvertImage.h"

namespace vimo::test {

namespace {

std::mutex g_mutex;
std::condition_variable g_released;
bool g_open = false;

}  // namespace

std::atomic<int> LateConverter::waiting{0};

int LateConverter::Convert(const char* src, const char* dst, int colours) {
  if (std::strstr(src, "late") != nullptr) {
    std::unique_lock<std::mutex> lock(g_mutex);
    ++waiting;
    g_released.wait(lock, [] { return g_open; });
    --waiting;
  }
  return ConvertImage(src, dst, colours);
}

void LateConverter::Hold() {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_open = false;
}

void LateConverter::Release() {
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_open = true;
  }
  g_released.notify_all();
}

}  // namespace vimo::test
