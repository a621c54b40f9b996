// Plain line input: statements from a script or a terminal without the editor, and replies at a pause.
#include "session/input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <unistd.h>

#include "session/interrupt.h"

namespace {

bool gInputEnded = false;  // end of input seen: later reads return at once
int gTerminalReader = -2;  // a non-blocking description of the terminal on standard input; -2 until opened

// How long a wait for a key lasts before the flags are looked at again, in milliseconds.
constexpr int KEY_WAIT_MS = 100;

// Reads one line of the terminal a byte at a time: nothing past its newline is taken.
InputResult ReadTerminalLine(std::string& line) {
  line.clear();
  for (;;) {
    if (InterruptRequested()) return InputResult::Interrupted;
    // Ctrl-C ends the wait (the timeout bounds it should the signal come just before it).
    SetReadsInterruptible(true);
    pollfd fd = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&fd, 1, KEY_WAIT_MS);
    SetReadsInterruptible(false);
    if (ready <= 0) continue;
    unsigned char byte;
    int got = ReadTerminalByteNow(&byte);
    if (got == 0) continue;
    if (got == 1) {
      if (byte == '\n') return InputResult::Line;
      line += static_cast<char>(byte);
      continue;
    }
    // End of input; a last line without its newline is still a line.
    if (!line.empty()) return InputResult::Line;
    gInputEnded = true;
    return InputResult::End;
  }
}

// Reads one line of a script through stdio's buffer, getline's buffer kept and grown across calls.
InputResult ReadBufferedLine(std::string& line) {
  static char* lineBuffer = nullptr;
  static size_t lineCapacity = 0;
  ssize_t length;
  for (;;) {
    if (InterruptRequested()) return InputResult::Interrupted;
    // Ctrl-C must end a read that waits on a pipe, not restart it.
    SetReadsInterruptible(true);
    errno = 0;
    length = getline(&lineBuffer, &lineCapacity, stdin);
    int readErrno = errno;
    SetReadsInterruptible(false);
    if (length >= 0 || readErrno != EINTR) {
      errno = readErrno;
      break;
    }
    clearerr(stdin);  // an interrupted read is no end of input
  }
  if (length < 0) {
    if (errno == ENOMEM) throw std::bad_alloc();  // main ends the session
    gInputEnded = true;
    return InputResult::End;
  }
  if (length > 0 && lineBuffer[length - 1] == '\n') --length;
  line.assign(lineBuffer, static_cast<size_t>(length));
  return InputResult::Line;
}

}  // namespace

InputResult ReadInputLine(std::string& line) {
  // Once input has ended nothing is read, so nothing need be on the screen first: a long listing
  // redirected with input at its end is not cut into a write per page.
  if (gInputEnded) return InputResult::End;
  OutFlush();
  return StdinIsTerminal() ? ReadTerminalLine(line) : ReadBufferedLine(line);
}

bool InputEnded() { return gInputEnded; }

void EndInput() { gInputEnded = true; }

int ReadTerminalByteNow(unsigned char* byte) {
  // A description of its own, opened again on the same terminal, can be non-blocking without changing
  // standard input for the processes that share it.
  if (gTerminalReader == -2) gTerminalReader = open("/proc/self/fd/0", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (gTerminalReader < 0) {
    // Without one, a byte that poll saw is read with a read that may wait.
    ssize_t count = read(STDIN_FILENO, byte, 1);
    if (count == 1) return 1;
    return count < 0 && errno == EINTR ? 0 : -1;
  }
  ssize_t count = read(gTerminalReader, byte, 1);
  if (count == 1) return 1;
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;
}
