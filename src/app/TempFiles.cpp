#include "app/TempFiles.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "win32/Kernel.h"
#include "win32/SafeFiles.h"
#include "win32/TempFolder.h"
#include "win32/UserFolders.h"

namespace {

// $XDG_CACHE_HOME/vimo, else ~/.cache/vimo; empty when neither can be named.
std::string CacheRoot() {
  const std::string cache = vimo::platform::UserCacheHome();
  return cache.empty() ? cache : cache + "/vimo";
}

bool IsLeftover(const char* name) {
  const size_t length = std::strlen(name);
  return (length >= 4 && std::strcmp(name + length - 4, ".bmp") == 0) || std::strncmp(name, "magick-", 7) == 0;
}

vimo::platform::PrivateFolderRule Rule() { return {{}, "vimo-", "vimo.lock", &IsLeftover}; }

}  // namespace

std::string TempFilesRoot(bool onTmpfs) {
  const std::string base = vimo::platform::TempBase();
  if (!onTmpfs) return base;
  const std::string cache = CacheRoot();
  return (!cache.empty() && vimo::platform::MakePrivateFolder(cache)) ? cache : base;
}

void CleanAbandonedTempFiles() {
  const vimo::platform::PrivateFolderRule rule = Rule();
  vimo::platform::CleanAbandonedFolders(vimo::platform::TempBase(), rule);
  const std::string cache = CacheRoot();
  if (!cache.empty() && vimo::platform::IsOwnFolder(cache)) vimo::platform::CleanAbandonedFolders(cache, rule);
}

void SetUpTempFiles() {
  CleanAbandonedTempFiles();
  vimo::platform::PrivateFolderRule rule = Rule();
  rule.roots = {TempFilesRoot(vimo::platform::IsOnTmpfs(vimo::platform::TempBase()))};
  vimo::platform::SetPrivateFolderRule(std::move(rule));
  std::string folder = vimo::platform::PrivateFolder();
  if (folder.empty()) return;
  folder.pop_back();
  const char* current = std::getenv("MAGICK_TEMPORARY_PATH");
  if (current == nullptr || *current == '\0') SetEnvironmentVariableA("MAGICK_TEMPORARY_PATH", folder.c_str());
}
