// An install staged into a temporary folder (cmake --install with DESTDIR), checked as the
// desktop reads it and started as a user would; and where each kind of copy keeps vimo.txt and
// vimolog.txt and its desktop entry.
#include <gtest/gtest.h>

#include <QImage>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <regex>
#include <set>

#include "afx/QtBridge.h"
#include "afx/Resource.h"
#include "app/Globals.h"
#include "convert/ImageFormat.h"
#include "res/Resource.h"
#include "support/ui/ViewerSession.h"
#include "win32/Kernel.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Runs a shell command with its output into log; true when it exited with 0.
bool RunShell(const std::string& command, const fs::path& log) {
  return std::system((command + " >" + Quoted(log) + " 2>&1").c_str()) == 0;
}

// Every file and link below root, as paths relative to root.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_directory() || entry.is_symlink()) files.insert(entry.path().lexically_relative(root).string());
  }
  return files;
}

// Installs everything the build makes into stage; the manifest goes beside the build's own.
bool InstallInto(const fs::path& stage, const fs::path& log) {
  return RunShell("DESTDIR=" + Quoted(stage) + " cmake --install " + Quoted(VIMO_BINARY_DIR) + " --component vimo", log);
}

const fs::path kBinDir = VIMO_INSTALL_FULL_BINDIR;
const fs::path kProgramDir = VIMO_INSTALL_FULL_PROGRAMDIR;
const fs::path kDataDir = VIMO_INSTALL_FULL_DATADIR;
const fs::path kManDir = VIMO_INSTALL_FULL_MANDIR;
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

// Where a path of the installed tree lands inside the staging folder.
fs::path Staged(const fs::path& stage, const fs::path& installed) { return stage / installed.relative_path(); }

std::set<std::string> ExpectedFiles() {
  std::set<std::string> files = {
      (kBinDir / "vimo").relative_path(),
      (kProgramDir / "vimo").relative_path(),
      (kProgramDir / "Postmx.exe").relative_path(),
      (kProgramDir / "libvimo-formats.so").relative_path(),
      (kDataDir / "applications/vimo.desktop").relative_path(),
      (kDataDir / "icons/hicolor/scalable/apps/vimo.svg").relative_path(),
      (kDataDir / "metainfo" / (std::string(VIMO_APP_ID) + ".metainfo.xml")).relative_path(),
      (kManDir / "man1/vimo.1").relative_path(),
  };
  for (const int size : kIconSizes) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    files.insert((kDataDir / "icons/hicolor" / folder / "apps/vimo.png").relative_path());
  }
  return files;
}

// The window's icon, resource 128.
QImage Artwork() {
  return AfxImageFromResource(AfxFindIconResource(IDR_MAINFRAME)).convertToFormat(QImage::Format_ARGB32);
}

// Paints the SVG icon's rectangles (the only shapes it holds) back into an image of its view box.
QImage PaintSvgRects(const std::string& svg, int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(0);
  const std::regex rect(R"re(<rect x="(\d+)" y="(\d+)" width="(\d+)" height="(\d+)" fill="#([0-9a-f]{6})"/>)re");
  for (std::sregex_iterator it(svg.begin(), svg.end(), rect), end; it != end; ++it) {
    const QRgb colour = 0xFF000000u | static_cast<QRgb>(std::stoul((*it)[5], nullptr, 16));
    for (int y = std::stoi((*it)[2]); y < std::stoi((*it)[2]) + std::stoi((*it)[4]); ++y) {
      for (int x = std::stoi((*it)[1]); x < std::stoi((*it)[1]) + std::stoi((*it)[3]); ++x) image.setPixel(x, y, colour);
    }
  }
  return image;
}

class InstalledTree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_stage = std::make_unique<TempDir>();
    s_installed = InstallInto(s_stage->Path() / "root", s_stage->Path() / "install.log");
  }
  static void TearDownTestSuite() { s_stage.reset(); }

  void SetUp() override { ASSERT_TRUE(s_installed) << TextOfFile(s_stage->Path() / "install.log"); }

  static fs::path Root() { return s_stage->Path() / "root"; }
  static fs::path At(const fs::path& installed) { return Staged(Root(), installed); }

  static std::unique_ptr<TempDir> s_stage;
  static bool s_installed;
  TempDir m_dir;
};

