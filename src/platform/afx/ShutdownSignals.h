// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in a terminal) end the viewer the way
// closing its window does: the frame is closed through the event loop, so the document tears
// down, the worker is joined, converted files are deleted and the private folder goes. A second
// signal of the same kind ends the process at once. Signals ignored at start (nohup) stay so.
#pragma once

// Starts catching the signals. They are handled through the event loop: a signal caught before
// the Qt application exists waits until a call made once it exists watches for it.
void AfxCatchShutdownSignals();

// After the program has wound down: when a signal asked it to end, ends the process by that
// signal (its default action), so whoever started it sees how it ended. Otherwise returns.
void AfxRaiseShutdownSignal();
