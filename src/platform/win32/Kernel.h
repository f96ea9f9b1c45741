// Kernel and C runtime stand-ins: temporary files, file copies, directory search, processes.
//
// "The temporary folder" is a private folder of this process (win32/TempFolder.h): two running
// processes never share their files, and nothing is written under a predictable name in a
// shared folder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "win32/WinTypes.h"

// Fills buffer with the private temporary directory, ending with '/'. Returns the length
// written, or the size needed (with its NUL) when the buffer is too small, or 0 on failure.
DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);

// Creates a new empty file named prefix + unique part in pathName and writes its full path
// into tempFileName (MAX_PATH bytes). Returns nonzero on success, 0 on failure.
UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName);

// Copies a file byte for byte. Fails (FALSE) when the source is not a regular file or cannot be
// read (its open never blocks), when bFailIfExists is set and the destination exists, or when
// source and destination are the same file.
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL DeleteFileA(LPCSTR lpFileName);

// Directory search. The pattern's folder part is listed once, when the search starts, and the
// entries come sorted by name as a Linux file manager sorts them: letters compared without
// case, digit runs by their value (img2 before img10), the raw bytes deciding ties. "*.*" and
// "*" match every entry. Attributes: FILE_ATTRIBUTE_DIRECTORY for a folder,
// FILE_ATTRIBUTE_NORMAL for a regular file, FILE_ATTRIBUTE_DEVICE for anything else (FIFO,
// socket, device, a symlink that is broken, loops or leads to one of those); symlinks are
// judged by what they lead to. Sizes are not filled in.
// Returns INVALID_HANDLE_VALUE when the folder cannot be listed or holds no matching entry.
HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// A file's attributes (as the search gives them), size and times, symlinks followed. The
// creation time is the time of its last status change (Linux keeps no other). FALSE when there
// is no such file.
BOOL GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation);

// A file time in the local time zone's calendar (daylight saving as it was at that time).
// Thread-safe. FALSE when the time lies outside what the calendar can hold.
BOOL FileTimeToLocalSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpLocalTime);

void Sleep(DWORD dwMilliseconds);

// The executable's full path (hModule must be NULL). Returns its length, 0 on failure.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// Loads the shared object at lpLibFileName (all its symbols bound now, none made global) for the
// life of the process; NULL when it cannot be, vimo::platform::LastLoadError saying why.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// The address of the function lpProcName exports from hModule; NULL when it has none.
void* GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// Sets an environment variable of this process (lpValue NULL removes it). Changes the
// environment: call at start-up, before any thread starts.
BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue);

// Starts a program without a shell, as StartCommandLine does, and leaves it to itself. Returns 33
// when the program was started, 2 when it was not found or could not be started.
UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow);

// C runtime names that standard C lacks.
struct _stat {
  std::int64_t st_size;
  std::uint32_t st_mode;
};
int _stat(const char* path, struct _stat* buffer);
// The file-type bits of st_mode.
inline constexpr std::uint32_t _S_IFMT = 0xF000;
inline constexpr std::uint32_t _S_IFDIR = 0x4000;
inline constexpr std::uint32_t _S_IFREG = 0x8000;
char* _itoa(int value, char* buffer, int radix);
int _mbscmp(const unsigned char* string1, const unsigned char* string2);

namespace vimo::platform {

// Why the last LoadLibraryA or GetProcAddress of this thread failed, in the loader's words.
std::string LastLoadError();

// Starts a program without a shell (posix_spawn): the command line is split into its words as
// SplitCommandLine says, and the words are passed byte for byte; a bare program name is searched
// in the executable's folder first, then in PATH. The program gets no input, no descriptor of
// this process beyond the standard ones, default signal handling and a session of its own.
// Returns 33 and the process id in *pPid when it was started (the caller reaps it), 2 when it
// was not found or could not be started.
UINT StartCommandLine(const char* cmdLine, long* pPid);

// The words of a command line, split as Windows splits one: blanks and TABs separate words
// except between double quotes, which group and are dropped ("" is an empty word); backslashes
// are literal except before a double quote, where 2n of them give n backslashes and a grouping
// quote, and 2n+1 give n backslashes and a literal quote. Other bytes pass unchanged.
std::vector<std::string> SplitCommandLine(const char* cmdLine);

// argument quoted for a command line, so that SplitCommandLine gives it back as one word, byte
// for byte, whatever blanks, TABs, quotes or backslashes it holds.
std::string QuoteCommandLineArgument(const char* argument);

// Opens path for reading ("rb") only when it is a regular file, symlinks followed. Nothing
// else is opened, and the open never blocks: a FIFO, socket or device named like an image gives
// nullptr with errno ENXIO, a folder nullptr with errno EISDIR.
std::FILE* OpenRegularFile(const char* path);

// Creates a new empty file (mode 0600) in folder (which ends with '/') under a name no other
// file has, ending in suffix, and returns its path; empty on failure, errno saying why
// (ENAMETOOLONG: the name would be too long for the folder's file system). For writing a file
// completely before renaming it over its real name.
std::string CreateFreshFile(const std::string& folder, const char* suffix);

// The file path names once its symlinks are followed (a relative link read from its own folder):
// where a new version of it is to be renamed, so that a link stays a link and the file it names
// is replaced. path itself when it is no symlink, or names nothing yet; for a link to nothing,
// the path it names. Empty, with errno ELOOP, for a chain of links that does not end.
std::string FollowLinks(const char* path);

// Creates a fresh, empty file beside target (a path as FollowLinks gives it) for a new version of
// it, written whole and then renamed over it: with target's mode when target is a regular file,
// else with a new file's (0666 less the umask). Its name ends with "-" and target's name, or with
// target's extension only where that would be too long a name. Returns its path; empty, with
// errno saying why, when none can be made (ENXIO: target exists and is no regular file).
std::string CreateFreshFileFor(const std::string& target);

// From now on a write past the file-size limit (RLIMIT_FSIZE) fails with EFBIG, as a full disk
// does, instead of ending the process with half a file written.
void IgnoreFileSizeSignal();

// The bytes this process may still write on the file system that holds path (an existing file
// or folder); UINT64_MAX when that cannot be told, so that a caller never refuses for lack of it.
std::uint64_t FreeBytesAt(const char* path);

// Removes the file's name at once, as std::remove does (0, or -1 with errno), and lets go of the
// file itself on a thread of its own: freeing the cached pages of a large file takes tens of
// milliseconds that the caller need not wait for.
int RemoveFileReleasingLater(const char* path);

// Lowers the calling thread's priority by nNiceness steps (to the lowest at most), for work that
// waits behind what the user waits for. Refused quietly where the system forbids it.
void LowerThreadPriority(int nNiceness);

// Starts listing the folder of a search pattern (as FindFirstFileA takes it) on a thread of its
// own, so that a search of it that starts soon finds it listed and sorted. The next search to
// start takes that listing when its pattern is the same (waiting for it if need be) and drops it
// otherwise: a listing made ahead is never used later than by the search after it.
void ListFolderAhead(LPCSTR lpFileName);

// Takes the search back to its first entry, on the listing it took when it started: the next
// FindNextFileA gives that entry again, and the folder is not read again. FALSE for a handle
// that is not an open search.
BOOL FindRewind(HANDLE hFindFile);

// The folder of the executable, ending with '/'.
std::string ExecutableFolder();

}  // namespace vimo::platform
