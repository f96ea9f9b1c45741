// Where the viewer keeps the files that live "beside the executable" (the Gift settings file
// vimo.txt and the send log vimolog.txt), and whether this copy is an installed one.
//
// A build folder or a portable copy keeps them beside the executable, as the program expects.
// An installed copy (make install: the program in <prefix>/lib/vimo/ with <prefix>/bin/vimo
// leading to it) keeps them in $XDG_CONFIG_HOME/vimo/ (else ~/.config/vimo/), and so does any
// copy whose folder this user cannot write.
#pragma once

#include <string>

// True when this executable runs from an installed tree: the launcher the install puts in
// <prefix>/bin leads to this very executable.
bool IsInstalledCopy();

// The folder that stands for "the executable's folder" for vimo.txt and vimolog.txt, ending
// with '/': the executable's folder when the copy is not installed and its folder is writable;
// otherwise the user's configuration folder $XDG_CONFIG_HOME/vimo/ (else ~/.config/vimo/),
// created with mode 0700 when missing, so the sender can write its log there. Empty when there
// is no home folder to use.
std::string SettingsFolder();
