// The one output layer: buffered standard output, and standard error in program order.
#include "display/output.h"

#include "display/cell_text.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>


namespace {

// The console's output record, given at start-up: the one owner of standard output and standard error is
// reached from every writer through this one pointer, as a process has one standard output.
Output* gOutput = nullptr;

// Writes all of data to fd, riding out interrupted and partial writes. Returns 0, or the errno of the
// write that failed; what was not written then is dropped.
int WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t written = write(fd, data, len);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    len -= static_cast<size_t>(written);
  }
  return 0;
}

// Writes to standard output unless it has failed before; the first failure is reported, except a broken
// pipe, whose reader has gone and wants no message.
void WriteStdout(const char* data, size_t len) {
  if (gOutput->state != OutputState::Working) return;
  int error = WriteAll(gOutput->fd, data, len);
  if (error == 0) return;
  gOutput->state = error == EPIPE ? OutputState::PipeBroken : OutputState::Failed;
  if (error == EPIPE) return;
  if (gOutput->fd == STDOUT_FILENO) {
    ErrFormat("Error writing to standard output: %s\n", strerror(error));
  } else {
    ErrFormat("Error writing the output of \\o: %s\n", strerror(error));
  }
}

}  // namespace

bool ProtectStandardDescriptors() {
  bool stdoutClosed = false;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor, which is this one: the ones below it are open by now.
    if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) abort();
    if (fd == STDOUT_FILENO) stdoutClosed = true;
  }
  return stdoutClosed;
}

void InitOutput(Output& output) {
  gOutput = &output;
  // A closed descriptor would be taken by the driver's socket, and the tables written into the connection.
  bool stdoutClosed = ProtectStandardDescriptors();
  gOutput->fLineBuffered = gOutput->fStdoutTerminal = isatty(STDOUT_FILENO) == 1;
  gOutput->fStdinTerminal = isatty(STDIN_FILENO) == 1;
  // A reader that has gone shows as EPIPE from write, so the session can end cleanly; some drivers ignore
  // SIGPIPE for the whole process anyway.
  signal(SIGPIPE, SIG_IGN);
  atexit(OutFlush);
  if (stdoutClosed) {
    gOutput->state = OutputState::Failed;
    ErrFormat("Error writing to standard output: %s\n", strerror(EBADF));
  }
}

void CloseOutput() {
  OutFlush();
  gOutput = nullptr;
}

OutputTarget RedirectOutput(int fd) {
  OutFlush();
  OutputTarget saved{gOutput->fd, gOutput->fLineBuffered, gOutput->state};
  if (gOutput->fd == STDOUT_FILENO) gOutput->stdoutState = gOutput->state;
  gOutput->fd = fd;
  gOutput->fLineBuffered = false;
  gOutput->state = OutputState::Working;
  return saved;
}

OutputState RestoreOutput(const OutputTarget& saved) {
  OutFlush();
  OutputState state = gOutput->state;
  gOutput->fd = saved.fd;
  gOutput->fLineBuffered = saved.fLineBuffered;
  gOutput->state = saved.state;
  return state;
}

OutputState StdoutState() { return gOutput->state; }

bool StdoutPipeBroken() {
  OutputState state = gOutput->fd == STDOUT_FILENO ? gOutput->state : gOutput->stdoutState;
  return state == OutputState::PipeBroken;
}

void SetOutputDestination(int fd) {
  OutFlush();
  if (gOutput->fd == STDOUT_FILENO) gOutput->stdoutState = gOutput->state;
  if (fd < 0) {
    gOutput->fd = STDOUT_FILENO;
    gOutput->state = gOutput->stdoutState;
    gOutput->fLineBuffered = gOutput->fStdoutTerminal;
  } else {
    gOutput->fd = fd;
    gOutput->state = OutputState::Working;
    gOutput->fLineBuffered = isatty(fd) == 1;
  }
}

bool OutputIsTerminal() { return gOutput->fLineBuffered; }

bool StdoutIsTerminal() { return gOutput->fStdoutTerminal; }

bool StdinIsTerminal() { return gOutput->fStdinTerminal; }

void OutFlush() {
  if (gOutput == nullptr || gOutput->used == 0) return;
  size_t pending = gOutput->used;
  gOutput->used = 0;  // before the write: reporting a failure flushes again
  WriteStdout(gOutput->buffer, pending);
}

void OutWrite(const char* data, size_t len) {
  if (len > OUTPUT_BUFFER_BYTES - gOutput->used) {
    OutFlush();
    if (len >= OUTPUT_BUFFER_BYTES) {
      WriteStdout(data, len);
      return;
    }
  }
  memcpy(gOutput->buffer + gOutput->used, data, len);
  gOutput->used += len;
  if (gOutput->fLineBuffered && memchr(data, '\n', len) != nullptr) OutFlush();
}

void OutText(const char* text) { OutWrite(text, strlen(text)); }

char* OutReserve(size_t len) {
  if (len > OUTPUT_BUFFER_BYTES - gOutput->used) OutFlush();
  return gOutput->buffer + gOutput->used;
}

void OutCommit(char* end) {
  char* start = gOutput->buffer + gOutput->used;
  gOutput->used = static_cast<size_t>(end - gOutput->buffer);
  if (gOutput->fLineBuffered && memchr(start, '\n', static_cast<size_t>(end - start)) != nullptr) OutFlush();
}

void ErrText(const char* text) {
  OutFlush();
  WriteAll(STDERR_FILENO, text, strlen(text));
}

void ErrDiagnostic(void* lpCharset, const char* text) {
  ErrText(SafeMessageText(*static_cast<const TextCharset*>(lpCharset), text).c_str());
}

void ErrFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list argsAgain;
  va_copy(argsAgain, args);
  int needed = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed > 0) {
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, argsAgain);
    OutFlush();
    WriteAll(STDERR_FILENO, text.data(), static_cast<size_t>(needed));
  }
  va_end(argsAgain);
}
