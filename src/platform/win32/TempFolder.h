// "The temporary folder" of this process (what GetTempPathA gives): a private folder
// <prefix><pid>-XXXXXX/ (mode 0700), made with mkdtemp on first use in the first root that takes
// it. It holds a lock file that the process keeps locked (flock) for its whole life; that lock,
// not the process id, tells other processes of the program that the folder is in use, so one in
// another PID namespace (a container, a sandbox) sharing the root keeps its files.
//
// Which roots, which names and which files are leftovers is the program's rule, set once at
// start. Without one the folder is named after the executable, in $TMPDIR (else /tmp), and the
// clean-ups take nothing but empty folders.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vimo::platform {

struct PrivateFolderRule {
  std::vector<std::string> roots;  // tried in order, then $TMPDIR (else /tmp), then /tmp
  std::string prefix;              // folders are <prefix><pid>-XXXXXX
  std::string lockName;            // the lock file in each folder
  std::function<bool(const char* name)> isLeftover;  // files a clean-up may delete
};

// Sets the rule. Call at start-up, before the folder is first used and before any thread starts.
void SetPrivateFolderRule(PrivateFolderRule rule);

// The private folder, ending with '/', made on first use; empty when no root takes it.
std::string PrivateFolder();

// Cleans what processes that are gone left in root: each folder of this user named as the rule
// names them (<prefix><pid>-XXXXXX, never through a symlink) whose lock can be taken (or, for a
// folder from before the lock existed, whose process id is not running) loses its leftovers,
// then goes when nothing else is left. The rule's roots are not used.
void CleanAbandonedFolders(const std::string& root, const PrivateFolderRule& rule);

// At exit, after the program's teardown: this process's folder loses its leftovers and goes when
// nothing else is left (a later use makes a new one).
void RemovePrivateFolder();

// $TMPDIR, else /tmp, without a trailing '/'.
std::string TempBase();

// Whether path lies on tmpfs, where files take memory.
bool IsOnTmpfs(const std::string& path);

}  // namespace vimo::platform
