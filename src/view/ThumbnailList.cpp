#include "view/ThumbnailList.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "convert/ExifBlock.h"
#include "convert/MakeThumbnail.h"
#include "doc/VimoDoc.h"
#include "res/Resource.h"

namespace {

// Copies text into a buffer of size bytes, cut to fit, NUL-terminated.
void CopyText(char* buffer, int size, const char* text) {
  if (buffer == nullptr || size <= 0) return;
  const std::size_t length = std::min(std::strlen(text), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

// Thumbnails are begun only while the worker converts nothing: the image the user steps to
// comes first.
bool IsConverting() { return CMultiThread::IsConverting() != FALSE; }

// When the photo at path was taken, "YYYY/MM/DD HH:MM": its EXIF date, else when its file was last
// changed (as the order by date taken has it); empty when neither can be told.
CString TakenCaption(const char* path) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  char text[32] = "";
  if (std::sscanf(CExifBlock(path).GetDateTaken().c_str(), "%4d:%2d:%2d %2d:%2d", &year, &month, &day, &hour, &minute) == 5 &&
      year > 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 && hour < 24 && minute >= 0 && minute < 60) {
    std::snprintf(text, sizeof(text), "%04d/%02d/%02d %02d:%02d", year, month, day, hour, minute);
    return text;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  SYSTEMTIME local{};
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) || !FileTimeToLocalSystemTime(&data.ftLastWriteTime, &local))
    return CString();
  std::snprintf(text, sizeof(text), "%04u/%02u/%02u %02u:%02u", unsigned{local.wYear}, unsigned{local.wMonth},
                unsigned{local.wDay}, unsigned{local.wHour}, unsigned{local.wMinute});
  return text;
}

}  // namespace

CThumbnailList::CThumbnailList(int nThreads, BOOL bMakeAll, BOOL bYield)
    : m_maker(nThreads, bYield), m_bMakeAll(bMakeAll) {
  m_maker.SetProvider(&MakeThumbnail);
  if (bYield) m_maker.SetHold(&IsConverting);
}

void CThumbnailList::Stop() {
  m_maker.Request({}, 0, static_cast<UINT>(m_cx));
  m_nFrom = m_nTo = -1;
}

void CThumbnailList::Create(CListCtrl* pList, CWnd* pNotify, int cx) {
  m_pList = pList;
  if (m_marked) m_pList->SetImageList(&m_marks, LVSIL_STATE);
  m_maker.SetNotifyWindow(pNotify->m_hWnd, WM_THUMBNAILS_READY);
  SetSize(cx);
}

void CThumbnailList::SetMark(std::function<bool(const CString& path)> marked, const CBitmap& mark) {
  m_marked = std::move(marked);
  const CSize size = mark.GetSize();
  m_marks.Create(size.cx, size.cy, ILC_COLOR32, 1, 0);
  m_marks.Replace(0, &mark);
  if (m_pList != nullptr) m_pList->SetImageList(&m_marks, LVSIL_STATE);
}

void CThumbnailList::SetCaptionTaken(BOOL bTaken) {
  if (m_bTaken == bTaken) return;
  m_bTaken = bTaken;
  m_maker.SetCaption(bTaken ? &TakenCaption : nullptr);
  // The pictures come again, and the dates with them (the shared cache has the pictures).
  SetSize(m_cx);
}

void CThumbnailList::SetSize(int cx) {
  m_cx = cx;
  m_captions.clear();
  m_images.Create(cx, cx, ILC_COLOR32, 0, 0);
  m_placeOwner.clear();
  m_placeOf.clear();
  m_reasons.clear();
  if (m_pList == nullptr) return;
  m_pList->SetImageList(&m_images, LVSIL_NORMAL);
  RequestAround();
}

void CThumbnailList::SetImages(CVimoDoc* pDoc) {
  m_pDoc = pDoc;
  // What is kept of images no longer listed goes; the others keep their pictures.
  const CString folder(pDoc->m_szFolder);
  for (std::size_t place = 0; place < m_placeOwner.size(); ++place) {
    const CString& owner = m_placeOwner[place];
    if (owner.IsEmpty() || (owner.Left(folder.GetLength()) == folder && pDoc->m_images.Find(owner.Mid(folder.GetLength())) >= 0))
      continue;
    FreePlace(place);
  }
  m_nFrom = m_nTo = -1;
}

void CThumbnailList::Remake(int nItem) {
  const std::string path = PathOf(nItem).str();
  if (path.empty()) return;
  if (const auto place = m_placeOf.find(path); place != m_placeOf.end()) FreePlace(static_cast<std::size_t>(place->second));
  m_reasons.erase(path);
  if (m_pList != nullptr) m_pList->Update(nItem);
  RequestAround();
}

CString CThumbnailList::PathOf(int nItem) const {
  if (m_pDoc == nullptr || nItem < 0 || nItem >= m_pDoc->m_images.GetCount()) return CString();
  return CString(m_pDoc->m_szFolder) + m_pDoc->m_images.GetName(nItem);
}

void CThumbnailList::OnNotify(NMHDR& header) {
  if (header.code == LVN_GETDISPINFO) GetDispInfo(reinterpret_cast<NMLVDISPINFO&>(header).item);
  else if (header.code == LVN_GETINFOTIP) GetInfoTip(reinterpret_cast<NMLVGETINFOTIP&>(header));
  else if (header.code == LVN_ODCACHEHINT)
    OnCacheHint(reinterpret_cast<NMLVCACHEHINT&>(header).iFrom, reinterpret_cast<NMLVCACHEHINT&>(header).iTo);
}

