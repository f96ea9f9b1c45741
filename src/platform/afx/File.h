// CFile: what the program writes a rendered clipboard format into (COleDataSource's
// OnRenderFileData). The layer passes files of its own; none is opened by name.
#pragma once

#include "win32/WinTypes.h"

class CFile {
 public:
  CFile() = default;
  virtual ~CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Appends nCount bytes. Throws std::bad_alloc when the file cannot take them.
  virtual void Write(const void* lpBuf, UINT nCount) = 0;
};