std::unique_ptr<TempDir> InstalledTree::s_stage;
bool InstalledTree::s_installed = false;

TEST_F(InstalledTree, HoldsTheProgramsWithALauncherAndTheDesktopFilesAndNothingElse) {
  EXPECT_EQ(FilesBelow(Root()), ExpectedFiles());
  // The viewer finds its sender and the module of its format readers beside itself, so they live
  // in the program folder and the launcher leads there.
  EXPECT_TRUE(fs::is_symlink(At(kBinDir / "vimo")));
  EXPECT_EQ(fs::canonical(At(kBinDir / "vimo")), fs::canonical(At(kProgramDir / "vimo")));
  for (const char* program : {"vimo", "Postmx.exe"}) {
    EXPECT_NE(fs::status(At(kProgramDir / program)).permissions() & fs::perms::others_exec, fs::perms::none) << program;
  }
}

TEST_F(InstalledTree, DesktopEntryMetainfoAndManPageAreWhatTheirReadersAccept) {
  const fs::path entry = At(kDataDir / "applications/vimo.desktop");
  EXPECT_TRUE(RunShell("desktop-file-validate " + Quoted(entry), m_dir / "entry.log")) << TextOfFile(m_dir / "entry.log");
  EXPECT_NE(TextOfFile(entry).find("\nExec=\"" + (kBinDir / "vimo").string() + "\" --from-desktop %f\n"), std::string::npos);
  EXPECT_NE(TextOfFile(entry).find("\nIcon=vimo\n"), std::string::npos);
  // The file manager offers Vimo for every format it opens: each type the desktop's MIME database
  // gives one of their extensions is named in the entry.
  std::string types;  // ";type;type;"
  for (const std::string& line : LinesOf(TextOfFile(entry))) {
    if (line.rfind("MimeType=", 0) == 0) types = ";" + line.substr(9);
  }
  const std::vector<std::string> globs = Split(JoinedImageExtensions(true, "*", " "), " ");
  for (const std::string& line : LinesOf(TextOfFile("/usr/share/mime/globs2"))) {
    const std::vector<std::string> fields = Split(line, ":");  // weight:type:glob
    if (fields.size() < 3 || std::find(globs.begin(), globs.end(), fields[2]) == globs.end()) continue;
    EXPECT_NE(types.find(";" + fields[1] + ";"), std::string::npos) << fields[2];
  }
  const fs::path metainfo = At(kDataDir / "metainfo" / (std::string(VIMO_APP_ID) + ".metainfo.xml"));
  EXPECT_TRUE(RunShell("appstreamcli validate --no-net " + Quoted(metainfo), m_dir / "metainfo.log"))
      << TextOfFile(m_dir / "metainfo.log");
  // The man page is made from --help: its usage and options are there, with the files.
  const std::string manPage = TextOfFile(At(kManDir / "man1/vimo.1"));
  for (const char* text : {".TH VIMO \"1\"", ".SH SYNOPSIS", "\\-\\-screenshot", "\\-\\-convert", ".SH FILES",
                           "XDG_CONFIG_HOME/vimo/"}) {
    EXPECT_NE(manPage.find(text), std::string::npos) << text;
  }
}

TEST_F(InstalledTree, IconsAreTheWindowIconAtEverySize) {
  const QImage artwork = Artwork();
  ASSERT_EQ(artwork.width(), 32);
  for (const int size : kIconSizes) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    const QImage icon(QString::fromStdString(At(kDataDir / "icons/hicolor" / folder / "apps/vimo.png").string()));
    ASSERT_EQ(icon.size(), QSize(size, size)) << size;
    if (size % 32 != 0) continue;  // drawn between the artwork's pixels
    const QImage argb = icon.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        ASSERT_EQ(argb.pixel(x, y), artwork.pixel(x * 32 / size, y * 32 / size)) << size << " at " << x << "," << y;
      }
    }
  }
  const QImage svg = PaintSvgRects(TextOfFile(At(kDataDir / "icons/hicolor/scalable/apps/vimo.svg")), 32);
  EXPECT_EQ(svg, artwork);
}

