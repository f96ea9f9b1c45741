// A folder such as a Downloads folder can be: broken and hostile images, FIFOs, sockets, links
// that loop, folders named like images, files that vanish or cannot be read, names with any
// byte, and hundreds of good images. Browsed end to end in the real window, it neither hangs,
// crashes nor grows without bound, and every file ends in a picture or in one reported error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "convert/ConvertImage.h"
#include "support/ui/Browsing.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;
namespace fs = std::filesystem;

namespace {

Bytes SmallJpeg() {
  static const Bytes bytes = [] {
    const TempDir dir;
    RunConvert("-size 48x32 gradient:orange-navy -quality 90 " + (dir / "small.jpg").string());
    return ReadFile(dir / "small.jpg");
  }();
  return bytes;
}

// Where the first marker with this code starts, or npos.
size_t FindMarker(const Bytes& jpeg, std::uint8_t code) {
  for (size_t at = 2; at + 1 < jpeg.size(); ++at) {
    if (jpeg[at] == 0xFF && jpeg[at + 1] == code) return at;
  }
  return std::string::npos;
}

// A JPEG whose frame header claims 30000 x 30000 pixels, cut right after its scan header.
Bytes HugeJpegHeaderWithoutData() {
  Bytes bytes = SmallJpeg();
  const size_t frame = FindMarker(bytes, 0xC0);
  for (size_t at : {frame + 5, frame + 7}) {
    bytes[at] = 30000 >> 8;
    bytes[at + 1] = 30000 & 0xFF;
  }
  const size_t scan = FindMarker(bytes, 0xDA);
  bytes.resize(scan + 2 + ((bytes[scan + 2] << 8) | bytes[scan + 3]));
  return bytes;
}

Bytes PatchedBmp(size_t at, std::uint32_t value) {
  Bytes bytes = MakeBmp24(16, 16, Pattern(16, 16, 7));
  PutU32(bytes, at, value);
  return bytes;
}

// Sources whose name holds this are removed after they were queued, before their conversion.
constexpr char kVanishing[] = "deleted-while-queued";

int ConvertAfterDeletingVanishingSources(const char* src, const char* dst, int colours) {
  if (std::string(src).find(kVanishing) != std::string::npos) std::remove(src);
  return ConvertImage(src, dst, colours);
}

class HostileFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const Bytes jpeg = SmallJpeg();
    Bytes truncated = jpeg;  // cut in the middle of its compressed data
    truncated.resize((FindMarker(jpeg, 0xDA) + jpeg.size()) / 2);
    Bytes badMarker = jpeg;
    badMarker[3] = 0x4B;  // the marker after the start of image becomes one that does not exist
    GifFrame broken = NoiseFrame(16, 16, 3);
    broken.invalidCodeAfter = 100;
    Bytes hugeScreen = MakeGif({FlatFrame(1, 1, Rgb{9, 9, 9})});
    std::fill(hugeScreen.begin() + 6, hugeScreen.begin() + 10, 0xFF);
    Bytes rowsPastEnd = MakeBmp24(40, 40, Pattern(40, 40, 5));
    rowsPastEnd.resize(rowsPastEnd.size() / 3);
    Bytes badPhotoCd(4096, 0x20);

    const std::map<std::string, Bytes> files = {
        {"000-start.jpg", jpeg},
        {"empty.jpg", {}},
        {"truncated.jpg", truncated},
        {"bad-marker.jpg", badMarker},
        {"bad-lzw.gif", MakeGif({broken})},
        {"huge-screen.gif", hugeScreen},
        {"huge-header.jpg", HugeJpegHeaderWithoutData()},
        {"many-colours.bmp", PatchedBmp(46, 0x80000000u)},
        {"rows-past-end.bmp", rowsPastEnd},
        {"bad-signature.pcd", badPhotoCd},
        {std::string(kVanishing) + ".jpg", jpeg},
        {"unreadable.jpg", jpeg},
        {"with blanks .jpg", jpeg},
        {"quotes \"double\" 'single'.gif", MakeGif({FlatFrame(8, 8, Rgb{200, 10, 10})})},
        {"star*.bmp", MakeBmp24(8, 8, Pattern(8, 8, 1))},
        {"tab\t.jpg", jpeg},
        {"cr\r.jpg", jpeg},
        {"lf\n.jpg", jpeg},
        {"latin1-caf\xE9.jpg", jpeg},
        {"shift-jis-\x83\x65\x83\x58\x83\x67.jpg", jpeg},
    };
    for (const auto& [name, bytes] : files) WriteFile(m_dir / name, bytes);
    m_good = {"000-start.jpg", "with blanks .jpg", "quotes \"double\" 'single'.gif", "star*.bmp", "tab\t.jpg", "cr\r.jpg",
              "lf\n.jpg", "latin1-caf\xE9.jpg", "shift-jis-\x83\x65\x83\x58\x83\x67.jpg"};
    fs::permissions(m_dir / "unreadable.jpg", fs::perms::none);
    // 300 good images of the three kinds.
    const Bytes gif = MakeGif({NoiseFrame(24, 16, 11)});
    const Bytes bmp = MakeBmp24(24, 16, Pattern(24, 16, 2));
    for (int i = 0; i < 300; ++i) {
      const std::string name = "good" + std::to_string(i) + (i % 3 == 0 ? ".jpg" : i % 3 == 1 ? ".gif" : ".bmp");
      WriteFile(m_dir / name, i % 3 == 0 ? jpeg : i % 3 == 1 ? gif : bmp);
      m_good.push_back(name);
    }
    // What is not a regular file.
    ASSERT_EQ(mkfifo((m_dir / "fifo.jpg").c_str(), 0600), 0);
    fs::create_symlink(m_dir / "loop.gif", m_dir / "loop.gif");
    fs::create_directory(m_dir / "x.jpg");
    m_socket = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", (m_dir / "socket.bmp").c_str());
    ASSERT_EQ(bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  }
  void TearDown() override { close(m_socket); }

