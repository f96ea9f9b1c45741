// The mail job file's bytes, line by line, for the recipient and body forms users enter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ImageFixtures.h"
#include "view/GiftMailJob.h"

namespace {

std::string StoredJob(const CString& to, const CString& subject, const CString& body) {
  const vimo::test::TempDir dir;
  const CString text = MakeMailJobText("/opt/vimo/vimolog.txt", "smtp.example.jp", to, "me@example.jp", subject,
                                       "/p/a.jpg\t/p/b.gif", body);
  EXPECT_EQ(WriteMailJobFile((dir / "job").c_str(), text), 1);
  return vimo::test::TextOfFile(dir / "job");
}

struct RecipientCase {
  const char* name;
  const char* to;
  const char* line;
};

class Recipients : public testing::TestWithParam<RecipientCase> {};

TEST_P(Recipients, BecomeOneTabSeparatedLine) {
  EXPECT_EQ(MakeRecipientLine(GetParam().to).str(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, Recipients,
    testing::Values(RecipientCase{"TwoLines", "a@x\r\nb@y", "a@x\tb@y"},
                    RecipientCase{"TwoLinesWithLineBreak", "a@x\r\nb@y\r\n", "a@x\tb@y"},
                    RecipientCase{"BlankLineBetween", "a@x\r\n\r\nb@y", "a@x\tb@y"},
                    RecipientCase{"LeadingBlankLines", "\r\n\r\na@x", "a@x"},
                    RecipientCase{"BlanksKeptAsTyped", " a@x \r\nb@y", " a@x \tb@y"},
                    RecipientCase{"One", "a@x", "a@x"},
                    RecipientCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<RecipientCase>& info) { return info.param.name; });

TEST(MailJobFile, HoldsTheLinesInOrderWithCrLfAndNoFinalBreak) {
  EXPECT_EQ(StoredJob("a@x\r\nb@y", "Photos", "Hello\r\nBye"),
            "/opt/vimo/vimolog.txt\r\n"
            "smtp.example.jp\r\n"
            "a@x\tb@y\r\n"
            "me@example.jp\r\n"
            "Photos\r\n"
            "/p/a.jpg\t/p/b.gif\r\n"
            "Hello\r\n"
            "Bye");
}

TEST(MailJobFile, BodyWithEmptyMiddleLineGivesThreeLines) {
  const auto lines = vimo::test::Split(StoredJob("a@x", "s", "one\r\n\r\nthree"), "\r\n");
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[6], "one");
  EXPECT_EQ(lines[7], "");
  EXPECT_EQ(lines[8], "three");
}

TEST(MailJobFile, EmptySubjectAndBodyGiveEmptyLines) {
  const std::string bytes = StoredJob("a@x", "", "");
  const auto lines = vimo::test::Split(bytes, "\r\n");
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[6], "");
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");  // the break after line 6 ends the file
}

TEST(MailJobFile, BodyEndingInLineBreakEndsWithEmptyLine) {
  const auto lines = vimo::test::Split(StoredJob("a@x", "s", "one\r\ntwo\r\n"), "\r\n");
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[8], "");
}

TEST(MailJobFile, LoneLineFeedInsideBodyStartsANewLine) {
  const auto lines = vimo::test::Split(StoredJob("a@x", "s", "one\ntwo"), "\r\n");
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[6], "one");
  EXPECT_EQ(lines[7], "two");
}

TEST(MailJobFile, UnwritablePlaceIsReported) {
  EXPECT_EQ(WriteMailJobFile("/nonexistent-folder/VIMxyz", "text"), 0);
}

}  // namespace
