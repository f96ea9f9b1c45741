// The program's resources as data: string table, menu and accelerator table 128, tool bar 128
// with its artwork, dialogs 100, 130, 131 and 132, icons 128 and 129.
#include "res/Resource.h"

#include <map>

#include "afx/Resource.h"

namespace {

// ---- string table -----------------------------------------------------------------------------

const std::map<UINT, const char*>& StringTable() {
  static const std::map<UINT, const char*> table = {
      {IDR_MAINFRAME,
       "Vimo\n\nImage\nVimo Files (*.bmp;*.jpg;*.jpeg;*.jpe;*.gif;*.pcd)\n.jpeg;n.bmp\nbmp\nImage Document"},
      {0xE000, "Vimo V 3.00"},
      {0xE001, "ﾚﾃﾞｨ"},
      {ID_FILE_NEW, "新規にﾌｧｲﾙを作成\n新規ﾌｧｲﾙ"},
      {ID_FILE_OPEN, "既存のﾌｧｲﾙを開く\n開く"},
      {ID_FILE_SAVE, "開いているﾌｧｲﾙを上書きして保存\n保存"},
      {ID_GO_PREV, "前の画像に戻る\n前に戻る"},
      {ID_GO_NEXT, "次の画像に進む\n次に進む"},
      {ID_IMAGE_DELETE, "表示中の画像ﾌｧｲﾙを削除\n削除"},
      {ID_IMAGE_OPEN, "既存の画像ﾌｧｲﾙを開く\n開く"},
      {ID_IMAGE_SAVE_AS, "表示中の画像に名前を付けて保存\n名前をつけて保存"},
      {ID_GIFT_SETTINGS, "Image Giftの設定\nImage Gift設定"},
      {ID_GIFT_STACK, "Imageのスタック\nImageのスタック"},
      {ID_GIFT_SEND, "Imageの送信\nImageの送信"},
      {0xE110, "指定のﾌｧｲﾙを開く"},
      {0xE111, "指定のﾌｧｲﾙを開く"},
      {0xE112, "指定のﾌｧｲﾙを開く"},
      {0xE113, "指定のﾌｧｲﾙを開く"},
      {0xE114, "指定のﾌｧｲﾙを開く"},
      {0xE115, "指定のﾌｧｲﾙを開く"},
      {0xE116, "指定のﾌｧｲﾙを開く"},
      {0xE117, "指定のﾌｧｲﾙを開く"},
      {0xE118, "指定のﾌｧｲﾙを開く"},
      {0xE119, "指定のﾌｧｲﾙを開く"},
      {0xE11A, "指定のﾌｧｲﾙを開く"},
      {0xE11B, "指定のﾌｧｲﾙを開く"},
      {0xE11C, "指定のﾌｧｲﾙを開く"},
      {0xE11D, "指定のﾌｧｲﾙを開く"},
      {0xE11E, "指定のﾌｧｲﾙを開く"},
      {0xE11F, "指定のﾌｧｲﾙを開く"},
      {ID_EDIT_COPY, "表示中の画像とﾌｧｲﾙをｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰ\nｺﾋﾟｰ"},
      {ID_EDIT_COPY_PATH, "表示中の画像ﾌｧｲﾙのﾊﾟｽをｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰ\nﾊﾟｽをｺﾋﾟｰ"},
      {ID_EDIT_CUT, "選択範囲を切り取ってｸﾘｯﾌﾟﾎﾞｰﾄﾞに移動\n切り取り"},
      {ID_EDIT_PASTE, "ｸﾘｯﾌﾟﾎﾞｰﾄﾞの内容を挿入\n貼り付け"},
      {ID_EDIT_UNDO, "ごみ箱に移した、名前を変えた、移動した画像ﾌｧｲﾙを元に戻す\n元に戻す"},
      {ID_FILE_RENAME, "画像ﾌｧｲﾙの名前を変更\n名前の変更"},
      {ID_FILE_COPY_TO, "画像ﾌｧｲﾙをﾌｫﾙﾀﾞにｺﾋﾟｰ\nﾌｫﾙﾀﾞにｺﾋﾟｰ"},
      {ID_FILE_MOVE_TO, "画像ﾌｧｲﾙをﾌｫﾙﾀﾞに移動\nﾌｫﾙﾀﾞに移動"},
      {ID_FILE_OPEN_WITH, "画像ﾌｧｲﾙを他のﾌﾟﾛｸﾞﾗﾑで開く\nﾌﾟﾛｸﾞﾗﾑから開く"},
      {ID_APP_ABOUT, "ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝそして著作権を表示\nﾊﾞｰｼﾞｮﾝ情報"},
      {ID_APP_EXIT, "ｱﾌﾟﾘｹｰｼｮﾝを終了し、ﾌｧｲﾙの保存を指示\n終了"},
      {ID_NEXT_PANE, "次のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替え\n次のﾍﾟｲﾝ"},
      {ID_PREV_PANE, "前のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替え\n前のﾍﾟｲﾝ"},
      {ID_VIEW_TOOLBAR, "ﾂｰﾙ ﾊﾞｰの表示/非表示\nﾂｰﾙ ﾊﾞｰの表示/非表示"},
      {ID_VIEW_STATUS_BAR, "ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示\nｽﾃｰﾀｽ ﾊﾞｰの表示/非表示"},
      {ID_VIEW_FIT, "画像全体をｳｨﾝﾄﾞｳに合わせて縮小し、中央に表示\nｳｨﾝﾄﾞｳに合わせる"},
      {ID_VIEW_ZOOM_IN, "画像を拡大して表示\n拡大"},
      {ID_VIEW_ZOOM_OUT, "画像を縮小して表示\n縮小"},
      {ID_VIEW_ZOOM_ACTUAL, "画像を実際のｻｲｽﾞ (100 %) で表示\n実際のｻｲｽﾞ"},
      {ID_VIEW_FULL_SCREEN, "画像だけを画面全体に表示 (Esc で戻る)\n全画面表示"},
      {ID_VIEW_UPRIGHT, "写真を撮影時の向き (EXIF) に合わせて表示\n写真の向きを合わせる"},
      {ID_VIEW_ROTATE_RIGHT, "表示中の画像を右に90度回転 (ﾌｧｲﾙは変更しない)\n右に回転"},
      {ID_VIEW_ROTATE_LEFT, "表示中の画像を左に90度回転 (ﾌｧｲﾙは変更しない)\n左に回転"},
      {ID_VIEW_OTHER_FORMATS, "PNG、WebP、TIFF、HEIC、AVIFの画像ﾌｧｲﾙも開く\n他の形式も開く"},
      {ID_VIEW_BROWSE_ON, "開いた画像の次のﾌｧｲﾙから名前順に進み、最後の次は先頭に戻る\n開いた画像から順に進む"},
      {ID_VIEW_COLOUR_MANAGED, "画像に埋め込まれたICCﾌﾟﾛﾌｧｲﾙの色をﾓﾆﾀｰのﾌﾟﾛﾌｧｲﾙに合わせて表示\nｶﾗｰﾏﾈｼﾞﾒﾝﾄ"},
      {ID_VIEW_INFO, "表示中の画像のﾌｧｲﾙ、撮影時の情報 (EXIF)、ｶﾗｰﾌﾟﾛﾌｧｲﾙを画像の横に表示\n画像の情報"},
      {ID_VIEW_SLIDESHOW, "全画面で画像を順に表示 (Space で一時停止、Esc で終了)\nスライドショー"},
      {ID_VIEW_SLIDESHOW_2S, "ｽﾗｲﾄﾞｼｮｰで2秒ごとに次の画像を表示\n間隔 2 秒"},
      {ID_VIEW_SLIDESHOW_3S, "ｽﾗｲﾄﾞｼｮｰで3秒ごとに次の画像を表示\n間隔 3 秒"},
      {ID_VIEW_SLIDESHOW_5S, "ｽﾗｲﾄﾞｼｮｰで5秒ごとに次の画像を表示\n間隔 5 秒"},
      {ID_VIEW_SLIDESHOW_10S, "ｽﾗｲﾄﾞｼｮｰで10秒ごとに次の画像を表示\n間隔 10 秒"},
      {ID_VIEW_KEEP_ZOOM, "次の画像も同じ拡大率で表示\n拡大率を保つ"},
      {ID_IMAGE_SAVE_TURN, "表示中の向きをJPEGﾌｧｲﾙに保存 (画質は変わらない)\n回転を保存"},
      {ID_IMAGE_CROP, "表示中の画像の一部を切り抜いて別のﾌｧｲﾙに保存 (元の画像は変更しない)\n切り抜き"},
      {ID_IMAGE_RESIZE, "表示中の画像の大きさを変えて別のﾌｧｲﾙに保存 (元の画像は変更しない)\n大きさを変更"},
      {ID_CROP_ACCEPT, "描いた範囲を切り抜いて保存\n切り抜いて保存"},
      {ID_CROP_CANCEL, "切り抜きをやめる\nやめる"},
      {ID_CROP_ASPECT_PICTURE, "切り抜く範囲を写真と同じ縦横比にする\n写真の縦横比"},
      {ID_CROP_ASPECT_1X1, "切り抜く範囲を正方形にする\n1:1"},
      {ID_CROP_ASPECT_3X2, "切り抜く範囲を 3:2 (縦長の写真では 2:3) にする\n3:2"},
      {ID_CROP_ASPECT_4X3, "切り抜く範囲を 4:3 (縦長の写真では 3:4) にする\n4:3"},
      {ID_CROP_ASPECT_16X9, "切り抜く範囲を 16:9 (縦長の写真では 9:16) にする\n16:9"},
      {ID_CROP_ASPECT_FREE, "切り抜く範囲の縦横比を自由にする\n自由"},
      {ID_VIEW_GRID, "ﾌｫﾙﾀﾞの画像を縮小版で一覧表示 (Enter で表示中の画像に戻る)\n一覧表示"},
      {ID_VIEW_FILM_STRIP, "ｳｨﾝﾄﾞｳの下に画像の縮小版を並べて表示\nﾌｨﾙﾑｽﾄﾘｯﾌﾟ"},
      {ID_VIEW_THUMB_128, "一覧表示の縮小版を 128 ﾋﾟｸｾﾙで表示\n縮小版 128 ﾋﾟｸｾﾙ"},
      {ID_VIEW_THUMB_256, "一覧表示の縮小版を 256 ﾋﾟｸｾﾙで表示\n縮小版 256 ﾋﾟｸｾﾙ"},
      {ID_VIEW_CAPTION_NAME, "一覧表示の縮小版の下にﾌｧｲﾙ名を表示\n見出し: ﾌｧｲﾙ名"},
      {ID_VIEW_CAPTION_TAKEN, "一覧表示の縮小版の下に撮影日時 (EXIF、ないものはﾌｧｲﾙの更新日時) を表示\n見出し: 撮影日時"},
      {ID_VIEW_SORT_NAME, "ﾌｧｲﾙ名の順に並べる\n名前順"},
      {ID_VIEW_SORT_TAKEN, "写真の撮影日時 (EXIF、ないものはﾌｧｲﾙの更新日時) の順に並べる\n撮影日時順"},
      {ID_VIEW_SORT_MODIFIED, "ﾌｧｲﾙの更新日時の順に並べる\n更新日時順"},
      {ID_VIEW_SORT_SIZE, "ﾌｧｲﾙのｻｲｽﾞの順に並べる\nサイズ順"},
      {ID_VIEW_SORT_REVERSE, "並べる順を逆にする\n逆順"},
      {ID_FILE_OPEN_FOLDER, "ﾌｫﾙﾀﾞを選んで画像を一覧表示\nフォルダを開く"},
      {ID_EDIT_SELECT_ALL, "すべての画像を選択\nすべて選択"},
      {ID_HELP_KEYS, "キーとマウスの操作を一覧表示\nキーボードショートカット"},
      {ID_IMAGE_PRINT, "表示中の画像を表示している向きと色で印刷\n印刷"},
      {ID_IMAGE_PRINT_PREVIEW, "印刷される画像の配置を確認\n印刷ﾌﾟﾚﾋﾞｭｰ"},
      {ID_IMAGE_WALLPAPER, "表示中の画像をﾃﾞｽｸﾄｯﾌﾟの壁紙に設定\n壁紙に設定"},
      {0xEF00, "ｳｨﾝﾄﾞｳのｻｲｽﾞを変更"},
      {0xEF01, "ｳｨﾝﾄﾞｳの位置を変更"},
      {0xEF02, "ｳｨﾝﾄﾞｳをｱｲｺﾝ化する"},
      {0xEF03, "ｳｨﾝﾄﾞｳを最大表示にする"},
      {0xEF04, "次のｳｨﾝﾄﾞｳに切り替える"},
      {0xEF05, "前のｳｨﾝﾄﾞｳに切り替える"},
      {0xEF06, "作業中のｳｨﾝﾄﾞｳを閉じ、変更したﾌｧｲﾙの保存を指示"},
      {0xEF12, "ｳｨﾝﾄﾞｳを通常のｻｲｽﾞに戻す"},
      {0xEF13, "ｱﾌﾟﾘｹｰｼｮﾝの切り替え"},
      {AFX_IDS_UNTITLED, "無題"},
      {AFX_IDS_OPENFILE, "開く"},
      {AFX_IDS_ALLFILTER, "すべてのﾌｧｲﾙ (*.*)"},
      {AFX_IDP_FAILED_TO_OPEN_DOC, "%1 を開くことができません。"},
      {AFX_IDS_DESKTOP_CATEGORIES, "Graphics;Viewer;"},
      {AFX_IDP_FAILED_TO_WRITE_PROFILE, "cannot write the settings to %1 (%2)\nthe settings chosen hold until the viewer ends"},
  };
  return table;
}

// ---- menu 128 ---------------------------------------------------------------------------------

constexpr AFX_MENU_ENTRY kMainMenu[] = {
    {AfxMenuKind::Popup, 0, "ﾌｧｲﾙ(&F)", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_OPEN, "開く(&O)...\tCtrl+O", FALSE},
    {AfxMenuKind::Item, ID_FILE_OPEN_FOLDER, "フォルダを開く(&L)...", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_SAVE_AS, "名前を付けて保存(&A)...", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_DELETE, "削除(&D)\tCtrl+Del", FALSE},
    {AfxMenuKind::Item, ID_EDIT_UNDO, "元に戻す(&U)\tCtrl+Z", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_FILE_RENAME, "名前の変更(&M)...\tF2", FALSE},
    {AfxMenuKind::Item, ID_FILE_COPY_TO, "ﾌｫﾙﾀﾞにｺﾋﾟｰ(&Y)...\tF7", FALSE},
    {AfxMenuKind::Item, ID_FILE_MOVE_TO, "ﾌｫﾙﾀﾞに移動(&V)...\tF8", FALSE},
    {AfxMenuKind::Item, ID_FILE_OPEN_WITH, "ﾌﾟﾛｸﾞﾗﾑから開く(&H)...\tCtrl+Shift+O", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_EDIT_COPY, "ｺﾋﾟｰ(&C)\tCtrl+C", FALSE},
    {AfxMenuKind::Item, ID_EDIT_COPY_PATH, "ﾊﾟｽをｺﾋﾟｰ(&P)\tCtrl+Shift+C", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_SAVE_TURN, "回転を保存(&R)", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_CROP, "切り抜いて保存(&K)...\tShift+C", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_RESIZE, "大きさを変えて保存(&Z)...\tShift+S", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_IMAGE_PRINT, "印刷(&T)...\tCtrl+P", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_PRINT_PREVIEW, "印刷ﾌﾟﾚﾋﾞｭｰ(&E)...", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_WALLPAPER, "壁紙に設定(&W)", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_FILE_MRU_FILE1, "最新のﾌｧｲﾙ", TRUE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_APP_EXIT, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::Popup, 0, "表示(&V)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_TOOLBAR, "ﾂｰﾙ ﾊﾞｰ(&T)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_STATUS_BAR, "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_FIT, "ｳｨﾝﾄﾞｳに合わせる(&W)\tF", FALSE},
    {AfxMenuKind::Item, ID_VIEW_ZOOM_IN, "拡大(&I)\t+", FALSE},
    {AfxMenuKind::Item, ID_VIEW_ZOOM_OUT, "縮小(&O)\t-", FALSE},
    {AfxMenuKind::Item, ID_VIEW_ZOOM_ACTUAL, "実際のｻｲｽﾞ(&A)\t1", FALSE},
    {AfxMenuKind::Item, ID_VIEW_FULL_SCREEN, "全画面表示(&U)\tF11", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_UPRIGHT, "写真の向きを合わせる(&P)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_ROTATE_RIGHT, "右に回転(&R)\tR", FALSE},
    {AfxMenuKind::Item, ID_VIEW_ROTATE_LEFT, "左に回転(&L)\tShift + R", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_OTHER_FORMATS, "他の形式も開く(&M)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_BROWSE_ON, "開いた画像から順に進む(&N)", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_COLOUR_MANAGED, "ｶﾗｰﾏﾈｼﾞﾒﾝﾄ(&C)", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_INFO, "画像の情報(&E)\tI", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SLIDESHOW, "スライドショー(&H)\tS", FALSE},
    {AfxMenuKind::Popup, 0, "スライドショーの間隔(&Y)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SLIDESHOW_2S, "間隔 2 秒(&2)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SLIDESHOW_3S, "間隔 3 秒(&3)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SLIDESHOW_5S, "間隔 5 秒(&5)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SLIDESHOW_10S, "間隔 10 秒(&0)", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_KEEP_ZOOM, "次の画像でも拡大率を保つ(&K)", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_GRID, "一覧表示(&G)\tEnter", FALSE},
    {AfxMenuKind::Item, ID_VIEW_FILM_STRIP, "ﾌｨﾙﾑｽﾄﾘｯﾌﾟ(&F)", FALSE},
    {AfxMenuKind::Popup, 0, "縮小版のｻｲｽﾞ(&Z)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_THUMB_128, "縮小版 128 ﾋﾟｸｾﾙ(&B)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_THUMB_256, "縮小版 256 ﾋﾟｸｾﾙ(&X)", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::Popup, 0, "縮小版の見出し(&T)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_CAPTION_NAME, "ﾌｧｲﾙ名(&N)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_CAPTION_TAKEN, "撮影日時(&D)", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::Popup, 0, "並べ替え(&B)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SORT_NAME, "名前順(&J)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SORT_TAKEN, "撮影日時順(&D)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SORT_MODIFIED, "更新日時順(&Y)", FALSE},
    {AfxMenuKind::Item, ID_VIEW_SORT_SIZE, "サイズ順(&Z)", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_SORT_REVERSE, "逆順(&V)", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::Popup, 0, "移動(&G)", FALSE},
    {AfxMenuKind::Item, ID_GO_PREV, "前に戻る(&B)\tShift + Tab", FALSE},
    {AfxMenuKind::Item, ID_GO_NEXT, "次に進む(&F)\tTab", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::Popup, 0, "Gift(&I)", FALSE},
    {AfxMenuKind::Item, ID_GIFT_SEND, "送信(&S)\tF12", FALSE},
    {AfxMenuKind::Item, ID_GIFT_STACK, "ｽﾀｯｸ\tF5", FALSE},
    {AfxMenuKind::Item, ID_GIFT_SETTINGS, "設定...", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::Popup, 0, "ﾍﾙﾌﾟ(&H)", FALSE},
    {AfxMenuKind::Item, ID_HELP_KEYS, "キーボードショートカット(&K)...\tF1", FALSE},
    {AfxMenuKind::Item, ID_APP_ABOUT, "ﾊﾞｰｼﾞｮﾝ情報(Vimo) (&A)...", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::End, 0, nullptr, FALSE},
};

// ---- the view's context menu ------------------------------------------------------------------

constexpr AFX_MENU_ENTRY kImageContextMenu[] = {
    {AfxMenuKind::Popup, 0, "画像", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_OPEN, "開く(&O)...", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_SAVE_AS, "名前を付けて保存(&A)...", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_DELETE, "削除(&D)\tCtrl+Del", FALSE},
    {AfxMenuKind::Item, ID_EDIT_COPY, "ｺﾋﾟｰ(&C)\tCtrl+C", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_PRINT, "印刷(&T)...\tCtrl+P", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_WALLPAPER, "壁紙に設定(&P)", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_FILE_RENAME, "名前の変更(&M)...\tF2", FALSE},
    {AfxMenuKind::Item, ID_FILE_COPY_TO, "ﾌｫﾙﾀﾞにｺﾋﾟｰ(&Y)...\tF7", FALSE},
    {AfxMenuKind::Item, ID_FILE_MOVE_TO, "ﾌｫﾙﾀﾞに移動(&I)...\tF8", FALSE},
    {AfxMenuKind::Item, ID_FILE_OPEN_WITH, "ﾌﾟﾛｸﾞﾗﾑから開く(&H)...\tCtrl+Shift+O", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_ROTATE_RIGHT, "右に回転(&R)\tR", FALSE},
    {AfxMenuKind::Item, ID_VIEW_ROTATE_LEFT, "左に回転(&L)\tShift + R", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_SAVE_TURN, "回転を保存(&V)", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_CROP, "切り抜いて保存(&K)...\tShift+C", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_RESIZE, "大きさを変えて保存(&Z)...\tShift+S", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_FIT, "ｳｨﾝﾄﾞｳに合わせる(&W)\tF", FALSE},
    {AfxMenuKind::Item, ID_VIEW_FULL_SCREEN, "全画面表示(&U)\tF11", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_GIFT_STACK, "ｽﾀｯｸ\tF5", FALSE},
    {AfxMenuKind::Item, ID_GIFT_SEND, "送信(&S)\tF12", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_VIEW_INFO, "画像の情報(&E)\tI", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::End, 0, nullptr, FALSE},
};

constexpr AFX_MENU_ENTRY kGridContextMenu[] = {
    {AfxMenuKind::Popup, 0, "一覧", FALSE},
    {AfxMenuKind::Item, ID_FILE_RENAME, "名前の変更(&M)...\tF2", FALSE},
    {AfxMenuKind::Item, ID_FILE_COPY_TO, "ﾌｫﾙﾀﾞにｺﾋﾟｰ(&Y)...\tF7", FALSE},
    {AfxMenuKind::Item, ID_FILE_MOVE_TO, "ﾌｫﾙﾀﾞに移動(&I)...\tF8", FALSE},
    {AfxMenuKind::Item, ID_FILE_OPEN_WITH, "ﾌﾟﾛｸﾞﾗﾑから開く(&H)...\tCtrl+Shift+O", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_DELETE, "削除(&D)\tCtrl+Del", FALSE},
    {AfxMenuKind::Item, ID_EDIT_UNDO, "元に戻す(&U)\tCtrl+Z", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_PRINT, "印刷(&T)...\tCtrl+P", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_WALLPAPER, "壁紙に設定(&P)", FALSE},
    {AfxMenuKind::Item, ID_IMAGE_RESIZE, "大きさを変えて保存(&Z)...\tShift+S", FALSE},
    {AfxMenuKind::Item, ID_EDIT_SELECT_ALL, "すべて選択(&A)\tCtrl+A", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_GIFT_STACK, "ｽﾀｯｸ\tF5", FALSE},
    {AfxMenuKind::Item, ID_GIFT_SEND, "送信(&S)\tF12", FALSE},
    {AfxMenuKind::Item, ID_GIFT_SETTINGS, "設定...", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::End, 0, nullptr, FALSE},
};

// ---- the view's context menu while cropping -----------------------------------------------------

constexpr AFX_MENU_ENTRY kCropContextMenu[] = {
    {AfxMenuKind::Popup, 0, "切り抜き", FALSE},
    {AfxMenuKind::Item, ID_CROP_ACCEPT, "切り抜いて保存(&S)...\tEnter", FALSE},
    {AfxMenuKind::Item, ID_CROP_CANCEL, "やめる(&C)\tEsc", FALSE},
    {AfxMenuKind::Separator, 0, nullptr, FALSE},
    {AfxMenuKind::Item, ID_CROP_ASPECT_PICTURE, "写真の縦横比(&P)", FALSE},
    {AfxMenuKind::Item, ID_CROP_ASPECT_1X1, "1:1(&1)", FALSE},
    {AfxMenuKind::Item, ID_CROP_ASPECT_3X2, "3:2(&3)", FALSE},
    {AfxMenuKind::Item, ID_CROP_ASPECT_4X3, "4:3(&4)", FALSE},
    {AfxMenuKind::Item, ID_CROP_ASPECT_16X9, "16:9(&6)", FALSE},
    {AfxMenuKind::Item, ID_CROP_ASPECT_FREE, "自由(&F)", FALSE},
    {AfxMenuKind::EndPopup, 0, nullptr, FALSE},
    {AfxMenuKind::End, 0, nullptr, FALSE},
};

// ---- accelerator table 128 --------------------------------------------------------------------

constexpr BYTE V = FVIRTKEY;
constexpr AFX_ACCEL kAccelerators[] = {
    {V | FCONTROL, 'C', ID_EDIT_COPY},       {V | FCONTROL, 'N', ID_FILE_NEW},
    {V | FCONTROL, 'O', ID_FILE_OPEN},       {V | FCONTROL, 'S', ID_FILE_SAVE},
    {V | FCONTROL, 'V', ID_EDIT_PASTE},      {V | FALT, 0x08, ID_EDIT_UNDO},
    {V | FCONTROL, 0x2E, ID_IMAGE_DELETE},   {V | FSHIFT, 0x2E, ID_EDIT_CUT},
    {V, 0x7B, ID_GIFT_SEND},                 {V, 0x74, ID_GIFT_STACK},
    {V, 0x75, ID_NEXT_PANE},                 {V | FSHIFT, 0x75, ID_PREV_PANE},
    {V | FCONTROL, 0x2D, ID_EDIT_COPY},      {V | FSHIFT, 0x2D, ID_EDIT_PASTE},
    {V, 0x09, ID_GO_NEXT},                   {V | FSHIFT, 0x09, ID_GO_PREV},
    {V | FCONTROL, 'X', ID_EDIT_CUT},        {V | FCONTROL, 'Z', ID_EDIT_UNDO},
    // Viewing: characters where the key that types them differs between keyboards.
    {V, 'F', ID_VIEW_FIT},                   {0, '+', ID_VIEW_ZOOM_IN},
    {0, '=', ID_VIEW_ZOOM_IN},               {0, '-', ID_VIEW_ZOOM_OUT},
    {0, '1', ID_VIEW_ZOOM_ACTUAL},           {V, 0x7A, ID_VIEW_FULL_SCREEN},
    {V, 'R', ID_VIEW_ROTATE_RIGHT},          {V | FSHIFT, 'R', ID_VIEW_ROTATE_LEFT},
    // The photo's facts (and the properties key), the path as text, the slideshow.
    {V, 'I', ID_VIEW_INFO},                  {V | FALT, 0x0D, ID_VIEW_INFO},
    {V | FCONTROL | FSHIFT, 'C', ID_EDIT_COPY_PATH}, {V, 'S', ID_VIEW_SLIDESHOW},
    // The grid.
    {V, 0x0D, ID_VIEW_GRID},                 {V | FCONTROL, 'A', ID_EDIT_SELECT_ALL},
    // Copies cut or scaled.
    {V | FSHIFT, 'C', ID_IMAGE_CROP},        {V | FSHIFT, 'S', ID_IMAGE_RESIZE},
    // The keys at a glance.
    {V, 0x70, ID_HELP_KEYS},                 {FCONTROL, '?', ID_HELP_KEYS},
    // Putting a photo to use.
    {V | FCONTROL, 'P', ID_IMAGE_PRINT},
    // Managing the files.
    {V, 0x71, ID_FILE_RENAME},               {V, 0x76, ID_FILE_COPY_TO},
    {V, 0x77, ID_FILE_MOVE_TO},              {V | FCONTROL | FSHIFT, 'O', ID_FILE_OPEN_WITH},
};

// ---- artwork ----------------------------------------------------------------------------------

const char* const kPalette[] = {
    ". .", "k 000000", "y F0D040", "Y FFF0A0", "b 3050B0", "w FFFFFF", "g A0A0A0",
    "G 20A040", "r D02020", "B 2060D0", "s A0D0F0", nullptr,
};

const char* const kToolBarRows[] = {
    "................................................................................................................",
    ".................kkkkkkkkkkkkkk.......................................................................BBBB......",
    ".................kbbkwwwwkwkbbk........G................G.........rr........rr......................BBBBBBBB....",
    ".kkkkkk..........kbbkwwwwkwkbbk.......GG................GG.........rr......rr....kkkkkkkkkkkkkk....BBBBwwBBBB...",
    ".kkkkkkkkkkkkk...kbbkwwwwwwkbbk......GGG................GGG.........rr....rr.....kkwwwwwwwwwwkk...BBBBBwwBBBBB..",
    ".kyyyyyyyyyyyk...kbbkkkkkkkkbbk.....GGGGGGGGGG....GGGGGGGGGG.........rr..rr......kwkwwwwwwwwkwk...BBBBBBBBBBBB..",
    ".kyyyyyyyyyyyk...kbbbbbbbbbbbbk....GGGGGGGGGGG....GGGGGGGGGGG.........rrrr.......kwwkkwwwwkkwwk...BBBBBwwBBBBB..",
    ".kykkkkkkkkkkkkk.kbbbbbbbbbbbbk...GGGGGGGGGGGG....GGGGGGGGGGGG.........rr........kwwwwkwwkwwwwk...BBBBBwwBBBBB..",
    ".kyYYYYYYYYYYY.k.kbkkkkkkkkkkbk....GGGGGGGGGGG....GGGGGGGGGGG.........rrrr.......kwwwkwkkwkwwwk...BBBBBwwBBBBB..",
    ".kyYYYYYYYYYYYk..kbkggggggggkbk.....GGGGGGGGGG....GGGGGGGGGG.........rr..rr......kwwkwwwwwwkwwk...BBBBBwwBBBBB..",
    ".kyyYYYYYYYYYkk..kbkggggggggkbk......GGG................GGG.........rr....rr.....kwkwwwwwwwwkwk...BBBBBwwBBBBB..",
    ".kyyYYYYYYYYYk...kbkggggggggkbk.......GG................GG.........rr......rr....kkwwwwwwwwwwkk....BBBBwwBBBB...",
    ".kkkkkkkkkkkkk...kbkggggggggkbk........G................G.........rr........rr...kkkkkkkkkkkkkk.....BBBBBBBB....",
    ".................kkkkkkkkkkkkkk.......................................................................BBBB......",
    "................................................................................................................",
};
const char* const kIcon128Rows[] = {
    "................................",
    "................................",
    "................................",
    "..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwkkkkkkkkkkkkkkkkkkkkkkkkwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwkssssssGsssssssssssGssskwk..",
    "..kwksssssGGGsssssssssGGGsskwk..",
    "..kwkssssGGGGGsssssssGGGGGskwk..",
    "..kwksssGGGGGGGsssssGGGGGGGkwk..",
    "..kwkssGGGGGGGGGsssGGGGGGGGkwk..",
    "..kwksGGGGGGGGGGGsGGGGGGGGGkwk..",
    "..kwkkkkkkkkkkkkkkkkkkkkkkkkwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwwwkwkwkwkwkwkwkwkwkwkwwwwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..",
    "................................",
    "................................",
    "................................",
};
const char* const kIcon129Rows[] = {
    "................................",
    "................................",
    "................................",
    "..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwkkkkkkkkkkkkkkkkkkkkkkkkwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssyyyyysskwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwksssssssssssssssssssssskwk..",
    "..kwkssssssGsssssssssssGssskwk..",
    "..kwksssssGGGsssssssssGGGsskwk..",
    "..kwkssssGGGGGsssssssGGGGGskwk..",
    "..kwksssGGGGGGGsssssGGGGGGGkwk..",
    "..kwkssGGGGGGGGGsssGGGGGGGGkwk..",
    "..kwksGGGGGGGGGGGsGGGGGGGGGkwk..",
    "..kwkkkkkkkkkkkkkkkkkkkkkkkkwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwwBwwwBBBwwwBBBwwwBBBwwwwwk..",
    "..kwwBwwwBBBwwwBBBwwwBBBwwwwwk..",
    "..kwwBwwwBBBwwwBBBwwwBBBwwwwwk..",
    "..kwwBwwwBBBwwwBBBwwwBBBwwwwwk..",
    "..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..",
    "................................",
    "................................",
    "................................",
};

const AFX_IMAGE kToolBarBitmap = {112, 15, kPalette, kToolBarRows};
const AFX_IMAGE kIcon128 = {32, 32, kPalette, kIcon128Rows};
const AFX_IMAGE kIcon129 = {32, 32, kPalette, kIcon129Rows};

// ---- tool bar 128 -----------------------------------------------------------------------------

constexpr UINT kToolBarIDs[] = {
    ID_IMAGE_OPEN, ID_IMAGE_SAVE_AS, ID_SEPARATOR, ID_GO_PREV, ID_GO_NEXT, ID_SEPARATOR,
    ID_IMAGE_DELETE, ID_SEPARATOR, ID_GIFT_SEND, ID_SEPARATOR, ID_APP_ABOUT,
};
const AFX_TOOLBAR kToolBar = {16, 15, kToolBarIDs, static_cast<int>(std::size(kToolBarIDs)), &kToolBarBitmap};

// ---- dialogs ----------------------------------------------------------------------------------

constexpr DWORD kEditMulti = ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | WS_BORDER | WS_TABSTOP;
constexpr DWORD kEditLine = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;

constexpr AFX_DLGITEM kAboutItems[] = {
    {AfxControl::Icon, -1, 11, 17, 20, 20, SS_ICON, "128"},
    {AfxControl::Static, -1, 40, 10, 119, 8, SS_NOPREFIX, "Vimo Version 3.2 Build 140"},
    {AfxControl::Static, -1, 40, 25, 155, 8, 0, "Linux 版 (Qt 6 / ImageMagick 6)"},
    {AfxControl::Button, IDOK, 178, 7, 32, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK"},
};
const AFX_DLGTEMPLATE kAboutBox = {217, 55, "ﾊﾞｰｼﾞｮﾝ情報(Vimo)", "ＭＳ Ｐゴシック", 9, kAboutItems,
                                   static_cast<int>(std::size(kAboutItems))};

constexpr AFX_DLGITEM kGiftItems[] = {
    {AfxControl::Static, -1, 7, 7, 27, 11, 0, "宛先"},
    {AfxControl::Edit, IDC_GIFT_TO, 48, 7, 159, 49, kEditMulti, ""},
    {AfxControl::Static, -1, 7, 72, 27, 13, 0, "送信元"},
    {AfxControl::Edit, IDC_GIFT_FROM, 48, 72, 159, 12, kEditLine, ""},
    {AfxControl::Static, -1, 7, 92, 39, 8, 0, "サブジェクト"},
    {AfxControl::Edit, IDC_GIFT_SUBJECT, 48, 90, 159, 13, kEditLine, ""},
    {AfxControl::Static, -1, 7, 114, 25, 10, 0, "コメント"},
    {AfxControl::Edit, IDC_GIFT_COMMENT, 49, 114, 158, 29, kEditMulti, ""},
    {AfxControl::Static, -1, 7, 151, 54, 9, 0, "SMTPサーバ名"},
    {AfxControl::Edit, IDC_GIFT_SERVER, 66, 148, 84, 12, kEditLine, ""},
    {AfxControl::Button, IDOK, 157, 148, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK"},
    {AfxControl::Button, IDCANCEL, 157, 169, 50, 14, WS_TABSTOP, "ｷｬﾝｾﾙ"},
};
const AFX_DLGTEMPLATE kGiftSettings = {214, 190, "Image Gift 設定", "ＭＳ Ｐゴシック", 9, kGiftItems,
                                       static_cast<int>(std::size(kGiftItems))};

constexpr AFX_DLGITEM kKeysItems[] = {
    {AfxControl::Edit, IDC_KEYS_LIST, 7, 7, 246, 220, kEditMulti | ES_READONLY, ""},
    {AfxControl::Button, IDOK, 203, 233, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK"},
};
constexpr AFX_DLGITEM kRenameItems[] = {
    {AfxControl::Static, -1, 7, 7, 200, 8, 0, "新しい名前"},
    {AfxControl::Edit, IDC_RENAME_NAME, 7, 18, 200, 12, kEditLine, ""},
    {AfxControl::Button, IDOK, 103, 37, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK"},
    {AfxControl::Button, IDCANCEL, 157, 37, 50, 14, WS_TABSTOP, "ｷｬﾝｾﾙ"},
};
const AFX_DLGTEMPLATE kRename = {214, 58, "名前の変更", "ＭＳ Ｐゴシック", 9, kRenameItems,
                                 static_cast<int>(std::size(kRenameItems))};

const AFX_DLGTEMPLATE kKeys = {260, 254, "キーボードショートカット", "ＭＳ Ｐゴシック", 9, kKeysItems,
                               static_cast<int>(std::size(kKeysItems))};

constexpr AFX_DLGITEM kCopyItems[] = {
    {AfxControl::Static, IDC_COPY_PART, 7, 7, 210, 10, SS_NOPREFIX, ""},
    {AfxControl::Static, -1, 7, 26, 20, 10, 0, "幅"},
    {AfxControl::Edit, IDC_COPY_WIDTH, 30, 24, 45, 13, kEditLine, ""},
    {AfxControl::Static, -1, 82, 26, 22, 10, 0, "高さ"},
    {AfxControl::Edit, IDC_COPY_HEIGHT, 106, 24, 45, 13, kEditLine, ""},
    {AfxControl::ComboBox, IDC_COPY_UNIT, 158, 24, 59, 13, WS_TABSTOP, "ﾋﾟｸｾﾙ\n%"},
    {AfxControl::Static, -1, 7, 40, 210, 10, 0, "幅か高さを空けると、もう一方から縦横比を保って決めます"},
    {AfxControl::Static, -1, 7, 58, 20, 10, 0, "形式"},
    {AfxControl::ComboBox, IDC_COPY_FORMAT, 30, 56, 60, 13, WS_TABSTOP, "JPEG\nPNG\nWebP"},
    {AfxControl::Static, -1, 106, 58, 40, 10, 0, "画質 (1-100)"},
    {AfxControl::Edit, IDC_COPY_QUALITY, 158, 56, 30, 13, kEditLine, ""},
    {AfxControl::Check, IDC_COPY_WITHOUT_LOSS, 7, 74, 210, 12, WS_TABSTOP, "画質を落とさずに切り抜く (JPEGのﾌﾞﾛｯｸに合わせて位置をずらす)"},
    {AfxControl::Static, -1, 7, 94, 20, 10, 0, "名前"},
    {AfxControl::Edit, IDC_COPY_NAME, 30, 92, 187, 13, kEditLine, ""},
    {AfxControl::Button, IDOK, 113, 114, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, "保存"},
    {AfxControl::Button, IDCANCEL, 167, 114, 50, 14, WS_TABSTOP, "ｷｬﾝｾﾙ"},
};
const AFX_DLGTEMPLATE kCopy = {224, 135, "ｺﾋﾟｰを保存", "ＭＳ Ｐゴシック", 9, kCopyItems, static_cast<int>(std::size(kCopyItems))};

}  // namespace

const char* AfxFindStringResource(UINT nID) {
  const auto& table = StringTable();
  const auto it = table.find(nID);
  return it != table.end() ? it->second : nullptr;
}

const AFX_MENU_ENTRY* AfxFindMenuResource(UINT nID) {
  if (nID == IDR_MAINFRAME) return kMainMenu;
  if (nID == IDR_IMAGE_CONTEXT) return kImageContextMenu;
  if (nID == IDR_GRID_CONTEXT) return kGridContextMenu;
  if (nID == IDR_CROP_CONTEXT) return kCropContextMenu;
  return nullptr;
}

const AFX_ACCEL* AfxFindAcceleratorResource(UINT nID, int* pnCount) {
  if (nID != IDR_MAINFRAME) {
    *pnCount = 0;
    return nullptr;
  }
  *pnCount = static_cast<int>(std::size(kAccelerators));
  return kAccelerators;
}

const AFX_TOOLBAR* AfxFindToolBarResource(UINT nID) { return nID == IDR_MAINFRAME ? &kToolBar : nullptr; }

const AFX_DLGTEMPLATE* AfxFindDialogResource(UINT nID) {
  if (nID == IDD_ABOUTBOX) return &kAboutBox;
  if (nID == IDD_GIFT_SETTINGS) return &kGiftSettings;
  if (nID == IDD_KEYS) return &kKeys;
  if (nID == IDD_COPY) return &kCopy;
  if (nID == IDD_RENAME) return &kRename;
  return nullptr;
}

const AFX_IMAGE* AfxFindIconResource(UINT nID) {
  if (nID == IDR_MAINFRAME) return &kIcon128;
  if (nID == IDI_DOCUMENT) return &kIcon129;
  return nullptr;
}
