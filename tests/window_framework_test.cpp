// The framework layer as the program's classes rely on it: message maps and command routing,
// dialogs from templates, file dialogs, message boxes, bars and drops.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstring>
#include <map>

#include "app/Globals.h"
#include "res/Resource.h"
#include "afx/Resource.h"
#include "view/KeysDlg.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

// ---- message maps ---------------------------------------------------------------------------

std::vector<std::string> g_calls;

class CBaseTarget : public CCmdTarget {
 public:
  void OnBaseCommand() { g_calls.push_back("base"); }
  void OnShadowed() { g_calls.push_back("base shadowed"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseTarget, CCmdTarget)
  ON_COMMAND(100, OnBaseCommand)
  ON_COMMAND(101, OnShadowed)
END_MESSAGE_MAP()

class CDerivedTarget : public CBaseTarget {
 public:
  BOOL m_bEnabled = TRUE;
  void OnFirst() { g_calls.push_back("first"); }
  void OnSecond() { g_calls.push_back("second"); }
  void OnShadowed() { g_calls.push_back("derived shadowed"); }
  void OnUpdateGuarded(CCmdUI* pCmdUI) { pCmdUI->Enable(m_bEnabled); }
  void OnGuarded() { g_calls.push_back("guarded"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedTarget, CBaseTarget)
  ON_COMMAND(200, OnFirst)
  ON_COMMAND(200, OnSecond)
  ON_COMMAND(101, OnShadowed)
  ON_UPDATE_COMMAND_UI(300, OnUpdateGuarded)
  ON_COMMAND(300, OnGuarded)
END_MESSAGE_MAP()

TEST(MessageMap, FirstEntryWinsAndTheBaseMapComesBehind) {
  CDerivedTarget target;
  g_calls.clear();
  EXPECT_TRUE(target.ExecuteCommand(200));
  EXPECT_TRUE(target.ExecuteCommand(101));
  EXPECT_TRUE(target.ExecuteCommand(100));
  EXPECT_FALSE(target.ExecuteCommand(999));
  EXPECT_EQ(g_calls, (std::vector<std::string>{"first", "derived shadowed", "base"}));
}

TEST(MessageMap, UpdateHandlerIsAskedBeforeTheCommandRuns) {
  CDerivedTarget target;
  g_calls.clear();
  target.m_bEnabled = FALSE;
  EXPECT_FALSE(target.ExecuteCommand(300));
  EXPECT_TRUE(g_calls.empty());
  target.m_bEnabled = TRUE;
  EXPECT_TRUE(target.ExecuteCommand(300));
  EXPECT_EQ(g_calls, (std::vector<std::string>{"guarded"}));
  CCmdUI state(999);
  state.DoUpdate(&target);
  EXPECT_FALSE(state.m_bEnabled) << "a command nobody handles is disabled";
}

// ---- dialogs --------------------------------------------------------------------------------

class CSettingsLikeDlg : public CDialog {
 public:
  CSettingsLikeDlg() : CDialog(IDD_GIFT_SETTINGS) {}
  CString m_strTo, m_strSubject, m_strServer, m_strFrom, m_strComment;
  int m_nRefusals = 0;
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, IDC_GIFT_TO, m_strTo);
    DDX_Text(pDX, IDC_GIFT_SUBJECT, m_strSubject);
    DDX_Text(pDX, IDC_GIFT_SERVER, m_strServer);
    DDX_Text(pDX, IDC_GIFT_FROM, m_strFrom);
    DDX_Text(pDX, IDC_GIFT_COMMENT, m_strComment);
  }
  void OnOK() override {
    UpdateData(TRUE);
    if (m_strServer.IsEmpty()) {
      ++m_nRefusals;
      return;  // stays open
    }
    CDialog::OnOK();
  }
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_session.Start()); }
  void TearDown() override { std::filesystem::current_path(m_cwd); }
  const std::filesystem::path m_cwd = std::filesystem::current_path();
  TempDir m_dir;
  ViewerSession m_session;
};

