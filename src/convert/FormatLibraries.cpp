#include "convert/FormatLibraries.h"

#include <climits>
#include <string>
#include <vector>

#include "convert/FormatModule.h"
#include "convert/PictureLimits.h"
#include "convert/RawReader.h"
#include "win32/Kernel.h"

namespace vimo::convert {

namespace {

struct LoadedModule {
  const FormatModule* module = nullptr;
  std::string error;  // why there is none
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

LoadedModule Load() {
  char exe[PATH_MAX] = {};
  if (GetModuleFileNameA(nullptr, exe, sizeof(exe)) == 0) return {nullptr, "the program's own folder is not known"};
  // Beside the program (an install, a build's own vimo), else in the folder above (a build's tests
  // and tools); always by a full path, never through the system's library search.
  std::vector<std::string> candidates;
  const std::string folder = FolderOf(exe);
  if (!folder.empty()) candidates.push_back(folder + kFormatModuleFile);
  if (const std::string above = FolderOf(folder.substr(0, folder.empty() ? 0 : folder.size() - 1)); !above.empty())
    candidates.push_back(above + kFormatModuleFile);
  if (candidates.empty()) return {nullptr, "the program's own folder is not known"};
  std::string error;
  for (const std::string& path : candidates) {
    // Kept for the life of the process: the readers it made may be anywhere.
    const HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) {
      if (error.empty()) error = vimo::platform::LastLoadError();
      continue;
    }
    const auto entry = reinterpret_cast<FormatModuleEntry>(GetProcAddress(handle, kFormatModuleEntry));
    const FormatModule* module = entry != nullptr ? entry(kFormatModuleVersion, &CheckPictureSize) : nullptr;
    if (module != nullptr) return {module, {}};
    error = path + ": not this build's module of the format libraries";
  }
  return {nullptr, error};
}

const LoadedModule& Module() {
  static const LoadedModule loaded = Load();
  return loaded;
}

ConvertOutcome Missing() {
  return picture::Undecodable("the readers of this format could not be loaded (" + Module().error + ")");
}

class CMissingPictureReader final : public CPictureReader {
 public:
  ConvertOutcome Open(std::FILE* /*file*/) override { return Missing(); }
  void Describe(ImageFacts& /*facts*/) override {}
  IccBytes Profile() override { return {}; }
  ConvertOutcome Decode(CPictureSink& /*sink*/) override { return Missing(); }
};

class CMissingRawReader final : public CRawReader {
 public:
  ConvertOutcome Open(std::FILE* /*file*/) override { return Missing(); }
  ConvertOutcome ReadPreview(std::string_view& jpeg) override {
    jpeg = {};
    return Missing();
  }
  int GetOrientation() const override { return 1; }
  void Describe(ImageFacts& /*facts*/) const override {}
};

}  // namespace

std::unique_ptr<CPictureReader> CreateLibraryReader(ImageReader reader) {
  if (const FormatModule* module = Module().module) {
    std::unique_ptr<CPictureReader> made(module->createPicture(reader));
    if (made) return made;
  }
  return std::make_unique<CMissingPictureReader>();
}

std::unique_ptr<CRawReader> CRawReader::Create() {
  if (const FormatModule* module = Module().module) {
    std::unique_ptr<CRawReader> made(module->createRaw());
    if (made) return made;
  }
  return std::make_unique<CMissingRawReader>();
}

}  // namespace vimo::convert
