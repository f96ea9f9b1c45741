#include "view/KeysDlg.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "afx/Resource.h"
#include "afx/WinApp.h"
#include "res/Resource.h"

namespace {

// The groups, in the order the list shows them: the main menu's top-level menus, then the grid,
// then commands found on no menu.
constexpr int kGridGroup = -2;
constexpr int kOtherGroup = -1;

// Inputs the accelerator table does not hold: the view's and the grid's mouse gestures and the
// keys they handle themselves. nID names the command (its menu text), or lpszWhat says it.
struct Gesture {
  int nGroup;  // a top-level menu's place, or kGridGroup
  const char* lpszInput;
  UINT nID;
  const char* lpszWhat;
};
constexpr int kFileMenu = 0;
constexpr int kViewMenu = 1;
constexpr Gesture kGestures[] = {
    {kViewMenu, "ダブルクリック", ID_VIEW_FULL_SCREEN, nullptr},
    {kViewMenu, "Ctrl+ホイール", 0, "拡大/縮小"},
    {kViewMenu, "中ボタンでドラッグ、矢印キー", 0, "画像をスクロール"},
    {kViewMenu, "Esc", 0, "全画面表示、スライドショーを終了"},
    {kViewMenu, "Space", 0, "スライドショーを一時停止"},
    {kFileMenu, "ドラッグ", 0, "画像ファイルをほかのアプリケーションへ渡す"},
    {kFileMenu, "右クリック", 0, "画像のメニュー"},
    {kFileMenu, "ドラッグ (切り抜き中)", 0, "切り抜く範囲を描く、動かす、角と辺で大きさを変える"},
    {kFileMenu, "Enter (切り抜き中)", 0, "描いた範囲を切り抜いて保存"},
    {kFileMenu, "Esc (切り抜き中)", 0, "切り抜きをやめる"},
    {kFileMenu, "右クリック (切り抜き中)", 0, "縦横比を選ぶ (写真、1:1、3:2、4:3、16:9、自由)"},
    {kGridGroup, "ダブルクリック", 0, "画像を表示"},
    {kGridGroup, "Esc", 0, "表示していた画像に戻る"},
    {kGridGroup, "Ctrl+クリック、Shift+クリック", 0, "選択に加える、範囲を選択"},
};

struct Line {
  int nGroup;
  UINT nID;
  std::string keys;
  std::string what;
};

// The main menu's top-level texts, and the menu and item text of every command on it.
struct MenuFacts {
  std::vector<std::string> headings;
  std::vector<std::pair<UINT, std::pair<int, std::string>>> items;  // ID, (menu, text)

  std::vector<std::pair<std::string, std::pair<int, std::string>>> shownKeys;  // key the item shows, (menu, text)

  const std::pair<int, std::string>* Find(UINT nID) const {
    for (const auto& item : items)
      if (item.first == nID) return &item.second;
    return nullptr;
  }
  // The item that shows this key beside its text, for a key whose command has no item of its own.
  const std::pair<int, std::string>* FindShowing(const std::string& key) const {
    for (const auto& item : shownKeys)
      if (item.first == key) return &item.second;
    return nullptr;
  }
};

MenuFacts ReadMainMenu() {
  MenuFacts facts;
  int nDepth = 0;
  for (const AFX_MENU_ENTRY* pEntry = AfxFindMenuResource(IDR_MAINFRAME); pEntry != nullptr && pEntry->kind != AfxMenuKind::End;
       ++pEntry) {
    switch (pEntry->kind) {
      case AfxMenuKind::Popup:
        if (nDepth++ == 0) facts.headings.emplace_back(CKeysDlg::PlainMenuText(pEntry->lpszText).str());
        break;
      case AfxMenuKind::EndPopup: --nDepth; break;
      case AfxMenuKind::Item: {
        if (facts.headings.empty()) break;
        const std::pair<int, std::string> place{static_cast<int>(facts.headings.size()) - 1,
                                                CKeysDlg::PlainMenuText(pEntry->lpszText).str()};
        if (!facts.Find(pEntry->nID)) facts.items.push_back({pEntry->nID, place});
        const char* pTab = std::strchr(pEntry->lpszText, '\t');
        if (pTab != nullptr) {
          std::string key = pTab + 1;
          std::erase(key, ' ');
          facts.shownKeys.push_back({key, place});
        }
        break;
      }
      default: break;
    }
  }
  return facts;
}

// The short text of a command's string (after the line break), for commands on no menu.
std::string ShortText(UINT nID) {
  const CString text = AfxLoadString(nID);
  const int nBreak = text.Find('\n');
  return (nBreak < 0 ? text : text.Mid(nBreak + 1)).str();
}

}  // namespace

