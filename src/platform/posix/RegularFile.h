// Opening a file for reading only when it is a regular file, reading it at an offset, and
// writing all of a buffer. Shared by the viewer's platform layer and the mail sender, so that both
// refuse the same files in the same way.
#pragma once

#include <sys/stat.h>
#include <sys/uio.h>

#include <cstdint>
#include <string_view>

#include "posix/UniqueFd.h"

namespace vimo::posix {

// Opens path read-only, close-on-exec, when it is a regular file (symlinks followed). Nothing
// else is opened and the open never blocks: the status is looked at before the open, so that a
// FIFO, socket or device is never opened at all, and after it, in case the name was replaced in
// between. The descriptor returned is in blocking mode; *info, when given, is the status of the
// file opened. On failure the descriptor is invalid and errno says why: ENOENT no such file,
// EISDIR a folder, ENXIO a FIFO, socket or device, else what stat or open said (ELOOP, EACCES).
UniqueFd OpenRegularFd(const char* path, struct stat* info = nullptr);

// Fills the count buffers of iov from fd, starting at offset, until they are full, the file ends
// or a read fails (interrupted reads are taken again); returns the bytes read. iov is used up on
// the way.
std::uint64_t ReadFullyAt(int fd, iovec* iov, int count, std::uint64_t offset);

// Writes all of bytes to fd at its position, taking interrupted writes again; false, with errno
// saying why, when a write fails (a part may have been written then).
bool WriteAll(int fd, std::string_view bytes);

}  // namespace vimo::posix
