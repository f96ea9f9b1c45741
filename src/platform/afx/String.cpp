#include "afx/String.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

CString::CString(const char* psz) : m_data(psz != nullptr ? psz : "") {}

CString::CString(const char* pch, int nLength) {
  if (pch != nullptr && nLength > 0) m_data.assign(pch, static_cast<size_t>(nLength));
}

CString& CString::operator=(const char* psz) {
  m_data = (psz != nullptr ? psz : "");
  return *this;
}

CString& CString::operator+=(const char* psz) {
  if (psz != nullptr) m_data += psz;
  return *this;
}

CString& CString::operator+=(const CString& string) {
  m_data += string.m_data;
  return *this;
}

CString& CString::operator+=(char ch) {
  m_data += ch;
  return *this;
}

int CString::Find(char ch, int nStart) const {
  if (nStart < 0 || nStart > GetLength()) return -1;
  const size_t at = m_data.find(ch, static_cast<size_t>(nStart));
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const char* pszSub, int nStart) const {
  if (pszSub == nullptr || nStart < 0 || nStart > GetLength()) return -1;
  const size_t at = m_data.find(pszSub, static_cast<size_t>(nStart));
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const {
  const size_t at = m_data.rfind(ch);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString CString::Left(int nCount) const {
  if (nCount <= 0) return {};
  return CString(m_data.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const { return Mid(nFirst, GetLength()); }

CString CString::Mid(int nFirst, int nCount) const {
  if (nFirst < 0) nFirst = 0;
  if (nFirst >= GetLength() || nCount <= 0) return {};
  return CString(m_data.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const {
  if (nCount <= 0) return {};
  if (nCount >= GetLength()) return *this;
  return CString(m_data.substr(m_data.size() - static_cast<size_t>(nCount)));
}

void CString::MakeLower() {
  for (char& c : m_data) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

char* CString::GetBuffer(int nMinBufLength) {
  if (nMinBufLength > GetLength()) m_data.resize(static_cast<size_t>(nMinBufLength));
  return m_data.data();
}

void CString::ReleaseBuffer(int nNewLength) {
  if (nNewLength < 0) nNewLength = static_cast<int>(std::strlen(m_data.c_str()));
  if (nNewLength < GetLength()) m_data.resize(static_cast<size_t>(nNewLength));
}

void CString::Format(const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, pszFormat, copy);
  va_end(copy);
  if (needed < 0) {
    va_end(args);
    m_data.clear();
    return;
  }
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), pszFormat, args);
  va_end(args);
  m_data.assign(buffer.data(), static_cast<size_t>(needed));
}

CString operator+(const CString& a, const CString& b) { return CString(a.str() + b.str()); }
CString operator+(const CString& a, const char* b) { return CString(a.str() + (b ? b : "")); }
CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.str()); }
CString operator+(const CString& a, char b) { return CString(a.str() + b); }
