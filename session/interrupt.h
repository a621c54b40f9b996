// Ctrl-C: the SIGINT handler, the watcher thread that cancels a running statement, and the flag.
#pragma once

#include <sql.h>

// Installs the SIGINT, SIGCONT and SIGWINCH handlers and starts the watcher thread. Call once, before any
// statement.
void InitInterrupts();

// True once Ctrl-C was pressed and not yet cleared.
bool InterruptRequested();

// Clears the flag: the interrupt has been dealt with.
void ClearInterrupt();

// Makes reads of the terminal or a pipe return with EINTR at Ctrl-C (true), or restart them (false, the
// default, so that no driver call is cut short by a signal).
void SetReadsInterruptible(bool fInterruptible);

// Marks the start and the end of a statement's execution: in between, Ctrl-C calls SQLCancel on lpStmt.
// SQLCancel never runs outside that span, so it never overlaps a fetch, a free or a disconnect.
void BeginCancellableCall(SQLHSTMT lpStmt);
void EndCancellableCall();

// Whether Ctrl-C during a statement's execution calls SQLCancel (true, the default). Set it to false for a
// driver that a concurrent SQLCancel crashes: Ctrl-C then only says, once a statement, that the statement
// runs to its end and its result is discarded.
void SetConcurrentCancel(bool fConcurrentCancel);

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