TEST_F(FrameworkTest, DialogShowsItsMembersAndTakesTheControlsBackOnOk) {
  CSettingsLikeDlg dialog;
  dialog.m_strTo = "a@example.org\r\nb@example.org";
  dialog.m_strServer = "";
  int round = 0;
  m_session.dialogHandler = [&round](CDialog* pDialog) {
    ++round;
    if (round == 1) {
      // The members arrived in the controls, one recipient per line.
      EXPECT_EQ(pDialog->GetDlgItemText(IDC_GIFT_TO), "a@example.org\r\nb@example.org");
      pDialog->SetDlgItemText(IDC_GIFT_COMMENT, "line one\r\nline two");
      return IDOK;  // refused: no server yet
    }
    pDialog->SetDlgItemText(IDC_GIFT_SERVER, "smtp.example.org");
    return IDOK;
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(round, 2);
  EXPECT_EQ(dialog.m_nRefusals, 1);
  EXPECT_EQ(dialog.m_strServer, "smtp.example.org");
  EXPECT_EQ(dialog.m_strComment, "line one\r\nline two");
  // Asked once per press: the refused OK left the dialog open.
  EXPECT_EQ(m_session.dialogs, (std::vector<std::string>{"Image Gift 設定", "Image Gift 設定"}));
}

TEST_F(FrameworkTest, CancelLeavesTheMembersAlone) {
  CSettingsLikeDlg dialog;
  dialog.m_strFrom = "me@example.org";
  m_session.dialogHandler = [](CDialog* pDialog) {
    pDialog->SetDlgItemText(IDC_GIFT_FROM, "changed");
    return IDCANCEL;
  };
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(dialog.m_strFrom, "me@example.org");
}

TEST_F(FrameworkTest, TemplatesAreLaidOutInDialogUnits) {
  CSettingsLikeDlg dialog;
  RECT to{}, server{}, ok{}, cancel{};
  m_session.dialogHandler = [&](CDialog* pDialog) {
    AfxTestAccess::GetDlgItemRect(pDialog, IDC_GIFT_TO, &to);
    AfxTestAccess::GetDlgItemRect(pDialog, IDC_GIFT_SERVER, &server);
    AfxTestAccess::GetDlgItemRect(pDialog, IDOK, &ok);
    AfxTestAccess::GetDlgItemRect(pDialog, IDCANCEL, &cancel);
    return IDCANCEL;
  };
  dialog.DoModal();
  // x 48 and 66, y 7 and 148, OK and Cancel 50 wide at the same x.
  EXPECT_NEAR(static_cast<double>(server.left) / to.left, 66.0 / 48.0, 0.05);
  EXPECT_NEAR(static_cast<double>(server.top) / to.top, 148.0 / 7.0, 1.5);
  EXPECT_EQ(ok.left, cancel.left);
  EXPECT_EQ(ok.right - ok.left, cancel.right - cancel.left);
  EXPECT_GT(to.bottom - to.top, 3 * (server.bottom - server.top));
}

TEST_F(FrameworkTest, AboutBoxRunsModallyWithItsCaption) {
  ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_APP_ABOUT));
  ASSERT_EQ(m_session.dialogs.size(), 1u);
  EXPECT_EQ(m_session.dialogs[0], "ﾊﾞｰｼﾞｮﾝ情報(Vimo)");
}

// F1 and Ctrl+? open the keys at a glance; every accelerator is on a line with its command's
// menu text, and a key named as the menus name it.
TEST_F(FrameworkTest, KeysWindowListsEveryAcceleratorWithItsMenuText) {
  std::vector<std::string> shown;
  m_session.dialogHandler = [&shown](CDialog* pDialog) {
    shown.emplace_back(pDialog->GetDlgItemText(IDC_KEYS_LIST).str());
    return IDOK;
  };
  for (const char* keys : {"F1", "Ctrl+?"}) EXPECT_TRUE(AfxTestAccess::PressAccelerator(m_session.Frame(), keys)) << keys;
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(m_session.dialogs[0], "キーボードショートカット");
  const std::string& list = shown[0];
  const auto lineWith = [&list](const std::string& text) {
    const size_t at = list.find(text);
    if (at == std::string::npos) return std::string();
    const size_t start = list.rfind('\n', at) + 1;
    return list.substr(start, list.find('\r', at) - start);
  };
  std::map<UINT, std::string> menuText;
  for (const AFX_MENU_ENTRY* pEntry = AfxFindMenuResource(IDR_MAINFRAME); pEntry->kind != AfxMenuKind::End; ++pEntry)
    if (pEntry->kind == AfxMenuKind::Item) menuText.emplace(pEntry->nID, CKeysDlg::PlainMenuText(pEntry->lpszText).str());
  int nCount = 0;
  const AFX_ACCEL* pAccel = AfxFindAcceleratorResource(IDR_MAINFRAME, &nCount);
  for (int i = 0; i < nCount; ++i) {
    const std::string key = CKeysDlg::KeyName(pAccel[i].fVirt, pAccel[i].key).str();
    const std::string line = lineWith("\t" + (menuText.count(pAccel[i].cmd) ? menuText[pAccel[i].cmd] : std::string()));
    if (menuText.count(pAccel[i].cmd)) EXPECT_NE(line.find(key), std::string::npos) << key << " / " << line;
    else EXPECT_NE(lineWith(key), "") << key;
  }
  for (const auto& [key, text] : std::vector<std::pair<std::string, std::string>>{
           {"Ctrl+Shift+C", "ﾊﾟｽをｺﾋﾟｰ"}, {"F11", "全画面表示"}, {"Shift+Tab", "前に戻る"}, {"Ctrl+Del", "削除"},
           {"+, =", "拡大"}, {"F1, Ctrl+?", "キーボードショートカット"}, {"Ctrl+ホイール", "拡大/縮小"}})
    EXPECT_EQ(lineWith("    " + key + "\t"), "    " + key + "\t" + text);
  for (const char* heading : {"[ﾌｧｲﾙ]", "[表示]", "[移動]", "[Gift]", "[一覧表示]"}) EXPECT_NE(list.find(heading), std::string::npos) << heading;
}

