// Drives the real application object on Qt's offscreen platform: starts it with a command line
// as the program would, answers its message boxes and dialogs, and waits for conditions.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/VimoApp.h"
#include "doc/VimoDoc.h"
#include "frame/MainFrm.h"
#include "support/ImageFixtures.h"
#include "support/TestAccess.h"
#include "view/VimoView.h"

namespace vimo::test {

// The main of a window test program: Qt's application, then every test.
int RunWindowTests(int argc, char** argv);

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<DWORD> argb;  // 0xAARRGGBB, top row first
  Rgb At(int x, int y) const;
};

class ViewerSession {
 public:
  // Profile and desktop entry go into a folder of this session (XDG_CONFIG_HOME, XDG_DATA_HOME).
  ViewerSession();
  ~ViewerSession();
  ViewerSession(const ViewerSession&) = delete;
  ViewerSession& operator=(const ViewerSession&) = delete;

  // InitInstance with these arguments; its result. The shared globals start as in a fresh
  // process: a real run reads vimo.txt once, into empty settings (recipients and body are
  // appended to), and knows no stacked image.
  // beforeWindow runs once the start has begun converting its file, before the window is built.
  bool Start(const std::vector<std::string>& args = {}, const std::function<void()>& beforeWindow = {});
  // Closes the main window as the user would and runs ExitInstance.
  void Stop();
  bool Running() const { return m_bRunning; }

  CMainFrame* Frame() const;
  CVimoDoc* Doc() const;
  CVimoView* View() const;

  // Processes messages (idle processing included) until pred holds; false after timeoutMs.
  static bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 30000);
  // Waits until the document shows an image titled title.
  bool WaitForImage(const std::string& title, int timeoutMs = 30000);
  // The view's client area as painted now (a paint of its own).
  Pixels ViewPixels() const;
  // The view's client area as the window shows it: what the program's own paints left there.
  Pixels ShownPixels() const;

  std::filesystem::path ProfilePath() const;
  // The profile's text.
  std::string ProfileText() const;
  void WriteProfile(const std::string& text) const;

  // Every message box shown, in order (their texts); the captions alongside.
  std::vector<std::string> messages;
  std::vector<std::string> captions;
  // Answers to the boxes, taken in order (IDYES, IDNO); once used up, a box gets its default
  // button, as when Enter is pressed.
  std::vector<int> messageAnswers;
  // Runs while a message box is open, before it is answered, as a user reading it: the program
  // goes on handling events meanwhile when it pumps them.
  std::function<void()> whileMessageShown;
  // Answers for file dialogs, taken in order: chosen full paths (empty: cancel).
  std::vector<std::vector<std::string>> fileDialogAnswers;
  // The titles of the file dialogs shown, in order.
  std::vector<std::string> fileDialogTitles;
  // Of each file dialog shown: its filters as they read, and what the filter it starts with lists.
  std::vector<std::vector<std::string>> fileDialogFilters;
  std::vector<std::vector<std::string>> fileDialogPatterns;
  // The captions of the dialogs shown, in order; dialogHandler, when set, fills a dialog's
  // controls and says which button it presses (IDOK when unset).
  std::vector<std::string> dialogs;
  std::function<int(CDialog*)> dialogHandler;
  // Print dialogs, taken in order: print into this PDF file (empty: cancel), placed by this of the
  // dialog's choices (-1: the one it offers first).
  std::vector<std::pair<std::string, int>> printAnswers;
  // The items ("text|id") of each popup menu shown, in order. popupHandler, when set, says which
  // command is chosen; else the next of popupMenuAnswers is (none left: the menu is closed
  // without a choice).
  std::vector<std::vector<std::string>> popups;
  std::function<UINT(const std::vector<std::string>& items)> popupHandler;
  std::vector<UINT> popupMenuAnswers;

 private:
  TempDir m_home;
  bool m_bRunning = false;
};

// The image of a BMP file as DrawDibDraw draws it from a block of memory, turned by orientation
// and scaled into a canvas of width x height, with DrawDibDraw's flags.
// With a descriptor of a file holding the same bytes, the rows are read from that file, as for a
// converted file the viewer shows.
Pixels DrawBitmap(const Bytes& bmpFile, int width, int height, int orientation = 1, int fd = -1, UINT flags = 0);

// Timers running in the window (SetTimer and not killed): an idle window keeps none.
int RunningTimers(const CWnd* pWnd);

// The Image Gift state the viewer keeps for path: 0 sent, 1 stacked, -1 none.
int GiftStateOf(const std::string& path);

// What a desktop trash's info file says: where the file was (percent-decoded) and when it went.
// Both empty unless the file has the trash's layout.
struct TrashInfo {
  std::string path;
  std::string deletionDate;
};
TrashInfo ReadTrashInfo(const std::filesystem::path& infoFile);

// The image names of a folder that browsing visits (regular files only), in listing order: by
// name as a file manager sorts them (the folder search's order, pinned by its own test).
std::vector<std::string> ImageNamesInListingOrder(const std::filesystem::path& folder);

// A 24-bit bottom-up BMP file of the given colours (top row first).
Bytes MakeBmp24(int width, int height, const std::vector<Rgb>& pixels);
// An 8-bit bottom-up BMP file: a 256-entry colour table and one index per pixel (top row first).
Bytes MakeBmp8(int width, int height, const std::vector<Rgb>& palette, const std::vector<std::uint8_t>& indexes);
// The user's window colour, which the view shows where there is no image.
Rgb WindowColour();
// A colourful test pattern: every pixel differs from its neighbours.
std::vector<Rgb> Pattern(int width, int height, unsigned seed);

}  // namespace vimo::test