TEST_F(InstalledTree, InstalledViewerRunsInAnEmptyHomeAndKeepsItsFilesInTheConfigFolder) {
  const fs::path home = m_dir / "home";
  fs::create_directories(home);
  fs::create_directories(m_dir / "tmp");
  RunConvert("-size 40x30 gradient:red-blue " + (m_dir / "a.jpg").string());
  // A user's environment with nothing of the test's own, except a sanitizer build's options.
  std::string environment = "env -i HOME=" + Quoted(home) + " PATH=/usr/bin:/bin TMPDIR=" + Quoted(m_dir / "tmp");
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) environment += std::string(" ") + name + "='" + value + "'";
  }
  const std::string command = environment + " QT_QPA_PLATFORM=offscreen " + Quoted(At(kBinDir / "vimo")) +
                              " --screenshot " + Quoted(m_dir / "shot.png") + " " + Quoted(m_dir / "a.jpg");
  ASSERT_TRUE(RunShell(command, m_dir / "run.log")) << TextOfFile(m_dir / "run.log");
  EXPECT_EQ(QImage(QString::fromStdString((m_dir / "shot.png").string())).isNull(), false);
  // A WebP is read by the module beside the installed program (the build's is not in reach).
  RunConvert("-size 40x30 xc:#2060c0 -define webp:lossless=true " + (m_dir / "b.webp").string());
  WriteText(home / ".config/vimo.ini", "[View]\nOtherFormats=1\n");
  const std::string webp = environment + " QT_QPA_PLATFORM=offscreen " + Quoted(At(kBinDir / "vimo")) + " --screenshot " +
                           Quoted(m_dir / "webp.png") + " " + Quoted(m_dir / "b.webp");
  ASSERT_TRUE(RunShell(webp, m_dir / "webp.log")) << TextOfFile(m_dir / "webp.log");
  const QImage shot = QImage(QString::fromStdString((m_dir / "webp.png").string())).convertToFormat(QImage::Format_RGB32);
  int nPicture = 0;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) nPicture += shot.pixel(x, y) == qRgb(0x20, 0x60, 0xc0) ? 1 : 0;
  }
  EXPECT_EQ(nPicture, 40 * 30) << TextOfFile(m_dir / "webp.log");
  // vimo.txt and vimolog.txt live in ~/.config/vimo/, made private for the user.
  struct stat info {};
  ASSERT_EQ(stat((home / ".config/vimo").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  // It uses the installed desktop entry, writes none of its own, and adds nothing to its tree.
  EXPECT_FALSE(fs::exists(home / ".local/share/applications/vimo.desktop"));
  EXPECT_EQ(FilesBelow(Root()), ExpectedFiles());
}

TEST(Uninstall, RemovesEveryInstalledFileAndTheProgramFolder) {
  TempDir dir;
  const fs::path stage = dir / "root";
  ASSERT_TRUE(InstallInto(stage, dir / "install.log")) << TextOfFile(dir / "install.log");
  const std::string command = "DESTDIR=" + Quoted(stage) + " cmake -DMANIFEST=" + Quoted(fs::path(VIMO_BINARY_DIR) / "install_manifest_vimo.txt") +
                              " -DPROGRAM_DIR=" + Quoted(VIMO_INSTALL_PROGRAMDIR) + " -P " +
                              Quoted(fs::path(VIMO_SOURCE_DIR) / "cmake/Uninstall.cmake");
  ASSERT_TRUE(RunShell(command, dir / "uninstall.log")) << TextOfFile(dir / "uninstall.log");
  EXPECT_EQ(FilesBelow(stage), std::set<std::string>());
  EXPECT_FALSE(fs::exists(Staged(stage, kProgramDir)));
}

// ---- where a copy keeps its files ------------------------------------------------------------

class CopyFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    RunConvert("-size 40x30 gradient:red-blue " + (m_dir / "a.jpg").string());
    m_configFolder = fs::path(std::getenv("XDG_CONFIG_HOME")) / "vimo";
    m_entry = fs::path(std::getenv("XDG_DATA_HOME")) / "applications/vimo.desktop";
  }
  void TearDown() override {
    if (m_session.Running()) m_session.Stop();
    AfxTestAccess::SetExecutablePath(nullptr);
    for (const auto& entry : fs::recursive_directory_iterator(m_dir.Path())) {
      if (entry.is_directory() && !entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
    }
  }

  // Starts the viewer as the executable at exePath, with the given settings file at settings.
  void StartAs(const fs::path& exePath, const fs::path& settings) {
    fs::create_directories(settings.parent_path());
    WriteText(settings, "\tServer\tsmtp.example.jp\r\n");
    AfxTestAccess::SetExecutablePath(exePath.c_str());
    ASSERT_TRUE(m_session.Start({(m_dir / "a.jpg").string()}));
  }

  ViewerSession m_session;
  TempDir m_dir;
  fs::path m_configFolder;
  fs::path m_entry;
};