void CThumbnailList::GetDispInfo(LVITEM& item) const {
  if (m_pDoc == nullptr || item.iItem < 0 || item.iItem >= m_pDoc->m_images.GetCount()) return;
  const CString strPath = PathOf(item.iItem);
  const std::string path = strPath.str();
  if ((item.mask & LVIF_TEXT) && !m_bTaken) CopyText(item.pszText, item.cchTextMax, m_pDoc->m_images.GetName(item.iItem));
  if ((item.mask & LVIF_TEXT) && m_bTaken) {
    const auto caption = m_captions.find(path);
    CopyText(item.pszText, item.cchTextMax, caption != m_captions.end() ? caption->second : CString());
  }
  if (item.mask & LVIF_STATE) {
    item.state &= ~LVIS_STATEIMAGEMASK;
    if (m_marked && m_marked(strPath)) item.state |= INDEXTOSTATEIMAGEMASK(1);
  }
  if (!(item.mask & LVIF_IMAGE)) return;
  const auto place = m_placeOf.find(path);
  if (place != m_placeOf.end()) item.iImage = place->second;
  else item.iImage = m_reasons.count(path) != 0 ? I_IMAGENONE : I_IMAGECALLBACK;
}

void CThumbnailList::GetInfoTip(NMLVGETINFOTIP& tip) const {
  if (m_pDoc == nullptr || tip.iItem < 0 || tip.iItem >= m_pDoc->m_images.GetCount()) return;
  const auto reason = m_reasons.find(PathOf(tip.iItem).str());
  const CString name = m_pDoc->m_images.GetName(tip.iItem);
  CopyText(tip.pszText, tip.cchTextMax, reason != m_reasons.end() ? name + "\n" + reason->second : name);
}

void CThumbnailList::OnCacheHint(int iFrom, int iTo) {
  if (iFrom == m_nFrom && iTo == m_nTo) return;
  m_nFrom = iFrom;
  m_nTo = iTo;
  RequestAround();
}

void CThumbnailList::RequestAround() {
  if (m_pDoc == nullptr || m_nFrom < 0) return;
  const int count = m_pDoc->m_images.GetCount();
  const int page = m_nTo - m_nFrom + 1;
  const int first = m_nFirstKept = std::max(0, m_nFrom - page);
  const int last = m_nLastKept = std::min(count - 1, m_nTo + page);
  // The places: enough for the items on screen and a screenful either side; pictures of items
  // further away give theirs up.
  const auto kept = static_cast<std::size_t>(std::max(0, last - first + 1));
  if (m_placeOwner.size() < kept) {
    m_placeOwner.resize(kept);
    m_images.SetImageCount(static_cast<UINT>(kept));
  }
  std::map<std::string, int> near;
  for (int i = first; i <= last; ++i) near.emplace(PathOf(i).str(), i);
  for (std::size_t place = 0; place < m_placeOwner.size(); ++place) {
    if (!m_placeOwner[place].IsEmpty() && near.count(m_placeOwner[place].str()) == 0) FreePlace(place);
  }
  // Those on screen first, then outwards from it; then, to be made only, the rest.
  std::vector<CString> wanted;
  const auto want = [&](int i) {
    const CString path = PathOf(i);
    if (m_placeOf.count(path.str()) == 0 && m_reasons.count(path.str()) == 0) wanted.push_back(path);
  };
  for (int i = m_nFrom; i <= m_nTo; ++i) want(i);
  const std::size_t nOnScreen = wanted.size();
  for (int step = 1; m_nTo + step <= last || m_nFrom - step >= first; ++step) {
    if (m_nTo + step <= last) want(m_nTo + step);
    if (m_nFrom - step >= first) want(m_nFrom - step);
  }
  const std::size_t nShown = wanted.size();
  if (m_bMakeAll) {
    for (int i = last + 1; i < count; ++i) wanted.push_back(PathOf(i));
    for (int i = 0; i < first; ++i) wanted.push_back(PathOf(i));
  }
  m_maker.Request(wanted, nShown, static_cast<UINT>(m_cx), nOnScreen);
}

int CThumbnailList::PlaceFor(const CString& path) {
  const auto free = std::find_if(m_placeOwner.begin(), m_placeOwner.end(), [](const CString& owner) { return owner.IsEmpty(); });
  if (free == m_placeOwner.end()) return -1;
  *free = path;
  const int place = static_cast<int>(free - m_placeOwner.begin());
  m_placeOf[path.str()] = place;
  return place;
}

void CThumbnailList::FreePlace(std::size_t place) {
  m_captions.erase(m_placeOwner[place].str());
  m_placeOf.erase(m_placeOwner[place].str());
  m_placeOwner[place].Empty();
  m_images.Replace(static_cast<int>(place), nullptr);
}

void CThumbnailList::OnThumbnailsReady() {
  if (m_pDoc == nullptr || m_pList == nullptr) return;
  for (CThumbnailMaker::CThumbnail& thumbnail : m_maker.TakeReady()) {
    // One asked for at another size, or for an item no longer near the screen, is not kept.
    if (thumbnail.cx != static_cast<UINT>(m_cx) || m_placeOf.count(thumbnail.strPath.str()) != 0) continue;
    const CString name = thumbnail.strPath.Mid(thumbnail.strPath.ReverseFind('/') + 1);
    const int nItem = m_pDoc->m_images.Find(name);
    if (nItem < m_nFirstKept || nItem > m_nLastKept || PathOf(nItem) != thumbnail.strPath) continue;
    if (m_bTaken) m_captions[thumbnail.strPath.str()] = thumbnail.strCaption;
    if (thumbnail.bitmap.IsEmpty()) {
      m_reasons[thumbnail.strPath.str()] = thumbnail.strReason;
    } else {
      const int place = PlaceFor(thumbnail.strPath);
      if (place < 0) continue;
      m_images.Replace(place, &thumbnail.bitmap);
    }
    m_pList->Update(nItem);
  }
}