TEST_F(FrameworkTest, MessageBoxIsCaptionedWithTheApplicationTitle) {
  EXPECT_EQ(AfxMessageBox("delete error\n/x"), IDOK);
  ASSERT_EQ(m_session.messages.size(), 1u);
  EXPECT_EQ(m_session.messages[0], "delete error\n/x");
  EXPECT_EQ(m_session.captions[0], "Vimo V 3.00");
}

TEST_F(FrameworkTest, FileDialogWritesTheWindowsLayout) {
  const std::string folder = m_dir.Path().string();
  char buffer[64];
  struct Case {
    std::vector<std::string> files;
    DWORD capacity;
    int result;
    std::string layout;
  } cases[] = {
      {{folder + "/one.jpg"}, 64, IDOK, folder + "/one.jpg" + std::string(2, '\0')},
      {{folder + "/a.jpg", folder + "/B.GIF"}, 64, IDOK, folder + '\0' + "a.jpg" + '\0' + "B.GIF" + '\0' + '\0'},
      {{folder + "/a.jpg", folder + "/B.GIF"}, static_cast<DWORD>(folder.size() + 13), IDCANCEL, ""},
  };
  for (const Case& c : cases) {
    if (folder.size() + 20 > sizeof(buffer)) GTEST_SKIP() << "temporary folder path too long for this table";
    std::memset(buffer, 'x', sizeof(buffer));
    buffer[0] = '\0';
    CFileDialog dialog(TRUE);
    dialog.m_ofn.lpstrFile = buffer;
    dialog.m_ofn.nMaxFile = c.capacity;
    dialog.m_ofn.Flags |= OFN_ALLOWMULTISELECT;
    m_session.fileDialogAnswers.push_back(c.files);
    EXPECT_EQ(dialog.DoModal(), c.result);
    if (c.result != IDOK) continue;
    EXPECT_EQ(std::string(buffer, c.layout.size()), c.layout);
    EXPECT_EQ(std::filesystem::current_path(), m_dir.Path()) << "the dialog leaves the process in the folder";
  }
}

// ---- bars, status bar, drops ------------------------------------------------------------------

TEST_F(FrameworkTest, ToolBarShowsToolTipsAndPromptsInTheStatusBar) {
  CMainFrame* pFrame = m_session.Frame();
  CToolBar& toolBar = pFrame->m_wndToolBar;
  const UINT expectedIDs[] = {ID_IMAGE_OPEN, ID_IMAGE_SAVE_AS, 0, ID_GO_PREV, ID_GO_NEXT, 0, ID_IMAGE_DELETE, 0, ID_GIFT_SEND, 0, ID_APP_ABOUT};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(toolBar.GetItemID(i), expectedIDs[i]);
  EXPECT_EQ(AfxTestAccess::GetButtonToolTip(toolBar, 0), "開く");
  EXPECT_EQ(AfxTestAccess::GetButtonToolTip(toolBar, 10), "ﾊﾞｰｼﾞｮﾝ情報");
  EXPECT_EQ(pFrame->m_wndStatusBar.GetPaneText(0), "ﾚﾃﾞｨ");
  AfxTestAccess::HoverButton(toolBar, 0, TRUE);
  EXPECT_EQ(pFrame->m_wndStatusBar.GetPaneText(0), "既存の画像ﾌｧｲﾙを開く");
  AfxTestAccess::HoverButton(toolBar, 0, FALSE);
  EXPECT_EQ(pFrame->m_wndStatusBar.GetPaneText(0), "ﾚﾃﾞｨ");
  AfxTestAccess::HoverMenuItem(pFrame, ID_APP_EXIT);
  EXPECT_EQ(pFrame->m_wndStatusBar.GetPaneText(0), "ｱﾌﾟﾘｹｰｼｮﾝを終了し、ﾌｧｲﾙの保存を指示");
}

