// The application's profile file: Windows INI text ("[section]" lines, "entry=value" lines),
// read through minIni and changed by replacing the whole file, so that a crash or a full disk
// during a write leaves the previous profile, never half of one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vimo::platform {

// The value of entry in section, or fallback when the file has none.
std::string ReadProfileString(const char* path, const char* section, const char* entry, const char* fallback);
long ReadProfileInt(const char* path, const char* section, const char* entry, long fallback);

// One change of a profile: entry in section set to value, or removed when value is empty.
struct ProfileEdit {
  std::string section;
  std::string entry;
  std::optional<std::string> value;
};

// Whether value can be stored for entry and read back whole: no line break in it, and its line
// no longer than the reader takes.
bool IsStorableProfileValue(const char* entry, const char* value);

// The last of edits that sets or removes entry in section (names compared as the reader compares
// them: ASCII case folded); nullptr when none touches it.
const ProfileEdit* LastEditOf(const std::vector<ProfileEdit>& edits, std::string_view section, std::string_view entry);

// Makes the edits in order, every other line staying as it was, and replaces the file once, so
// that after a crash the file holds all of them or none. A value that could not be read back
// whole is not stored: its entry is removed and the result is false. False, with the file
// unchanged, when it cannot be read or written.
bool WriteProfileStrings(const char* path, const std::vector<ProfileEdit>& edits);
// The same for one entry (value nullptr: remove it).
bool WriteProfileString(const char* path, const char* section, const char* entry, const char* value);

}  // namespace vimo::platform
