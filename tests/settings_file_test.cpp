// The Image Gift settings file: what the reader makes of hand-written files, and what comes
// back at the next start after the writer stored the settings.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include "app/GiftSettingsFile.h"
#include "app/Globals.h"
#include "support/ImageFixtures.h"

namespace {

struct Settings {
  std::string server, to, from, subject, body;
};

bool operator==(const Settings& a, const Settings& b) {
  return a.server == b.server && a.to == b.to && a.from == b.from && a.subject == b.subject && a.body == b.body;
}

std::ostream& operator<<(std::ostream& os, const Settings& s) {
  return os << "{server=" << testing::PrintToString(s.server) << " to=" << testing::PrintToString(s.to)
            << " from=" << testing::PrintToString(s.from) << " subject=" << testing::PrintToString(s.subject)
            << " body=" << testing::PrintToString(s.body) << "}";
}

class SettingsFileTest : public testing::Test {
 protected:
  void SetUp() override {
    m_path = (m_dir / "vimo.txt").string();
    SetGlobals({});
  }

  static void SetGlobals(const Settings& s) {
    g_strServer = s.server.c_str();
    g_strTo = s.to.c_str();
    g_strFrom = s.from.c_str();
    g_strSubject = s.subject.c_str();
    g_strBody = s.body.c_str();
  }

  static Settings Globals() {
    return {g_strServer.str(), g_strTo.str(), g_strFrom.str(), g_strSubject.str(), g_strBody.str()};
  }

  void WriteFile(const std::string& bytes) const { vimo::test::WriteText(m_path, bytes); }
  std::string FileBytes() const { return vimo::test::TextOfFile(m_path); }

  // Reads the file at start-up, when the settings are still empty.
  Settings ReadBack() const {
    SetGlobals({});
    ReadGiftSettings(m_path.c_str());
    return Globals();
  }

  vimo::test::TempDir m_dir;
  std::string m_path;
};

TEST_F(SettingsFileTest, WriterLaysOutTheKeysInOrder) {
  SetGlobals({"smtp.example.jp", "alice@example.jp\r\nbob@example.jp", "me@example.jp", "Photos",
              "Hello\r\nSee you"});
  WriteGiftSettings(m_path.c_str());
  EXPECT_EQ(FileBytes(),
            "\tServer\tsmtp.example.jp\r\n"
            "\tTo\r\n"
            "alice@example.jp\r\nbob@example.jp\r\n\r\n"
            "\tFrom\tme@example.jp\r\n"
            "\tSubject\tPhotos\r\n"
            "\tBody\r\n"
            "Hello\r\nSee you");
}

TEST_F(SettingsFileTest, WriterReplacesAnExistingFile) {
  WriteFile(std::string(10000, 'x'));
  SetGlobals({"s", "", "", "", ""});
  WriteGiftSettings(m_path.c_str());
  EXPECT_EQ(FileBytes(), "\tServer\ts\r\n\tTo\r\n\r\n\r\n\tFrom\t\r\n\tSubject\t\r\n\tBody\r\n");
}

TEST_F(SettingsFileTest, WriterIntoAMissingFolderWritesNothing) {
  const std::string path = (m_dir / "no-such-folder" / "vimo.txt").string();
  SetGlobals({"s", "a@b", "c@d", "", ""});
  WriteGiftSettings(path.c_str());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SettingsFileTest, WriteThatFailsMidwayLeavesTheOldFileWhole) {
  const std::string old = "\tServer\told.example.jp\r\n\tTo\r\n\r\n\r\n\tFrom\t\r\n\tSubject\t\r\n\tBody\r\nkeep me";
  WriteFile(old);
  SetGlobals({"new.example.jp", "a@b", "c@d", "s", std::string(100000, 'b')});
  {
    const vimo::test::FileSizeLimit fullDisk(4096);
    WriteGiftSettings(m_path.c_str());
  }
  EXPECT_EQ(FileBytes(), old);
  const auto entries = std::distance(std::filesystem::directory_iterator(m_dir.Path()), std::filesystem::directory_iterator());
  EXPECT_EQ(entries, 1);  // nothing half-written left beside it
}

TEST_F(SettingsFileTest, NewFileIsTheUsersAloneAndAnExistingOneKeepsItsMode) {
  using std::filesystem::perms;
  const perms ownerOnly = perms::owner_read | perms::owner_write;
  const struct {
    const char* why;
    std::optional<perms> before;  // nullopt: no file
    bool symlink;
    perms after;
  } cases[] = {
      {"a new file may hold a password", std::nullopt, false, ownerOnly},
      {"the user shared the file with the group", ownerOnly | perms::group_read, false, ownerOnly | perms::group_read},
      {"a symlink at the name is replaced, not followed", std::nullopt, true, ownerOnly},
  };
  const std::filesystem::path target = m_dir / "target.txt";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    std::filesystem::remove(m_path);
    WriteFile("\tServer\told\r\n");
    if (c.before) std::filesystem::permissions(m_path, *c.before);
    else std::filesystem::remove(m_path);
    if (c.symlink) {
      vimo::test::WriteText(target, "untouched");
      std::filesystem::create_symlink(target, m_path);
    }
    SetGlobals({"new", "", "", "", ""});
    WriteGiftSettings(m_path.c_str());
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(m_path)));
    EXPECT_EQ(std::filesystem::status(m_path).permissions() & perms::all, c.after);
    EXPECT_EQ(ReadBack().server, "new");
  }
  EXPECT_EQ(vimo::test::TextOfFile(target), "untouched");
}