TEST_F(CopyFiles, WritableCopyKeepsSettingsAndLogBesideTheExecutableAndRegistersItself) {
  // A folder name that needs every kind of quoting in a desktop entry.
  const fs::path folder = m_dir / "portable \"copy\" `$HOME` a\\b";
  StartAs(folder / "vimo", folder / "vimo.txt");
  EXPECT_EQ(std::string(g_szSettingsPath), (folder / "vimo.txt").string());
  EXPECT_EQ(std::string(g_szLogPath), (folder / "vimolog.txt").string());
  EXPECT_EQ(g_strServer.str(), "smtp.example.jp");
  EXPECT_FALSE(fs::exists(m_configFolder));
  m_session.Stop();  // the entry is written beside the start, and waited for at the end
  EXPECT_TRUE(RunShell("desktop-file-validate " + Quoted(m_entry), m_dir / "entry.log")) << TextOfFile(m_entry);
}

TEST_F(CopyFiles, ReadOnlyCopyKeepsThemInThePrivateConfigFolder) {
  const fs::path folder = m_dir / "read-only";
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  AfxTestAccess::SetExecutablePath((folder / "vimo").c_str());
  ASSERT_TRUE(m_session.Start({(m_dir / "a.jpg").string()}));
  EXPECT_EQ(std::string(g_szSettingsPath), (m_configFolder / "vimo.txt").string());
  EXPECT_EQ(std::string(g_szLogPath), (m_configFolder / "vimolog.txt").string());
  struct stat info {};
  ASSERT_EQ(stat(m_configFolder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
}

TEST_F(CopyFiles, InstalledCopyReadsItsSettingsFromTheConfigFolderAndLeavesOnlyHandMadeEntries) {
  TempDir stage;
  ASSERT_TRUE(InstallInto(stage.Path(), stage / "install.log")) << TextOfFile(stage / "install.log");
  const fs::path installedVimo = Staged(stage.Path(), kProgramDir / "vimo");

  // An entry a build copy wrote would hide the installed one: the installed copy removes it.
  StartAs(m_dir / "build/vimo", m_dir / "build/vimo.txt");
  m_session.Stop();
  ASSERT_TRUE(fs::exists(m_entry));
  StartAs(installedVimo, m_configFolder / "vimo.txt");
  EXPECT_EQ(std::string(g_szSettingsPath), (m_configFolder / "vimo.txt").string());
  EXPECT_EQ(std::string(g_szLogPath), (m_configFolder / "vimolog.txt").string());
  EXPECT_EQ(g_strServer.str(), "smtp.example.jp");
  EXPECT_FALSE(fs::exists(m_entry));
  m_session.Stop();

  // One the user made stays.
  const std::string handMade = "[Desktop Entry]\nType=Application\nName=My Vimo\nExec=/opt/vimo/vimo %f\n";
  WriteText(m_entry, handMade);
  StartAs(installedVimo, m_configFolder / "vimo.txt");
  EXPECT_EQ(TextOfFile(m_entry), handMade);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
