#include "support/TestAccess.h"

#include "convert/ConvertImage.h"
#include "win32/ModulePath.h"

void AfxTestAccess::SetConvertFunction(CMultiThread::ConvertFunction function) {
  CMultiThread::s_pfnConvert = function != nullptr ? function : &ConvertForViewing;
}

namespace {

CEvent g_conversionsReleased(TRUE, TRUE);

int HeldConvert(const char* src, const char* dst, int colours) {
  CSingleLock wait(&g_conversionsReleased, TRUE);
  return ConvertForViewing(src, dst, colours);
}

}  // namespace

void AfxTestAccess::HoldConversions(BOOL bHold) {
  if (!bHold) {
    g_conversionsReleased.SetEvent();
    return;
  }
  g_conversionsReleased.ResetEvent();
  SetConvertFunction(&HeldConvert);
}

void AfxTestAccess::WaitForConversionAhead() { CMultiThread::WaitForConversionAhead(); }

void AfxTestAccess::SetExecutablePath(const char* path) { vimo::platform::SetModulePathOverride(path); }
