// The thumbnails a list control shows of the browsed images (the grid's, the film strip's): asked
// of the thumbnail maker for the items on screen first, kept in the list's image list
// only for the items on screen and a screenful either side, so that memory stays the same however
// many images the folder holds.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "afx/ListCtrl.h"
#include "view/ThumbnailMaker.h"

class CVimoDoc;

class CThumbnailList {
 public:
  // bMakeAll: beyond what is shown, the thumbnails of the whole list are made into the cache, the
  // items nearest the screen first (the grid, not the film strip). bYield: thumbnails are made at
  // a lower priority and none is begun while the worker converts, so that the image the user
  // steps to with Tab comes first (the film strip, shown with the image; the grid's are what the
  // user waits for while it is shown).
  CThumbnailList(int nThreads, BOOL bMakeAll, BOOL bYield);

  // Gives the list control its image list of cx x cx pictures; wndNotify hears
  // WM_THUMBNAILS_READY when thumbnails are ready (OnThumbnailsReady takes them).
  void Create(CListCtrl* pList, CWnd* pNotify, int cx);
  // Items whose path marked answers true for carry mark over their picture's corner (the
  // images stacked for Image Gift).
  void SetMark(std::function<bool(const CString& path)> marked, const CBitmap& mark);
  // The caption under each picture: the file's name, or with bTaken when the photo was taken
  // (EXIF, else when its file was last changed), read beside its thumbnail.
  void SetCaptionTaken(BOOL bTaken);
  // Pictures of another size: those kept go, and the ones on screen are asked for again.
  void SetSize(int cx);
  // Shows the document's browse list: forgets the pictures of images no longer in it.
  void SetImages(CVimoDoc* pDoc);
  // The file of item nItem was rewritten: the picture kept of it goes and is asked for again.
  void Remake(int nItem);

  // The list control's questions and news: what an item shows (LVN_GETDISPINFO) and its tool tip
  // (LVN_GETINFOTIP), answered; the items on screen (LVN_ODCACHEHINT), whose thumbnails are then
  // asked for, and kept, those far from the screen let go.
  void OnNotify(NMHDR& header);
  // Takes the ready thumbnails into the image list and repaints their items.
  void OnThumbnailsReady();
  // The path of item nItem.
  CString PathOf(int nItem) const;
  // Nothing more is begun until the items on screen are told again (the list was hidden).
  void Stop();
  // Nothing more is made at all: the threads have ended (the window's end).
  void Close() { m_maker.Close(); }

 private:
  void GetDispInfo(LVITEM& item) const;
  void GetInfoTip(NMLVGETINFOTIP& tip) const;
  void OnCacheHint(int iFrom, int iTo);
  // Asks the maker for what the items around the screen lack, then (bMakeAll) the rest.
  void RequestAround();
  int PlaceFor(const CString& path);
  // The picture in place goes, and the place is free for another.
  void FreePlace(std::size_t place);

  CThumbnailMaker m_maker;
  CImageList m_images;
  CListCtrl* m_pList = nullptr;
  CVimoDoc* m_pDoc = nullptr;
  BOOL m_bMakeAll;
  int m_cx = 128;
  int m_nFrom = -1;  // the items on screen
  int m_nTo = -1;
  int m_nFirstKept = -1;  // the items whose pictures are kept: those on screen and around them
  int m_nLastKept = -1;
  std::vector<CString> m_placeOwner;      // the path whose picture each place holds ("" when free)
  std::map<std::string, int> m_placeOf;   // by path
  std::map<std::string, CString> m_reasons;  // why an image has no picture, by path
  std::function<bool(const CString& path)> m_marked;
  CImageList m_marks;  // the mark, as the list's state picture 1
  BOOL m_bTaken = FALSE;
  std::map<std::string, CString> m_captions;  // when each photo was taken, by path, with bTaken
};
