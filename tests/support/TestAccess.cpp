#include "support/TestAccess.h"

#include "convert/ConvertImage.h"
#include "win32/ModulePath.h"

void AfxTestAccess::SetConvertFunction(CMultiThread::ConvertFunction function) {
  CMultiThread::s_pfnConvert = function != nullptr ? function : &ConvertImage;
}

void AfxTestAccess::SetExecutablePath(const char* path) { vimo::platform::SetModulePathOverride(path); }