TEST_F(FrameworkTest, DroppedFilesAreOpenedOneByOneAndTheLastStays) {
  WriteFile(m_dir / "one.bmp", MakeBmp24(20, 10, Pattern(20, 10, 1)));
  WriteFile(m_dir / "two.bmp", MakeBmp24(20, 10, Pattern(20, 10, 2)));
  AfxTestAccess::DropFiles(m_session.Frame(), {(m_dir / "one.bmp").c_str(), (m_dir / "notes.txt").c_str(), (m_dir / "two.bmp").c_str()});
  EXPECT_EQ(m_session.Doc()->GetPathName(), (m_dir / "two.bmp").c_str());
  // Browsing restarted at two.bmp. (A copy of one.bmp still in progress when the second drop
  // cleared the queue may land in the history first: the queue keeps such a late result.)
  CVimoDoc* pDoc = m_session.Doc();
  auto historyHolds = [pDoc](const std::string& name) {
    CSingleLock lock(&pDoc->m_queue.m_csLock, TRUE);
    POSITION pos = pDoc->m_queue.m_listHistory.GetHeadPosition();
    while (pos != nullptr) {
      const std::string path = static_cast<CString*>(pDoc->m_queue.m_listHistory.GetNext(pos))->str();
      if (path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0) return true;
    }
    return false;
  };
  EXPECT_TRUE(ViewerSession::WaitFor([&] { return pDoc->m_pDib != nullptr && historyHolds("/two.bmp.bmp"); }));
  EXPECT_TRUE(m_session.messages.empty());
}

TEST_F(FrameworkTest, DropWhileTheViewDragsItsOwnFileOpensNothing) {
  WriteFile(m_dir / "one.bmp", MakeBmp24(20, 10, Pattern(20, 10, 1)));
  g_bDragging = 1;
  AfxTestAccess::DropFiles(m_session.Frame(), {(m_dir / "one.bmp").c_str()});
  g_bDragging = 0;
  EXPECT_TRUE(m_session.Doc()->GetPathName().IsEmpty());
  EXPECT_EQ(g_bPollQueue, 0);
}

TEST_F(FrameworkTest, ControlOOpensThroughTheFrameworkDialogAndTheExtensionFilter) {
  WriteFile(m_dir / "pic.bmp", MakeBmp24(20, 10, Pattern(20, 10, 3)));
  m_session.fileDialogAnswers.push_back({(m_dir / "pic.bmp").string()});
  EXPECT_TRUE(AfxTestAccess::PressAccelerator(m_session.Frame(), "Ctrl+O"));
  ASSERT_EQ(m_session.fileDialogTitles.size(), 1u);
  EXPECT_EQ(m_session.fileDialogTitles[0], "開く");
  // It lists what its label names, and the label reads as written; "*.*" lists every file.
  const std::vector<std::string> labels = {"Vimo Files (*.bmp;*.jpg;*.jpeg;*.jpe;*.gif;*.pcd)", "すべてのﾌｧｲﾙ (*.*)"};
  EXPECT_EQ(m_session.fileDialogFilters[0], labels);
  const std::vector<std::string> patterns = {"*.bmp", "*.jpg", "*.jpeg", "*.jpe", "*.gif", "*.pcd"};
  EXPECT_EQ(m_session.fileDialogPatterns[0], patterns);
  EXPECT_TRUE(m_session.WaitForImage("pic.bmp"));

  // The File menu's open item runs the program's own dialog instead.
  AfxTestAccess::TriggerMenuItem(m_session.Frame(), ID_IMAGE_OPEN);
  ASSERT_EQ(m_session.fileDialogTitles.size(), 2u);
  EXPECT_EQ(m_session.fileDialogTitles[1], "Open Local File");
}

TEST_F(FrameworkTest, RecentFileListKeepsSixteenNewestFirst) {
  for (int i = 0; i < 18; ++i) theApp.AddToRecentFileList((m_dir.Path().string() + "/f" + std::to_string(i) + ".jpg").c_str());
  theApp.AddToRecentFileList((m_dir.Path().string() + "/f5.jpg").c_str());
  const std::vector<CString>& files = theApp.GetRecentFileList();
  ASSERT_EQ(files.size(), 16u);
  EXPECT_EQ(files[0], (m_dir.Path().string() + "/f5.jpg").c_str());
  EXPECT_EQ(files[1], (m_dir.Path().string() + "/f17.jpg").c_str());
  EXPECT_EQ(std::count(files.begin(), files.end(), CString((m_dir.Path().string() + "/f5.jpg").c_str())), 1);
}

TEST(QtTexts, AreJapaneseWhateverTheLocale) {
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "キャンセル");
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:").toStdString(), "アドレス:");
}

TEST(IdleHandOver, WaitsForAMainWindow) {
  ASSERT_EQ(theApp.m_pMainWnd, nullptr);
  g_bPollQueue = 1;
  theApp.OnIdle(0);
  EXPECT_EQ(g_bPollQueue, 1);
  g_bPollQueue = 0;
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
