// CString: a byte string. No character conversion: bytes are kept as the file system gives them.
#pragma once

#include <string>

#include "afx/Object.h"

class CString : public CObject {
 public:
  CString() = default;
  CString(const char* psz);  // NOLINT(google-explicit-constructor): used like the framework's
  CString(const char* pch, int nLength);
  CString(const std::string& text) : m_data(text) {}  // NOLINT(google-explicit-constructor)
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const char* psz);
  ~CString() override = default;

  operator const char*() const { return m_data.c_str(); }  // NOLINT(google-explicit-constructor)
  const std::string& str() const { return m_data; }

  int GetLength() const { return static_cast<int>(m_data.size()); }
  BOOL IsEmpty() const { return m_data.empty() ? TRUE : FALSE; }
  void Empty() { m_data.clear(); }
  char GetAt(int nIndex) const { return m_data[static_cast<size_t>(nIndex)]; }

  CString& operator+=(const char* psz);
  CString& operator+=(const CString& string);
  CString& operator+=(char ch);

  // Searches forward from nStart; -1 when not found.
  int Find(char ch, int nStart = 0) const;
  int Find(const char* pszSub, int nStart = 0) const;
  int ReverseFind(char ch) const;

  CString Left(int nCount) const;
  CString Mid(int nFirst) const;
  CString Mid(int nFirst, int nCount) const;
  CString Right(int nCount) const;

  // ASCII letters lower-cased; other bytes left alone.
  void MakeLower();

  // A writable buffer of at least nMinBufLength bytes plus a NUL; ReleaseBuffer(-1) takes the
  // text up to the first NUL as the new content.
  char* GetBuffer(int nMinBufLength);
  void ReleaseBuffer(int nNewLength = -1);

  void Format(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

  friend bool operator==(const CString& a, const CString& b) { return a.m_data == b.m_data; }
  friend bool operator==(const CString& a, const char* b) { return a.m_data == (b ? b : ""); }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
  friend bool operator<(const CString& a, const CString& b) { return a.m_data < b.m_data; }

 private:
  std::string m_data;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, char b);
