// COleDataSource: offers a file drop (CF_HDROP) and runs the drag of it, or puts files, text
// (CF_TEXT) and registered formats rendered only when another program asks for them (a picture
// as PNG) on the clipboard.
//
// The DROPFILES block handed to CacheGlobalData is turned into a Qt drag carrying the files as
// text/uri-list, so they can be dropped into a file manager or onto another program.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "afx/File.h"
#include "afx/Object.h"
#include "win32/WinTypes.h"

using CLIPFORMAT = WORD;
using DROPEFFECT = DWORD;
inline constexpr CLIPFORMAT CF_TEXT = 1;   // bytes up to a NUL
inline constexpr CLIPFORMAT CF_HDROP = 15;
inline constexpr DROPEFFECT DROPEFFECT_NONE = 0;
inline constexpr DROPEFFECT DROPEFFECT_COPY = 1;
inline constexpr DROPEFFECT DROPEFFECT_MOVE = 2;

// The format a rendering is asked for.
struct FORMATETC {
  CLIPFORMAT cfFormat = 0;
};
class COleDropSource;

// The clipboard format other programs know by this name: "PNG" (a PNG file, offered as
// image/png). 0 for a name the layer offers nothing under.
CLIPFORMAT RegisterClipboardFormat(LPCSTR lpszFormat);

class COleDataSource : public CObject {
 public:
  COleDataSource() = default;
  ~COleDataSource() override;
  COleDataSource(const COleDataSource&) = delete;
  COleDataSource& operator=(const COleDataSource&) = delete;

  // Offers hGlobal in clipboard format cfFormat (CF_HDROP or CF_TEXT; any other is freed
  // at once). The data source owns the block from now on (a block offered earlier in the same
  // format is freed).
  void CacheGlobalData(CLIPFORMAT cfFormat, HGLOBAL hGlobal, FORMATETC* lpFormatEtc = nullptr);
  // Offers cfFormat (a format of RegisterClipboardFormat) without its data: OnRenderFileData
  // makes it each time another program asks for it, for as long as the clipboard holds it.
  void DelayRenderFileData(CLIPFORMAT cfFormat, FORMATETC* lpFormatEtc = nullptr);
  void Empty();

  // Puts what is offered on the desktop's clipboard, this program its owner until another takes
  // it, and empties the data source. Files (CF_HDROP) go as text/uri-list and as the file managers'
  // x-special/gnome-copied-files ("copy", then a file: URL a line), each name's bytes
  // percent-encoded; formats rendered on request under their MIME types; text (CF_TEXT) as text
  // in every text form. Text that is not UTF-8 is offered as the window shows it (each stray byte
  // as \xNN), and its exact bytes as text/plain;charset=unknown-8bit. FALSE, the clipboard
  // untouched, when nothing usable is offered.
  // A data source that offers a format for delayed rendering must have been made with new: the
  // clipboard owns it from this call on, whatever its result, and deletes it when another owner
  // takes the clipboard or the program ends.
  BOOL SetClipboard();

  // Runs the drag of what is offered; returns when the drag ends or is cancelled, with the
  // effect the target chose (DROPEFFECT_NONE when cancelled).
  DROPEFFECT DoDragDrop(DWORD dwEffects = DROPEFFECT_COPY | DROPEFFECT_MOVE, const RECT* lpRectStartDrag = nullptr,
                        COleDropSource* pDropSource = nullptr);

  // The file paths of a DROPFILES block (ANSI or wide list), as the bytes they hold.
  static std::vector<std::string> FilesOfDropBlock(HGLOBAL hGlobal);

 protected:
  // Writes the data of a format offered by DelayRenderFileData into pFile; FALSE when it cannot
  // be made now (the program that asked gets nothing). Runs on the user-interface thread.
  virtual BOOL OnRenderFileData(FORMATETC* lpFormatEtc, CFile* pFile);

 private:
  friend class CRenderingMimeData;
  // Tests answer drags through this hook instead of a real drag loop: it receives the offered
  // files and the allowed effects and returns the effect. The drag runs inside DoDragDrop, so
  // the hook may act as a drop target would (drop the files onto the program itself, say).
  friend struct AfxTestAccess;
  using DragDropHook = std::function<DROPEFFECT(const std::vector<std::string>& files, DWORD allowedEffects)>;
  static DragDropHook s_testDragHook;

  void FreeCachedData();

  HGLOBAL m_hDrop = nullptr;
  HGLOBAL m_hText = nullptr;
  std::vector<CLIPFORMAT> m_delayed;
};
