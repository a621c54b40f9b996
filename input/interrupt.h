// Ctrl-C: the SIGINT handler, the watcher thread that cancels a running statement, and the flag.
#pragma once

#include "odbc/cancel.h"

// Installs the SIGINT, SIGCONT and SIGWINCH handlers and starts the watcher thread, which cancels what
// `canceller` says is executing. Call once, before any statement; the canceller lives as long as the process.
void InitInterrupts(Canceller& canceller);

// True once Ctrl-C was pressed and not yet cleared.
bool InterruptRequested();

// Clears the flag: the interrupt has been dealt with.
void ClearInterrupt();

// Makes reads of the terminal or a pipe return with EINTR at Ctrl-C (true), or restart them (false, the
// default, so that no driver call is cut short by a signal).
void SetReadsInterruptible(bool fInterruptible);

// Whether a Ctrl-C ends the process at once: before the session is ready (a connection that hangs) and
// while it shuts down, there is nothing to cancel and nothing to go back to. True from the start.
void SetInterruptEndsProcess(bool fEndsProcess);

// What woke a reader that waits on the terminal, since the last DrainWakeups.
struct Wakeups {
  bool fContinued;  // the process continued after a stop: what it showed must be shown again
  bool fResized;    // the window changed size
};

// A descriptor that becomes readable at Ctrl-C, when the process continues after a stop, or when the window
// changes size, for a reader that waits on the terminal; DrainWakeups empties it and says what happened.
int WakeupDescriptor();
Wakeups DrainWakeups();

// Waits until a line can be read from the terminal without blocking, or Ctrl-C; when the process is
// stopped and continued meanwhile, calls showAgain, which writes again what the reader had shown.
void WaitForTerminalLine(void (*showAgain)(void*), void* context);

// Turns the terminal's bracketed paste on or off: while on, a pasted block comes between ESC[200~ and
// ESC[201~, told from keys typed. It is off while the process is stopped (Ctrl-Z) and on again after.
void SetBracketedPaste(bool fOn);

// Ignores Ctrl-C (true) while another program has the terminal, as an editor run by \e does, or takes it
// again (false).
void SetInterruptIgnored(bool fIgnored);
