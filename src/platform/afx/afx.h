// The framework's non-window half: objects, strings, collections, threads and synchronisation,
// with the kernel stand-ins they are used with.
#pragma once

#include "afx/Collections.h"
#include "afx/Object.h"
#include "afx/String.h"
#include "afx/Sync.h"
#include "afx/WinThread.h"
#include "win32/Kernel.h"
#include "win32/WinTypes.h"
