// The Image Gift settings file "vimo.txt": five mail settings as tab-marked keys.
//
//   "\tServer\t" server CR LF
//   "\tTo" CR LF  recipients (CR LF between them) CR LF CR LF
//   "\tFrom\t" sender CR LF
//   "\tSubject\t" subject CR LF
//   "\tBody" CR LF  body, unchanged, to the end of the file
#pragma once

// Writes the five global settings to path, replacing the file whole: a new file is written
// beside it and renamed over it, so a failed write leaves the old file as it was. A new file
// gets mode 0600 (the server can carry a password); an existing one keeps its mode. Failures
// are silent: this run's changes are then lost.
void WriteGiftSettings(const char* path);

// Reads path into the five global settings. A missing file leaves them as they are; lines
// that are not recognised are skipped, so a damaged file yields whatever its keys give.
void ReadGiftSettings(const char* path);