  TempDir m_dir;
  std::vector<std::string> m_good;  // names of images that must show as pictures
  int m_socket = -1;
};

bool IsLoadFailureTitle(const std::string& title) {
  return title == "Invalid File Size" || title == "Open error" || title == "No memory" || title.rfind("stat error ", 0) == 0;
}

TEST_F(HostileFolderTest, HoldingTabThroughTheFolderAndBackEndsEveryFileOnce) {
  ViewerSession session;
  AfxTestAccess::SetConvertFunction(&ConvertAfterDeletingVanishingSources);
  char tempFolder[4096];
  ASSERT_GT(GetTempPathA(sizeof(tempFolder), tempFolder), 0u);
  const std::string errorPrefix = std::string("Convert Error ") + tempFolder;

  const std::vector<std::string> browsed = ImageNamesInListingOrder(m_dir.Path());
  ASSERT_EQ(browsed.size(), 320u) << "the folder search lists what is not a regular file";

  ASSERT_TRUE(session.Start({(m_dir / "000-start.jpg").string()}));
  ASSERT_TRUE(session.WaitForImage("000-start.jpg"));
  // Each file's outcome: "picture", "load failure" or "convert error".
  std::map<std::string, std::vector<std::string>> outcomes = {{"000-start.jpg", {"picture"}}};
  std::vector<std::string> unexpected;
  auto record = [&](const BrowseStep& step) {
    if (!step.converted.empty()) {
      const std::string name = SourceNameOf(step.converted);
      if (step.title == name) outcomes[name].push_back("picture");
      else if (IsLoadFailureTitle(step.title)) outcomes[name].push_back("load failure");
      else unexpected.push_back("title " + step.title + " for " + name);
    }
    for (const std::string& message : step.messages) {
      if (message.rfind(errorPrefix, 0) == 0) outcomes[message.substr(errorPrefix.size())].push_back("convert error");
      else unexpected.push_back("message " + message);
    }
  };
  ASSERT_TRUE(HoldTab(session, record)) << "a Tab press had no effect";
  EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);

  for (const std::string& name : browsed) {
    EXPECT_EQ(outcomes[name].size(), 1u) << testing::PrintToString(name) << ": " << testing::PrintToString(outcomes[name]);
  }
  EXPECT_EQ(outcomes.size(), browsed.size()) << "something that is not a browsed file was reported";
  for (const std::string& name : m_good) {
    EXPECT_EQ(outcomes[name], std::vector<std::string>{"picture"}) << testing::PrintToString(name);
  }
  EXPECT_EQ(outcomes[std::string(kVanishing) + ".jpg"], std::vector<std::string>{"convert error"});
  EXPECT_EQ(outcomes["empty.jpg"], std::vector<std::string>{"convert error"});

  // Back through the history: every step shows a picture or a load failure again.
  int backSteps = 0;
  ASSERT_TRUE(HoldShiftTab(session, [&](const BrowseStep& step) {
    ++backSteps;
    const std::string name = SourceNameOf(step.converted);
    EXPECT_TRUE(step.title == name || IsLoadFailureTitle(step.title)) << step.title << " for " << name;
    EXPECT_TRUE(step.messages.empty()) << testing::PrintToString(step.messages);
  }));
  EXPECT_GE(backSteps, 14);

  EXPECT_LT(PeakResidentBytes(), 1LL << 30);
  // Closing joins the worker: it must not be left waiting on anything the folder held.
  session.Stop();
}

// A FIFO named like an image beside the opened file once held the worker, and with it the
// program's end, for good.
TEST(ScreenshotRun, EndsBesideAFifoNamedLikeAnImage) {
  const TempDir folder;
  WriteFile(folder / "a.bmp", MakeBmp24(20, 10, Pattern(20, 10, 1)));
  ASSERT_EQ(mkfifo((folder / "b.bmp").c_str(), 0600), 0);
  // The kill is only a guard against a hang: the run normally takes a second or two.
  const std::string command = "cd " + folder.Path().string() + " && timeout -s KILL 120 " VIMO_BINARY_DIR
                              "/vimo --screenshot s.png a.bmp >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "137 means the run hung and was killed";
  EXPECT_TRUE(fs::exists(folder / "s.png"));
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
