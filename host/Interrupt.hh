// SIGINT, SIGTERM and SIGHUP as script events: a script that catches them
// is stopped where it can clean up instead of being killed.
#pragma once

#include "lua/lua.h"

namespace tolm {

// Tolm.catchSignals(handler): with a function, the three signals no longer
// end the process. The first one is kept for the script: code running
// inside Tolm.interruptible raises "interrupted", and a run loop that waits
// calls handler(signal) (one of the two, once). Later signals are ignored
// until Tolm.catchSignals(nil) gives them back their former action; a
// signal the script never took then ends the process as it would have.
// Signals ignored when the process started stay ignored.
//
// Tolm.catchSignals(handler, stopLine): the same, and the script promises
// to end within two seconds of a signal. Native work that never looks at
// the signal (a library stuck in one huge image) cannot keep that promise
// for it: when the script has not taken the signal (Tolm.interruptible
// raising, or the handler called) within 0.8 seconds, every temporary file
// of the process is removed (FileOut), stopLine followed by "interrupted:
// nothing written" (or "interrupted: wrote A, B, nothing else", naming the
// files put in place since) goes to standard error and the process ends
// with status 128 + signal. One that took the signal and has not ended
// 1.5 seconds after it ends the same way, without the line.
int catchSignals(lua_State* L);

// Tolm.interruptible(f, ...): pcall(f, ...), and while f runs a caught
// signal interrupts it. After a failure the results are false, the error
// and, when a caught signal was pending, its number (the signal is then
// the caller's to handle: nothing else hears of it).
int interruptible(lua_State* L);

// Tolm.interruptionPoint(): inside Tolm.interruptible, raises "interrupted"
// now when a caught signal is pending (before a step that must not start
// once the user asked to stop); otherwise does nothing.
int interruptionPoint(lua_State* L);

} // namespace tolm

namespace host {

// Lets go of the signals and of the script's handler (before the state
// closes and the renderer goes). Returns the signal the script never took
// (0 for none), now with its former action: the caller raises it once the
// state is closed.
int releaseSignals();

// The signal caught for the script and not yet taken while script code
// runs inside Tolm.interruptible (which the signal is to interrupt), or 0.
// Native work that may run long (a PDF page being drawn) looks at it (on
// the script's thread) and stops early: the script then meets the signal
// at its next instruction.
int signalPending();

} // namespace host