BEGIN_MESSAGE_MAP(CKeysDlg, CDialog)
END_MESSAGE_MAP()

CKeysDlg::CKeysDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

BOOL CKeysDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetDlgItemText(IDC_KEYS_LIST, KeyList());
  return TRUE;
}

CString CKeysDlg::PlainMenuText(const char* lpszItem) {
  std::string text = lpszItem != nullptr ? lpszItem : "";
  text = text.substr(0, text.find('\t'));
  const size_t mnemonic = text.find("(&");
  if (mnemonic != std::string::npos && mnemonic + 3 < text.size() && text[mnemonic + 3] == ')') text.erase(mnemonic, 4);
  std::erase(text, '&');
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  return CString(text);
}

CString CKeysDlg::KeyName(BYTE fVirt, WORD key) {
  std::string name;
  if (fVirt & FCONTROL) name += "Ctrl+";
  if ((fVirt & FSHIFT) && (fVirt & FVIRTKEY)) name += "Shift+";
  if (fVirt & FALT) name += "Alt+";
  char buffer[16];
  if (!(fVirt & FVIRTKEY) || (key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
    name += static_cast<char>(key);
  } else if (key >= 0x70 && key <= 0x87) {
    std::snprintf(buffer, sizeof(buffer), "F%d", key - 0x6F);
    name += buffer;
  } else {
    switch (key) {
      case 0x08: name += "Backspace"; break;
      case 0x09: name += "Tab"; break;
      case 0x0D: name += "Enter"; break;
      case 0x2D: name += "Ins"; break;
      case 0x2E: name += "Del"; break;
      default:
        std::snprintf(buffer, sizeof(buffer), "0x%02X", key);
        name += buffer;
        break;
    }
  }
  return CString(name);
}

CString CKeysDlg::KeyList() {
  const MenuFacts menus = ReadMainMenu();
  std::vector<Line> lines;
  int nCount = 0;
  const AFX_ACCEL* pAccel = AfxFindAcceleratorResource(IDR_MAINFRAME, &nCount);
  for (int i = 0; i < nCount; ++i) {
    const UINT nID = pAccel[i].cmd;
    const std::string key = KeyName(pAccel[i].fVirt, pAccel[i].key).str();
    Line* pLine = nullptr;
    for (Line& line : lines)
      if (line.nID == nID) pLine = &line;
    if (pLine != nullptr) {
      pLine->keys += ", " + key;
      continue;
    }
    const auto* pItem = menus.Find(nID);
    if (pItem == nullptr) pItem = menus.FindShowing(key);
    int nGroup = pItem != nullptr ? pItem->first : kOtherGroup;
    // The grid's own commands: Enter goes there and back, Ctrl+A chooses every photo in it.
    if (nID == ID_VIEW_GRID || nID == ID_EDIT_SELECT_ALL) nGroup = kGridGroup;
    lines.push_back({nGroup, nID, key, pItem != nullptr ? pItem->second : ShortText(nID)});
  }
  for (const Gesture& gesture : kGestures) {
    const auto* pItem = gesture.nID != 0 ? menus.Find(gesture.nID) : nullptr;
    lines.push_back({gesture.nGroup, gesture.nID, gesture.lpszInput, pItem != nullptr ? pItem->second : gesture.lpszWhat});
  }

  const auto* pGrid = menus.Find(ID_VIEW_GRID);
  std::vector<std::pair<int, std::string>> groups;
  for (size_t i = 0; i < menus.headings.size(); ++i) groups.emplace_back(static_cast<int>(i), menus.headings[i]);
  groups.emplace_back(kGridGroup, pGrid != nullptr ? pGrid->second : "一覧表示");
  groups.emplace_back(kOtherGroup, "その他");
  std::string text;
  for (const auto& [nGroup, heading] : groups) {
    std::string block;
    for (const Line& line : lines)
      if (line.nGroup == nGroup) block += "    " + line.keys + "\t" + line.what + "\r\n";
    if (block.empty()) continue;
    if (!text.empty()) text += "\r\n";
    text += "[" + heading + "]\r\n" + block;
  }
  return CString(text);
}
