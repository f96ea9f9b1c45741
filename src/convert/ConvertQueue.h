// The one meeting place of the user-interface thread and the conversion worker: the source
// paths waiting, the history of converted files that Next and Previous walk, the worker's
// error messages, and the position of the shown entry, all under one lock.
#pragma once

#include <map>

#include "convert/MultiThread.h"

// How a converted file stands for its source after the program turned the source in place
// without converting it again: its pixels turned by nOrientation (1 to 8, as a photo's EXIF
// orientation says) and, of them, only the rectangle left, top, right, bottom (all 0: every
// pixel) are the source's. A current file: orientation 1, every pixel.
struct CConvertedTurn {
  int nOrientation = 1;
  int left = 0, top = 0, right = 0, bottom = 0;
};

class CConvertQueue : public CMultiThread {
 public:
  CConvertQueue();
  // Stops and joins the worker before the lists and the lock go. The owner empties the queue
  // with ClearAll first, so that the history's files are deleted.
  ~CConvertQueue() override;

  // Starts the worker. Returns 1.
  int StartThread();

  // Queues a source path and wakes the worker. Keeps the converted files at 17 at most: when
  // the history and the sources on their way to it are more, the oldest entry and its file go
  // (never while nothing has been shown yet). A path converted ahead (CMultiThread::ConvertAhead)
  // whose conversion has ended goes straight to the history (or its error to the error list)
  // when nothing is queued or in conversion before it.
  void Enqueue(const char* path);

  // Steps forward; the converted file now shown, or NULL when none is ready. The string stays
  // valid until its entry leaves the history, which only this thread's calls can cause.
  CString* Next();
  // Steps back; the file now shown, or NULL at the start of the history.
  CString* Previous();
  int CanNext();
  int CanPrevious();
  // 1 while the worker still owes something: a source waiting or in conversion, or an error
  // not yet taken. Next then has nothing yet, but waiting for the worker will bring it.
  int IsNextComing();

  // Drops the shown entry and its file; the entry before it becomes the shown one.
  void DeleteCurrent();
  // The shown entry's file is out of date in this way (every entry of the same file alike);
  // the mark goes with the entry when it leaves the history.
  void MarkShownTurned(const CConvertedTurn& turn);
  // How the shown entry's file stands for its source; orientation 1 and every pixel unless marked.
  CConvertedTurn GetShownTurn();
  // The oldest error message of the worker, or an empty string.
  CString TakeError();
  // Drops what lies ahead of the shown entry, for browsing that goes on elsewhere: the sources
  // waiting, the worker's errors and the converted files after the shown one (deleted). The
  // history up to the shown entry stays, so that Previous goes back over it; the result of a
  // conversion still running is dropped (its file deleted) when it comes.
  void DropAhead();
  // Empties the three lists, deleting every history file, and resets the position. The
  // result of a conversion still running is dropped (its file deleted) when it comes.
  void ClearAll();
  // Converts again, under a conversion setting that changed, the shown entry, the entries after
  // it and the sources still waiting (the conversion under way is waited for): the queue is
  // emptied as ClearAll empties it, then their sources are queued in their order. The source of
  // a converted file is folder followed by the file's name less ".bmp". Returns how many.
  int RequeueFromShown(const char* folder);

  // The source file sourceFolder + oldName is called newName now: the converted files of that
  // name take the new name (unless a converted file already has it), and so do the sources
  // waiting, so that the history shows and converts the file by its new name.
  void RenameSource(const char* sourceFolder, const char* oldName, const char* newName);
  // The source whose result is the next entry of the history: the one in conversion for the
  // browsing now, else the first waiting; an empty string when none. The window shows what there
  // is of it meanwhile.
  CString ComingSource();
  // The event a result sets, for a wait that is also to end when the window has news to show.
  CEvent* ResultEvent() const { return m_pResultEvent.get(); }

  // Consistent reads for "how many converted images lie ahead".
  int HistoryCount();
  int Index();

  int m_nIndex = 0;  // 1-based position of the shown entry; 0 = none shown yet
  CObList m_listPending{10};
  CObList m_listHistory{10};
  CObList m_listErrors{10};
  CCriticalSection m_csLock;

 private:
  // Frees an entry taken out of the history and deletes its file, unless another entry still
  // names that file.
  void DeleteEntry(std::unique_ptr<CObject> entry);
  std::map<const CObject*, CConvertedTurn> m_mapTurned;  // by history entry; under m_csLock
};
