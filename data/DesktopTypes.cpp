// Build tool: fills the desktop entry's and the AppStream file's lists of media types from the
// formats the viewer opens (all of them, those behind 他の形式も開く included), so that a file
// manager offers Vimo for each.
//   vimo-desktop-types IN OUT   copies IN to OUT with %MIME_TYPES% as "type;type;..." and
//                               %MEDIA_TYPES% as <mediatype> elements, one a line
#include <QMimeDatabase>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "convert/ImageFormat.h"

namespace {

// The types of the formats' extensions, as the desktop's MIME database names them, each once,
// in the file dialogs' order; an extension the database does not know is left out.
std::vector<std::string> MediaTypes() {
  std::istringstream extensions(JoinedImageExtensions(true, "x", " "));
  const QMimeDatabase database;
  std::vector<std::string> types;
  for (std::string name; extensions >> name;) {
    const QMimeType type = database.mimeTypeForFile(QString::fromStdString(name), QMimeDatabase::MatchExtension);
    const std::string text = type.name().toStdString();
    if (type.isDefault() || std::find(types.begin(), types.end(), text) != types.end()) continue;
    types.push_back(text);
  }
  return types;
}

void Replace(std::string& text, const std::string& mark, const std::string& with) {
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + with.size()))
    text.replace(at, mark.size(), with);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) return 1;
  std::string mimeTypes;
  std::string mediaTypes;
  for (const std::string& type : MediaTypes()) {
    mimeTypes += type + ";";
    mediaTypes += (mediaTypes.empty() ? "" : "\n    ") + std::string("<mediatype>") + type + "</mediatype>";
  }
  Replace(text, "%MIME_TYPES%", mimeTypes);
  Replace(text, "%MEDIA_TYPES%", mediaTypes);
  std::ofstream out(argv[2], std::ios::binary);
  out << text;
  out.close();
  return out ? 0 : 1;
}
