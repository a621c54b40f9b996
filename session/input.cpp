// Plain line input: statements from a script or a terminal without the editor, and replies at a pause.
#include "session/input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <unistd.h>

#include "session/interrupt.h"

namespace {

bool gInputEnded = false;  // end of input seen: later reads return at once

// Reads one line of the terminal a byte at a time: nothing past its newline is taken.
InputResult ReadTerminalLine(std::string& line) {
  line.clear();
  for (;;) {
    if (InterruptRequested()) return InputResult::Interrupted;
    // Ctrl-C must end a read that waits on the terminal, not restart it.
    SetReadsInterruptible(true);
    char byte;
    ssize_t count = read(STDIN_FILENO, &byte, 1);
    int readErrno = errno;
    SetReadsInterruptible(false);
    if (count == 1) {
      if (byte == '\n') return InputResult::Line;
      line += byte;
      continue;
    }
    if (count < 0 && readErrno == EINTR) continue;
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
