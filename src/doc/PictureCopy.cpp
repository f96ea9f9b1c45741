#include "doc/PictureCopy.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "convert/ScaledCopy.h"
#include "doc/ExifPatch.h"
#include "doc/LosslessTurn.h"
#include "win32/SafeFiles.h"

namespace {

const char* LibraryName(CPictureCopy::Format format) {
  switch (format) {
    case CPictureCopy::Format::kPng: return "PNG";
    case CPictureCopy::Format::kWebp: return "WEBP";
    default: return "JPEG";
  }
}

// The JPEG source's first EXIF block, made upright for a copy of nWidth x nHeight pixels; empty
// when it has none or it cannot be edited safely (then the copy goes without, rather than with a
// block that may still say another turn).
std::string UprightExifOf(const CLosslessTurn& source, int nWidth, int nHeight) {
  const std::string& bytes = source.GetBytes();
  for (const CLosslessTurn::Segment& segment : CLosslessTurn::HeaderSegments(bytes)) {
    std::string body = bytes.substr(segment.at + 4, segment.length - 4);
    BYTE* pBody = reinterpret_cast<BYTE*>(body.data());
    if (segment.marker != 0xE1 || !CExifPatch::IsExifBlock(pBody, body.size())) continue;
    if (!CExifPatch::Upright(pBody, body.size(), static_cast<unsigned>(nWidth), static_cast<unsigned>(nHeight))) return {};
    return body;
  }
  return {};
}

CString WriteError(const CString& target, int error) {
  if (error == EEXIST) return "cannot write the copy, a file of that name exists\n" + target;
  return "cannot write the copy\n" + target + "\n" + std::strerror(error != 0 ? error : EIO);
}

BOOL WriteWithoutLoss(const char* source, int nTurn, const CPictureCopy::CChoice& choice, CString& strError) {
  CLosslessTurn jpeg;
  if (!jpeg.Load(source)) {
    strError = CString("cannot cut without loss, not a readable JPEG file\n") + source;
    return FALSE;
  }
  switch (jpeg.SaveCrop(nTurn, choice.rcPart, choice.strTarget, choice.bReplace)) {
    case CLosslessTurn::Result::kDone:
      return TRUE;
    case CLosslessTurn::Result::kNotWritten:
      strError = WriteError(choice.strTarget, jpeg.GetError());
      return FALSE;
    case CLosslessTurn::Result::kExifUnreadable:
      strError = CString("cannot cut without loss, its EXIF block cannot be read safely\n") + source;
      return FALSE;
    case CLosslessTurn::Result::kNeedsTrim:
      strError = CString("cannot cut without loss there, the part does not lie on the JPEG's blocks\n") + source;
      return FALSE;
    default:
      strError = CString("cannot cut without loss, the JPEG data is damaged\n") + source;
      return FALSE;
  }
}

}  // namespace

const char* CPictureCopy::Extension(Format format) {
  switch (format) {
    case Format::kPng: return ".png";
    case Format::kWebp: return ".webp";
    default: return ".jpg";
  }
}

CString CPictureCopy::FreshName(const char* source, Format format) {
  const std::string path(source);
  const std::size_t slash = path.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  const std::string stem = dot != std::string::npos && dot > nameAt ? path.substr(0, dot) : path;
  // A folder that cannot be looked into gives the first name: the write then says why.
  const CString first = CString(stem.c_str()) + "-1" + Extension(format);
  for (int n = 1; n < 10000; ++n) {
    const CString name = CString(stem.c_str()) + "-" + std::to_string(n).c_str() + Extension(format);
    struct _stat info {};
    if (_stat(name, &info) == 0) continue;
    return errno == ENOENT ? name : first;
  }
  return first;
}

BOOL CPictureCopy::SnapWithoutLoss(const char* source, int nTurn, CRect& rcPart) {
  CLosslessTurn jpeg;
  return jpeg.Load(source) && jpeg.SnapCrop(nTurn, rcPart);
}

BOOL CPictureCopy::Write(const char* source, int nTurn, const CChoice& choice, CString& strError) {
  if (choice.bWithoutLoss) return WriteWithoutLoss(source, nTurn, choice, strError);
  vimo::convert::ScaledCopyRequest request;
  request.orientation = nTurn;
  request.left = choice.rcPart.left;
  request.top = choice.rcPart.top;
  request.width = choice.rcPart.Width();
  request.height = choice.rcPart.Height();
  request.outWidth = static_cast<unsigned>(choice.size.cx);
  request.outHeight = static_cast<unsigned>(choice.size.cy);
  request.format = LibraryName(choice.format);
  request.quality = static_cast<unsigned>(choice.nQuality);
  CLosslessTurn jpeg;
  if (jpeg.Load(source)) request.exif = UprightExifOf(jpeg, choice.size.cx, choice.size.cy);
  std::string bytes;
  std::string reason;
  if (!vimo::convert::EncodeScaledCopy(source, request, bytes, reason)) {
    strError = CString("cannot make the copy, ") + reason.c_str() + "\n" + source;
    return FALSE;
  }
  vimo::platform::ReplaceOptions options;
  options.bNoReplace = !choice.bReplace;
  if (!vimo::platform::ReplaceFileAtomically(choice.strTarget, bytes, 0666, options)) {
    strError = WriteError(choice.strTarget, errno);
    return FALSE;
  }
  return TRUE;
}
