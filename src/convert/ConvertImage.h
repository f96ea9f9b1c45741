// Converts one JPEG, GIF or Photo CD file into a BMP file; PNG, WebP, TIFF, HEIC and AVIF files
// too once the user has chosen so.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <future>
#include <vector>

// Whether conversions also read PNG, WebP, TIFF, HEIC and AVIF files (through the image
// library's own readers, chosen by the file's content like the others), and the colour
// (0x00BBGGRR) their transparent parts are laid on. Set by the user-interface thread whenever
// the choice changes; a conversion takes both once, when it starts.
void SetConvertOtherFormats(bool read, std::uint32_t background);
bool IsConvertingOtherFormats();

// The image library's name of the format the file's content shows (its first bytes): "GIF",
// "JPEG", "PCD", and with otherFormats "PNG", "WEBP", "TIFF", "HEIC"; empty for any other.
std::string ContentFormatOf(std::FILE* file, bool otherFormats);

// Reads every image of src (the reader chosen by the file's content), optionally reduces each
// to at most `colours` colours, and writes them back to back as BMP images into dst when dst's
// name ends in a BMP format name (".bmp"); any other name writes nothing. dst is written as a
// fresh file beside it, renamed over it once whole; where dst is a symlink, the file it names is
// replaced so, and the link stays. Returns 1 when at least one image was read and dst was written
// whole (or, for a name that is not a BMP name, nothing needed writing); 0 otherwise: no image
// could be read, or dst could not be written whole, and then dst (an existing file, a link and
// its file, or no file) is as it was. Paths are at most 2047 bytes.
// Runs on the conversion worker, one call at a time: not reentrant.
int ConvertImage(const char* src, const char* dst, int colours);

// Why a conversion wrote its file, or did not.
enum class ConvertStatus {
  kWritten,        // what ConvertImage reports as 1
  kNoImage,        // no image could be read from the source
  kTooLarge,       // an image's BMP would outgrow the 4 GiB its size fields can say; bytes: its size
  kNoSpace,        // the destination's file system cannot hold it; bytes: needed, limit: free
  kWriteFailed,    // a write to the destination failed; error: its errno
  kDecoderMemory,  // a progressive (multi-scan) JPEG whose coefficients outgrow the decoder's
                   // memory; bytes: needed, limit: what the decoder may use
  kCutShort,       // a JPEG far too short for the size it declares: it cannot hold one bit for each
                   // 8 x 8 block; bytes: the file's size, limit: the least that size needs
  kGifCodeSize,    // a GIF whose first frame's LZW minimum code size the reader cannot decode
                   // (below 2 or above 11); bytes: that code size, limit: 11
  kTooManyPixels,  // a picture with more pixels than a decoder may take; bytes: its pixels, limit
  kPictureMemory,  // a picture whose decoding needs more memory than a decoder may use; bytes, limit
  kUndecodable,    // its format's library cannot decode it (damaged, cut short, a RAW file without
                   // a JPEG preview); reason: why, in that library's words where it has some
};

struct ConvertOutcome {
  ConvertStatus status = ConvertStatus::kNoImage;
  std::uint64_t bytes = 0;
  std::uint64_t limit = 0;
  int error = 0;
  std::string reason = std::string();
};

// What a conversion does beyond the plain call.
struct ConvertOptions {
  // Managed colours: the ICC profile (its bytes; empty for sRGB) the pixels are turned into from
  // each image's own profile (sRGB when it has none). Null: the pixels the file stores.
  std::shared_ptr<const std::vector<std::uint8_t>> colourTarget;
  // The viewer's own file, which exists only to be shown: a GIF frame with a see-through colour
  // is written at 8 bits per pixel with that colour's table index kept, and an animated GIF's
  // images (or a still one's with see-through parts) are followed by how they play (GifTiming.h's
  // record), so nothing reads the GIF again; the other formats' animations and see-through
  // pictures likewise (PictureWriter.h).
  bool forViewing = false;
};

// Whether a conversion into dst writes a BMP file there (its name ends in a BMP format name).
bool WritesBmp(const char* dst);

// ConvertImage with the reason: status kWritten exactly when ConvertImage would return 1.
ConvertOutcome ConvertImageEx(const char* src, const char* dst, int colours, const ConvertOptions& options = {});

// The viewer's conversion into its temporary BMP file: ConvertImageEx for viewing, its colours
// managed as SetViewingColours last said (by default they are not). Returns 1 or 0 as
// ConvertImage does. Runs on the conversion worker, one call at a time.
int ConvertForViewing(const char* src, const char* dst, int colours);
// The colour target ConvertForViewing turns colours into now: null while colours are not
// managed, else the target profile's bytes (empty for sRGB). Waits for a profile still being read.
std::shared_ptr<const std::vector<std::uint8_t>> ViewingColourTarget();

// Whether the viewer's conversions manage colours, and into which profile (the monitor's ICC
// bytes; empty for sRGB), which may still be being read: the first managed conversion waits for
// it. Set by the user-interface thread; a conversion takes it when it starts.
void SetViewingColours(bool managed, std::shared_future<std::vector<std::uint8_t>> monitorProfile);
void SetViewingColours(bool managed, std::vector<std::uint8_t> monitorProfile);

// The format the first bytes of file name ("GIF", "JPEG", "PCD", "PNG", "WEBP", "TIFF", "HEIC"),
// or an empty string; the file is read from its start.
std::string ImageFormatOf(std::FILE* file);

struct _Image;
struct _ExceptionInfo;
namespace vimo::convert {
// Reads every image of src as a conversion reads it (the reader chosen by the file's content, the
// images in RGB), into the image library's list; nullptr when none could be read. The image
// library must be started.
_Image* ReadSourceImages(const char* src, _ExceptionInfo* exception);
}  // namespace vimo::convert
