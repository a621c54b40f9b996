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

constexpr size_t OUT_BUFFER_SIZE = 64 * 1024;

char gOutBuffer[OUT_BUFFER_SIZE];  // pending standard output
size_t gOutUsed = 0;               // bytes of gOutBuffer waiting to be written
bool gLineBuffered = false;        // true when standard output is a terminal
bool gStdinTerminal = false;       // true when standard input is a terminal
OutputState gOutputState = OutputState::Working;  // once a write to standard output failed, it stays failed

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
  if (gOutputState != OutputState::Working) return;
  int error = WriteAll(STDOUT_FILENO, data, len);
  if (error == 0) return;
  gOutputState = error == EPIPE ? OutputState::PipeBroken : OutputState::Failed;
  if (error != EPIPE) ErrFormat("Error writing to standard output: %s\n", strerror(error));
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

void InitOutput() {
  // A closed descriptor would be taken by the driver's socket, and the tables written into the connection.
  bool stdoutClosed = ProtectStandardDescriptors();
  gLineBuffered = isatty(STDOUT_FILENO) == 1;
  gStdinTerminal = isatty(STDIN_FILENO) == 1;
  // A reader that has gone shows as EPIPE from write, so the session can end cleanly; some drivers ignore
  // SIGPIPE for the whole process anyway.
  signal(SIGPIPE, SIG_IGN);
  atexit(OutFlush);
  if (stdoutClosed) {
    gOutputState = OutputState::Failed;
    ErrFormat("Error writing to standard output: %s\n", strerror(EBADF));
  }
}

OutputState StdoutState() { return gOutputState; }

bool StdoutIsTerminal() { return gLineBuffered; }

bool StdinIsTerminal() { return gStdinTerminal; }

void OutFlush() {
  if (gOutUsed == 0) return;
  size_t pending = gOutUsed;
  gOutUsed = 0;  // before the write: reporting a failure flushes again
  WriteStdout(gOutBuffer, pending);
}

void OutWrite(const char* data, size_t len) {
  if (len > OUT_BUFFER_SIZE - gOutUsed) {
    OutFlush();
    if (len >= OUT_BUFFER_SIZE) {
      WriteStdout(data, len);
      return;
    }
  }
  memcpy(gOutBuffer + gOutUsed, data, len);
  gOutUsed += len;
  if (gLineBuffered && memchr(data, '\n', len) != nullptr) OutFlush();
}

void OutText(const char* text) { OutWrite(text, strlen(text)); }

char* OutReserve(size_t len) {
  if (len > OUT_BUFFER_SIZE - gOutUsed) OutFlush();
  return gOutBuffer + gOutUsed;
}

void OutCommit(char* end) {
  char* start = gOutBuffer + gOutUsed;
  gOutUsed = static_cast<size_t>(end - gOutBuffer);
  if (gLineBuffered && memchr(start, '\n', static_cast<size_t>(end - start)) != nullptr) OutFlush();
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