struct ReaderCase {
  const char* name;
  std::string file;
  Settings expected;
};

class ReaderCases : public SettingsFileTest, public testing::WithParamInterface<ReaderCase> {};

TEST_P(ReaderCases, YieldsTheRecognisedValues) {
  WriteFile(GetParam().file);
  EXPECT_EQ(ReadBack(), GetParam().expected);
}

const std::string kLong(9000, 'r');

INSTANTIATE_TEST_SUITE_P(
    HandWrittenFiles, ReaderCases,
    testing::Values(
        ReaderCase{"ServerWithoutLineBreak", "\tServer\tmail", {"mail", "", "", "", ""}},
        ReaderCase{"RecipientsEndAtEmptyLine",
                   "\tTo\r\nalice\r\nbob\r\n\r\n\tFrom\tme\r\n",
                   {"", "alice\r\nbob", "me", "", ""}},
        ReaderCase{"ShortRecipientEndsTheBlock", "\tTo\r\nx\r\nbob\r\n", {"", "", "", "", ""}},
        ReaderCase{"BodySwallowsLaterKeys",
                   "\tBody\r\nhello\r\n\tServer\tabc",
                   {"", "", "", "", "hello\r\n\tServer\tabc"}},
        ReaderCase{"KeysAreCaseSensitive", "\tserver\tmail\r\n\tSubject\tHi\r\n", {"", "", "", "Hi", ""}},
        ReaderCase{"LaterKeyReplacesEarlier", "\tFrom\ta\r\n\tFrom\tb\r\n", {"", "", "b", "", ""}},
        ReaderCase{"RecipientBlocksAddUp",
                   "\tTo\r\nann\r\n\r\n\tTo\r\nbea\r\n\r\n",
                   {"", "ann\r\nbea", "", "", ""}},
        ReaderCase{"LineFeedsAloneWork", "\tServer\ts1\n\tTo\nann\nbea\n\n\tFrom\tme\n", {"s1", "ann\r\nbea", "me", "", ""}},
        ReaderCase{"UnknownLinesAreSkipped", "garbage\r\n\x01\x02\r\n\tSubject\tok\r\n", {"", "", "", "ok", ""}},
        ReaderCase{"NulEndsTheLineAsRead", std::string("\tServer\tab\0cd\r\n", 15), {"ab", "", "", "", ""}},
        ReaderCase{"LongRecipientSplitsAt8191", "\tTo\r\n" + kLong + "\r\n\r\n",
                   {"", std::string(8191, 'r') + "\r\n" + std::string(809, 'r'), "", "", ""}},
        ReaderCase{"LongServerKeepsFirstPiece", "\tServer\t" + kLong + "\r\n",
                   {std::string(8191 - 8, 'r'), "", "", "", ""}},
        ReaderCase{"EmptyFile", "", {"", "", "", "", ""}}),
    [](const testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });

TEST_F(SettingsFileTest, MissingFileLeavesTheSettingsAlone) {
  SetGlobals({"keep", "a@b", "c@d", "s", "b"});
  ReadGiftSettings((m_dir / "absent.txt").string().c_str());
  EXPECT_EQ(Globals(), (Settings{"keep", "a@b", "c@d", "s", "b"}));
}

struct RoundTrip {
  const char* name;
  Settings written;
  Settings readBack;
};

class RoundTrips : public SettingsFileTest, public testing::WithParamInterface<RoundTrip> {};

TEST_P(RoundTrips, NextStartSeesWhatTheFormatKeeps) {
  SetGlobals(GetParam().written);
  WriteGiftSettings(m_path.c_str());
  EXPECT_EQ(ReadBack(), GetParam().readBack);
}

INSTANTIATE_TEST_SUITE_P(
    WriteThenRead, RoundTrips,
    testing::Values(
        RoundTrip{"Everything",
                  {"smtp.example.jp", "alice@example.jp\r\nbob@example.jp", "me@example.jp", "写真です", "Hi\r\nBye"},
                  {"smtp.example.jp", "alice@example.jp\r\nbob@example.jp", "me@example.jp", "写真です", "Hi\r\nBye"}},
        RoundTrip{"EmptySettings", {"", "", "", "", ""}, {"", "", "", "", ""}},
        RoundTrip{"RecipientsEndingInLineBreak", {"s", "ann@x\r\nbea@y\r\n", "f", "", ""},
                  {"s", "ann@x\r\nbea@y", "f", "", ""}},
        RoundTrip{"EmptyLineInsideRecipientsCutsTheList", {"s", "ann@x\r\n\r\nbea@y", "f", "", ""},
                  {"s", "ann@x", "f", "", ""}},
        RoundTrip{"OneByteRecipientCutsTheList", {"s", "ann@x\r\nb\r\ncid@z", "f", "", ""},
                  {"s", "ann@x", "f", "", ""}},
        RoundTrip{"BodyEndingInLineBreak", {"s", "a@b", "f", "", "one\r\ntwo\r\n"},
                  {"s", "a@b", "f", "", "one\r\ntwo\r\n"}},
        RoundTrip{"BodyWithBlankLinesComesBackWhole", {"s", "a@b", "f", "", "one\r\n\r\n\r\ntwo"},
                  {"s", "a@b", "f", "", "one\r\n\r\n\r\ntwo"}},
        RoundTrip{"BodyStartingWithBlankLine", {"s", "a@b", "f", "", "\r\nx"}, {"s", "a@b", "f", "", "\r\nx"}}),
    [](const testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

}  // namespace
