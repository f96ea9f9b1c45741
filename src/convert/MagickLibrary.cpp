#include "convert/MagickLibrary.h"

namespace vimo::convert {
namespace {

void IgnoreReport(const ExceptionType /*severity*/, const char* /*reason*/, const char* /*description*/) {}

// Lives from the first conversion to the end of the process; its construction is the
// thread-safe one-time start of the library.
class CMagickLibrary {
 public:
  CMagickLibrary() {
    MagickCoreGenesis(nullptr, MagickFalse);  // the program keeps its own signal handling
    SetWarningHandler(IgnoreReport);
    SetErrorHandler(IgnoreReport);
  }
  ~CMagickLibrary() { MagickCoreTerminus(); }
  CMagickLibrary(const CMagickLibrary&) = delete;
  CMagickLibrary& operator=(const CMagickLibrary&) = delete;
};

}  // namespace

void EnsureImageLibrary() {
  static const CMagickLibrary library;
}

}  // namespace vimo::convert
