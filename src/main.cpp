// Vimo: an image viewer. Creates the application object and runs it.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/Globals.h"
#include "app/TempFiles.h"
#include "app/VimoApp.h"
#include "convert/ConvertCommand.h"
#include "convert/ImageFormat.h"
#include "win32/Kernel.h"

namespace {

constexpr const char* kUsage =
    "Usage: vimo [FILE | FOLDER]\n"
    "  or:  vimo --convert SRC DST [--colors N] [--colour-managed | --icc-target PROFILE]\n"
    "  or:  vimo --screenshot PNG [FILE]\n"
    "Shows the image FILE at its natural size; Tab and Shift+Tab step through the other\n"
    "images of its folder. With a FOLDER, shows the thumbnails of its images (Enter shows one).\n"
    "A second start with a file or folder hands it to the viewer already running.\n"
    "A FILE it does not open (x.png, a missing or unreadable file or folder, a path too long)\n"
    "ends it with exit status 1 and one line on standard error saying why. The desktop entry\n"
    "starts it as vimo --from-desktop FILE: then a file it cannot read is said in a box.\n"
    "\n"
    "Options:\n"
    "  --convert SRC DST [--colors N]  convert one image to BMP (N colours at most); exit 0\n"
    "                                  when an image was read and written, else 1 with one\n"
    "                                  line on standard error saying why. The pixels are the\n"
    "                                  ones the file stores unless one of these follows:\n"
    "    --colour-managed              turn them from the image's ICC profile (sRGB without\n"
    "                                  one; CMYK through Ghostscript's default CMYK profile)\n"
    "                                  into sRGB, as the viewer shows them on an sRGB monitor\n"
    "    --icc-target PROFILE          the same into the RGB ICC profile in the file PROFILE\n"
    "  --screenshot PNG [FILE]         run the viewer without a display, write its window as\n"
    "                                  PNG and exit; the profile is not written\n"
    "  -h, --help                      show this help and exit\n"
    "  --version                       show the version and exit\n";

// The file the command line names, as the framework takes it: the first argument that is not an
// option; NULL when there is none.
const char* FileArgument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strlen(argv[i]) > 1 && argv[i][0] == '-') continue;
    return argv[i];
  }
  return nullptr;
}

// A start whose file the viewer would refuse ends here, saying why, instead of ending silently:
// a name it does not open, and from a terminal also a file it cannot read. A start from the
// desktop has nobody reading its standard error: the viewer's own box tells what it cannot read.
bool IsRefusedStart(const char* file, bool bFromDesktop) {
  if (file == nullptr) return false;
  std::error_code error;
  // The viewer, or the viewer this start hands the file to, opens it by its full path.
  const std::filesystem::path full = std::filesystem::absolute(file, error);
  if (std::strlen(file) >= PATH_MAX || full.native().size() >= PATH_MAX) {
    std::fprintf(stderr, "vimo: path too long (at most %d bytes): %s\n", PATH_MAX - 1, file);
    return true;
  }
  // What is opened now: the profile's choice of other formats counts.
  const std::string types = JoinedImageExtensions(g_bOtherFormats != 0, "", " ");
  if (std::filesystem::is_directory(file, error)) {
    // A folder opens in the grid of its images.
    if (bFromDesktop) return false;
    const std::filesystem::directory_iterator listing(file, error);
    if (!error) return false;
    std::fprintf(stderr, "vimo: %s: %s\n", file, error.message().c_str());
    return true;
  }
  if (IsAcceptedExtension(file) == FALSE) {
    std::fprintf(stderr, "vimo: %s is not an image file this viewer opens (%s)\n", file, types.c_str());
    return true;
  }
  if (bFromDesktop) return false;
  errno = 0;
  if (std::FILE* opened = vimo::platform::OpenRegularFile(file)) {
    std::fclose(opened);
    return false;
  }
  std::fprintf(stderr, "vimo: %s: %s\n", file, errno == ENXIO ? "not a regular file" : std::strerror(errno));
  return true;
}

bool IsOption(const char* arg, const char* name) { return arg != nullptr && std::strcmp(arg, name) == 0; }

}  // namespace

int main(int argc, char** argv) {
  // Every file is written whole or not at all: a file-size limit fails a write, with a reason.
  vimo::platform::IgnoreFileSizeSignal();
  const char* first = argc >= 2 ? argv[1] : nullptr;
  if (IsOption(first, "--convert")) return ConvertCommandMain(argc - 2, argv + 2);
  if (IsOption(first, "--help") || IsOption(first, "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (IsOption(first, "--version")) {
    std::puts("Vimo Version 3.2 Build 140");
    return 0;
  }
  const bool bScreenshot = IsOption(first, "--screenshot");
  const bool bFromDesktop = IsOption(first, AFX_DESKTOP_START_OPTION);
  if (!bScreenshot && !bFromDesktop && first != nullptr && std::strncmp(first, "--", 2) == 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!bScreenshot) {
    ReadViewPreferences();
    if (IsRefusedStart(FileArgument(argc, argv), bFromDesktop)) return 1;
  }
  SetUpTempFiles();
  return bScreenshot ? RunScreenshot(argc, argv) : AfxWinMain(argc, argv);
}
