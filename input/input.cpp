// Plain line input: statements from a script or a terminal without the editor, and replies at a pause.
#include "input/input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <string_view>
#include <unistd.h>

#include "input/interrupt.h"

namespace {

constexpr size_t READ_CHUNK = 64 * 1024;  // bytes a read of a file or a pipe asks for

// How long a wait for a key lasts before the flags are looked at again, in milliseconds.
constexpr int KEY_WAIT_MS = 100;

// Reads one line of the terminal a byte at a time: nothing past its newline is taken.
InputResult ReadTerminalLine(Input& input, std::string& line) {
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
    int got = ReadTerminalByteNow(input, &byte);
    if (got == 0) continue;
    if (got == 1) {
      if (byte == '\n') return InputResult::Line;
      line += static_cast<char>(byte);
      continue;
    }
    // End of input; a last line without its newline is still a line.
    if (!line.empty()) return InputResult::Line;
    input.fEnded = true;
    return InputResult::End;
  }
}

// Reads one line of a script; a read that Ctrl-C interrupts returns Interrupted, never taken for the end
// of input.
InputResult ReadScriptLine(Input& input, std::string& line) {
  line.clear();
  input.script.fd = STDIN_FILENO;
  bool fNewline = false;
  for (;;) {
    if (InterruptRequested()) return InputResult::Interrupted;
    ReaderRead read = ReadReaderLine(input.script, line, &fNewline);
    if (read == ReaderRead::Interrupted) continue;
    if (read == ReaderRead::Line) return InputResult::Line;
    input.fEnded = true;
    return InputResult::End;
  }
}

}  // namespace

ReaderRead ReadReaderLine(LineReader& reader, std::string& line, bool* fNewline) {
  *fNewline = false;
  for (;;) {
    if (reader.start < reader.end) {
      const char* from = &reader.buffer[reader.start];
      size_t available = reader.end - reader.start;
      const char* newline = static_cast<const char*>(memchr(from, '\n', available));
      size_t taken = newline != nullptr ? static_cast<size_t>(newline - from) : available;
      line.append(from, taken);
      reader.start += taken;
      if (newline != nullptr) {
        ++reader.start;
        *fNewline = true;
        return ReaderRead::Line;
      }
    }
    // A last line without its newline is still a line.
    if (reader.fEnded) return line.empty() ? ReaderRead::End : ReaderRead::Line;
    if (reader.buffer.size() < READ_CHUNK) reader.buffer.resize(READ_CHUNK);
    // Ctrl-C must end a read that waits (on a pipe, a FIFO), not restart it; the handler is switched only
    // around the read itself, a system call a buffer rather than two a line.
    SetReadsInterruptible(true);
    ssize_t count = read(reader.fd, reader.buffer.data(), reader.buffer.size());
    int readErrno = errno;
    SetReadsInterruptible(false);
    errno = readErrno;
    if (count < 0 && errno == EINTR) return ReaderRead::Interrupted;
    reader.start = 0;
    reader.end = count > 0 ? static_cast<size_t>(count) : 0;
    if (count <= 0) {
      reader.fEnded = true;
      reader.readErrno = count < 0 ? errno : 0;
    }
  }
}

InputResult ReadInputLine(Input& input, std::string& line) {
  // Once input has ended nothing is read, so nothing need be on the screen first: a long listing
  // redirected with input at its end is not cut into a write per page.
  if (input.fEnded) return InputResult::End;
  OutFlush();
  return StdinIsTerminal() ? ReadTerminalLine(input, line) : ReadScriptLine(input, line);
}

InputResult ReadTypedLine(Input& input, std::string& line, std::vector<std::string>& pasted) {
  static constexpr std::string_view PASTE_START = "\x1b[200~";
  static constexpr std::string_view PASTE_END = "\x1b[201~";
  SetBracketedPaste(true);
  std::string read;
  std::string pastedLine;  // the block's line being read
  bool fInPaste = false;
  bool fTyped = false;
  InputResult result = InputResult::Line;
  line.clear();
  while (!fTyped) {
    result = ReadInputLine(input, read);
    if (result != InputResult::Line) break;
    size_t at = 0;
    for (;;) {
      size_t mark = read.find(fInPaste ? PASTE_END : PASTE_START, at);
      std::string& into = fInPaste ? pastedLine : line;
      into.append(read, at, mark == std::string::npos ? std::string::npos : mark - at);
      if (mark == std::string::npos) break;
      at = mark + PASTE_START.size();
      // The end of a block ends its last line unless the block ended with a line break.
      if (fInPaste && !pastedLine.empty()) pasted.push_back(std::move(pastedLine));
      pastedLine.clear();
      fInPaste = !fInPaste;
    }
    if (fInPaste) {
      // A line break inside the block.
      pasted.push_back(std::move(pastedLine));
      pastedLine.clear();
    } else {
      fTyped = true;
    }
  }
  SetBracketedPaste(false);
  return result;
}

int ReadTerminalByteNow(Input& input, unsigned char* byte) {
  // A description of its own, opened again on the same terminal, can be non-blocking without changing
  // standard input for the processes that share it.
  if (input.terminalReader == -2) input.terminalReader = open("/proc/self/fd/0", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (input.terminalReader < 0) {
    // Without one, a byte that poll saw is read with a read that may wait.
    ssize_t count = read(STDIN_FILENO, byte, 1);
    if (count == 1) return 1;
    return count < 0 && errno == EINTR ? 0 : -1;
  }
  ssize_t count = read(input.terminalReader, byte, 1);
  if (count == 1) return 1;
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;
}
