// Ctrl-C: the SIGINT handler, the watcher thread that cancels a running statement, and the flag; and the
// wake-ups of a reader that waits on the terminal (a continue after a stop, a resized window).
#include "input/interrupt.h"

#include <sqlext.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "display/output.h"

namespace {

volatile sig_atomic_t gInterrupted = 0;   // Ctrl-C seen and not yet dealt with
volatile sig_atomic_t gEndsProcess = 1;   // not in the session's loop: the next Ctrl-C ends the process
volatile sig_atomic_t gContinued = 0;     // the process was stopped and continued
volatile sig_atomic_t gResized = 0;       // the window changed size
volatile sig_atomic_t gPasteBracketed = 0; // the terminal brackets pasted text (ESC[?2004h was written)
int gWatchPipe[2] = {-1, -1};             // the handler's byte for the watcher thread
int gWakePipe[2] = {-1, -1};              // the handler's byte for a reader waiting on the terminal

void WriteByte(int fd, char byte) {
  // The pipes do not block: a full pipe already holds a wake-up.
  if (write(fd, &byte, 1) < 0) return;
}

void OnInterrupt(int) {
  int savedErrno = errno;
  if (gEndsProcess) {
    signal(SIGINT, SIG_DFL);
    raise(SIGINT);
  }
  gInterrupted = 1;
  WriteByte(gWatchPipe[1], 'I');
  WriteByte(gWakePipe[1], 'I');
  errno = savedErrno;
}

void OnContinue(int) {
  int savedErrno = errno;
  gContinued = 1;
  WriteByte(gWakePipe[1], 'C');
  errno = savedErrno;
}

void OnResize(int) {
  int savedErrno = errno;
  gResized = 1;
  WriteByte(gWakePipe[1], 'W');
  errno = savedErrno;
}

constexpr char PASTE_ON[] = "\x1b[?2004h";   // the terminal brackets pasted text
constexpr char PASTE_OFF[] = "\x1b[?2004l";  // it no longer does

void WriteTerminal(const char* text, size_t length) {
  if (write(STDOUT_FILENO, text, length) < 0) return;  // a terminal gone: nothing to restore
}

// Ctrl-Z: the shell gets the terminal without bracketed paste, and the console gets it back with it.
void OnStop(int) {
  int savedErrno = errno;
  bool fBracketed = gPasteBracketed != 0;
  if (fBracketed) WriteTerminal(PASTE_OFF, sizeof PASTE_OFF - 1);
  signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  raise(SIGTSTP);
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);  // the process stops here, and goes on after a continue
  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTSTP, &action, nullptr);
  if (fBracketed) WriteTerminal(PASTE_ON, sizeof PASTE_ON - 1);
  errno = savedErrno;
}

void InstallInterruptHandler(bool fRestart) {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = fRestart ? SA_RESTART : 0;
  sigaction(SIGINT, &action, nullptr);
}

// The watcher: at each Ctrl-C, cancels the statement that is executing, if one is.
void WatchInterrupts(Canceller* canceller) {
  for (;;) {
    char byte;
    ssize_t n = read(gWatchPipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    CancelExecuting(*canceller);
  }
}

bool MakePipe(int fds[2]) {
  if (pipe(fds) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    fcntl(fds[i], F_SETFL, O_NONBLOCK);
  }
  return true;
}

}  // namespace

void InitInterrupts(Canceller& canceller) {
  if (!MakePipe(gWatchPipe) || !MakePipe(gWakePipe)) return;  // without pipes Ctrl-C keeps its default
  fcntl(gWatchPipe[0], F_SETFL, 0);
  // The watcher starts with SIGINT blocked, so the handler always runs on the main thread.
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGCONT);
  sigaddset(&blocked, SIGWINCH);
  sigaddset(&blocked, SIGTSTP);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  std::thread(WatchInterrupts, &canceller).detach();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  InstallInterruptHandler(true);
  struct sigaction action = {};
  action.sa_handler = OnContinue;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGCONT, &action, nullptr);
  action.sa_handler = OnResize;
  sigaction(SIGWINCH, &action, nullptr);
  action.sa_handler = OnStop;
  sigaction(SIGTSTP, &action, nullptr);
}

bool InterruptRequested() { return gInterrupted != 0; }

void ClearInterrupt() { gInterrupted = 0; }

void SetReadsInterruptible(bool fInterruptible) {
  if (gWatchPipe[0] >= 0) InstallInterruptHandler(!fInterruptible);
}

void SetInterruptEndsProcess(bool fEndsProcess) { gEndsProcess = fEndsProcess ? 1 : 0; }

int WakeupDescriptor() { return gWakePipe[0]; }

Wakeups DrainWakeups() {
  char bytes[64];
  while (gWakePipe[0] >= 0 && read(gWakePipe[0], bytes, sizeof bytes) > 0) {
  }
  Wakeups wakeups = {gContinued != 0, gResized != 0};
  gContinued = 0;
  gResized = 0;
  return wakeups;
}

void WaitForTerminalLine(void (*showAgain)(void*), void* context) {
  if (gWakePipe[0] < 0) return;
  // A stop before the prompt was shown needs no second one; a new size is left for the line editor.
  bool fResized = DrainWakeups().fResized;
  for (;;) {
    if (InterruptRequested()) break;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {gWakePipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if ((fds[1].revents & POLLIN) != 0) {
      Wakeups wakeups = DrainWakeups();
      fResized = fResized || wakeups.fResized;
      if (wakeups.fContinued) showAgain(context);
    }
    if (fds[0].revents != 0) break;
  }
  if (fResized) gResized = 1;
}

void SetBracketedPaste(bool fOn) {
  if ((gPasteBracketed != 0) == fOn || !isatty(STDOUT_FILENO)) return;
  OutFlush();
  gPasteBracketed = fOn ? 1 : 0;
  if (fOn) {
    WriteTerminal(PASTE_ON, sizeof PASTE_ON - 1);
  } else {
    WriteTerminal(PASTE_OFF, sizeof PASTE_OFF - 1);
  }
}

void SetInterruptIgnored(bool fIgnored) {
  if (fIgnored) {
    signal(SIGINT, SIG_IGN);
  } else if (gWatchPipe[0] >= 0) {
    InstallInterruptHandler(true);
  } else {
    signal(SIGINT, SIG_DFL);
  }
}
