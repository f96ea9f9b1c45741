#include "doc/FolderImages.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <numeric>
#include <string>

#include "convert/ExifBlock.h"
#include "settings/Preferences.h"

namespace {

std::uint64_t Ticks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Seconds of the file's last change; 0 when it cannot be told.
std::int64_t ModifiedSeconds(const WIN32_FILE_ATTRIBUTE_DATA& data) {
  return static_cast<std::int64_t>(Ticks(data.ftLastWriteTime) / 10000000ull) - 11644473600ll;
}

// Seconds of an EXIF time ("YYYY:MM:DD HH:MM:SS", the camera's local time); -1 when it is none.
std::int64_t ExifSeconds(const std::string& text) {
  std::tm when{};
  if (std::sscanf(text.c_str(), "%d:%d:%d %d:%d:%d", &when.tm_year, &when.tm_mon, &when.tm_mday, &when.tm_hour,
                  &when.tm_min, &when.tm_sec) != 6)
    return -1;
  when.tm_year -= 1900;
  when.tm_mon -= 1;
  when.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&when);
  return seconds == static_cast<std::time_t>(-1) ? -1 : static_cast<std::int64_t>(seconds);
}

}  // namespace

void CFolderImages::Clear(BOOL bFolder) {
  m_names.clear();
  m_listed.clear();
  m_bFolder = bFolder;
  ++m_nGeneration;
}

void CFolderImages::Add(const char* name) {
  m_names.emplace_back(name);
  ++m_nGeneration;
}

void CFolderImages::Sort(const char* folder, int nOrder, BOOL bReverse) {
  if (!m_bFolder) return;
  ++m_nGeneration;
  // While m_listed is empty the names are in the listing's order: a start in that order copies
  // nothing.
  if (m_listed.empty() && nOrder == kSortByName && !bReverse) return;
  if (m_listed.empty()) m_listed = m_names;
  m_names = m_listed;
  if (nOrder != kSortByName) {
    // Each name's key, then the names in the order of their keys (the listing's among equals).
    std::vector<std::int64_t> keys(m_names.size(), 0);
    for (std::size_t i = 0; i < m_names.size(); ++i) {
      const CString path = CString(folder) + m_names[i];
      WIN32_FILE_ATTRIBUTE_DATA data{};
      const BOOL bKnown = GetFileAttributesExA(path, GetFileExInfoStandard, &data);
      if (nOrder == kSortBySize) keys[i] = bKnown ? static_cast<std::int64_t>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow) : 0;
      else keys[i] = bKnown ? ModifiedSeconds(data) : 0;
      if (nOrder == kSortByDateTaken) {
        const std::int64_t taken = ExifSeconds(CExifBlock(path).GetDateTaken());
        if (taken >= 0) keys[i] = taken;
      }
    }
    std::vector<std::size_t> order(m_names.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    std::vector<CString> sorted;
    sorted.reserve(order.size());
    for (const std::size_t i : order) sorted.push_back(m_names[i]);
    m_names = std::move(sorted);
  }
  if (bReverse) std::reverse(m_names.begin(), m_names.end());
}

void CFolderImages::Remove(const char* name) {
  for (std::vector<CString>* list : {&m_names, &m_listed}) {
    const auto found = std::find_if(list->begin(), list->end(), [name](const CString& each) { return each == name; });
    if (found != list->end()) list->erase(found);
  }
  ++m_nGeneration;
}

void CFolderImages::Rename(const char* name, const char* newName) {
  for (std::vector<CString>* list : {&m_names, &m_listed}) {
    for (CString& each : *list) {
      if (each == name) each = newName;
    }
  }
  ++m_nGeneration;
}

int CFolderImages::Find(const char* name) const {
  for (std::size_t i = 0; i < m_names.size(); ++i) {
    if (m_names[i] == name) return static_cast<int>(i);
  }
  return -1;
}
