// One libjpeg decompressor with the error handling every decode here uses: a fatal error jumps
// back to the one recovery point of the decode (Recovery()), warnings are not failures, and a
// progressive file may not name more than a bounded number of scans. Destroyed with its memory on
// every path.
#pragma once

// jpeglib.h needs the C declarations of size_t and FILE before it.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>

namespace vimo::convert {

class CJpegDecoder {
 public:
  // ImageMagick's JPEG reader refuses streams with this many scans; so does every decode here.
  static constexpr int kMostScans = 1024;

  CJpegDecoder() {
    m_info.err = jpeg_std_error(&m_errors.library);
    m_errors.library.error_exit = LeaveDecoder;
    m_errors.library.emit_message = IgnoreMessage;
    m_progress.progress_monitor = LimitScans;
  }
  ~CJpegDecoder() {
    if (m_created) jpeg_destroy_decompress(&m_info);
  }
  CJpegDecoder(const CJpegDecoder&) = delete;
  CJpegDecoder& operator=(const CJpegDecoder&) = delete;

  jpeg_decompress_struct& Info() { return m_info; }
  std::jmp_buf& Recovery() { return m_errors.recovery; }
  void MarkCreated() { m_created = true; }
  jpeg_progress_mgr* Progress() { return &m_progress; }
  // The message code of the fatal error that ended the decode.
  int ErrorCode() const { return m_errors.library.msg_code; }

 private:
  // libjpeg reports a fatal error by calling error_exit, which must not return.
  struct JpegErrors {
    jpeg_error_mgr library;  // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf recovery;
  };
  [[noreturn]] static void LeaveDecoder(j_common_ptr decoder) {
    std::longjmp(reinterpret_cast<JpegErrors*>(decoder->err)->recovery, 1);
  }
  static void IgnoreMessage(j_common_ptr /*decoder*/, int /*level*/) {}
  // A progressive file can name thousands of scans, each a full pass over the image.
  static void LimitScans(j_common_ptr decoder) {
    if (decoder->is_decompressor && reinterpret_cast<j_decompress_ptr>(decoder)->input_scan_number >= kMostScans)
      LeaveDecoder(decoder);
  }

  jpeg_decompress_struct m_info{};
  JpegErrors m_errors{};
  jpeg_progress_mgr m_progress{};
  bool m_created = false;
};

}  // namespace vimo::convert
