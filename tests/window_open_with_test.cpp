// Open with (Ctrl+Shift+O) lists the desktop's applications for the photo's type as GLib reads the
// freedesktop associations, the default first, and starts the one chosen on the file as its Exec
// line asks. GLib reads the user's folders once in a process, so this program has one session.
#include <gtest/gtest.h>

#include <QTest>

#include <sys/stat.h>

#include <algorithm>

#include "res/Resource.h"
#include "support/ui/ScreenViewer.h"
#include "support/ui/UserInput.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  WriteFile(path, Bytes(text.begin(), text.end()));
}

// A desktop entry whose program writes the arguments it was given into dir/<name>, one a line.
void WriteApp(const fs::path& dir, const std::string& name, const std::string& title, const std::string& type,
              const std::string& field) {
  WriteText(fs::path(std::getenv("XDG_DATA_HOME")) / "applications" / (name + ".desktop"),
            "[Desktop Entry]\nType=Application\nName=" + title + "\nExec=" + (dir / "record").string() + " " +
                (dir / name).string() + " " + field + "\nMimeType=" + type + ";\n");
}

TEST(OpenWith, ListsTheTypesApplicationsDefaultFirstAndStartsTheChosenOneOnTheFile) {
  const TempDir dir;
  const fs::path photo = dir / "a b.jpg";
  RunConvert("-size 16x16 xc:red " + (dir / "a.jpg").string());
  fs::rename(dir / "a.jpg", photo);
  ViewerSession session;  // the user's folders are its own from here
  WriteText(dir / "record", "#!/bin/sh\nout=\"$1\"; shift\nprintf '%s\\n' \"$@\" > \"$out.new\" && mv \"$out.new\" \"$out\"\n");
  ASSERT_EQ(chmod((dir / "record").c_str(), 0755), 0);
  WriteApp(dir.Path(), "vimo-test-one", "Viewer One", "image/jpeg", "%f");
  WriteApp(dir.Path(), "vimo-test-two", "Viewer Two", "image/jpeg", "%u");
  WriteApp(dir.Path(), "vimo-test-other", "Other Tool", "text/plain", "%f");
  // Indexed as a package's installation indexes them: GLib reads a folder's types from its index.
  const fs::path apps = fs::path(std::getenv("XDG_DATA_HOME")) / "applications";
  ASSERT_EQ(RunProgram({"update-desktop-database", apps.string()}).status, 0);
  WriteText(fs::path(std::getenv("XDG_CONFIG_HOME")) / "mimeapps.list",
            "[Default Applications]\nimage/jpeg=vimo-test-two.desktop\n");
  ASSERT_TRUE(session.Start({photo.string()}));
  ASSERT_TRUE(session.WaitForImage("a b.jpg"));

  const struct {
    const char* what;
    std::vector<std::string> chosen;  // the item chosen in each menu shown
    const char* started;
    std::string argument;
  } rows[] = {
      {"the default", {"Viewer Two"}, "vimo-test-two", photo.string()},
      {"another for the type", {"Viewer One"}, "vimo-test-one", photo.string()},
      {"another program", {"他のﾌﾟﾛｸﾞﾗﾑ(&O)...", "Other Tool"}, "vimo-test-other", photo.string()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    session.popups.clear();
    session.popupHandler = [&](const std::vector<std::string>& items) -> UINT {
      const std::string& wanted = row.chosen[std::min(session.popups.size(), row.chosen.size()) - 1];
      for (const std::string& item : items) {
        if (item.starts_with(wanted + "|")) return static_cast<UINT>(std::stoul(item.substr(wanted.size() + 1)));
      }
      return 0;
    };
    PressKey(session.Frame(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(session.popups.size(), row.chosen.size());
    const std::vector<std::string>& first = session.popups[0];
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(first[0].starts_with("Viewer Two|")) << "the default first";
    EXPECT_EQ(std::count_if(first.begin(), first.end(), [](const std::string& item) { return item.starts_with("Other Tool|"); }), 0);
    const fs::path record = dir / row.started;
    ASSERT_TRUE(ViewerSession::WaitFor([&] { return fs::exists(record); }));
    const Bytes given = ReadFile(record);
    EXPECT_EQ(std::string(given.begin(), given.end()), row.argument + "\n");
    EXPECT_TRUE(session.messages.empty());
  }
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
