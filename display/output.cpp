// The one output layer: buffered standard output, standard error in program order, and line input.
#include "display/output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t OUT_BUFFER_SIZE = 64 * 1024;

char gOutBuffer[OUT_BUFFER_SIZE];  // pending standard output
size_t gOutUsed = 0;               // bytes of gOutBuffer waiting to be written
bool gLineBuffered = false;        // true when standard output is a terminal
bool gInputEnded = false;          // end of input seen: later reads return at once

// Writes all of data to fd, riding out interrupted and partial writes; a failing stream drops the data.
void WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t written = write(fd, data, len);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    len -= static_cast<size_t>(written);
  }
}

}  // namespace

void InitOutput() {
  gLineBuffered = isatty(STDOUT_FILENO) == 1;
  atexit(OutFlush);
}

bool StdoutIsTerminal() { return gLineBuffered; }

void OutFlush() {
  if (gOutUsed == 0) return;
  WriteAll(STDOUT_FILENO, gOutBuffer, gOutUsed);
  gOutUsed = 0;
}

void OutWrite(const char* data, size_t len) {
  if (len > OUT_BUFFER_SIZE - gOutUsed) {
    OutFlush();
    if (len >= OUT_BUFFER_SIZE) {
      WriteAll(STDOUT_FILENO, data, len);
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

bool ReadInputLine(std::string& line) {
  static char* lineBuffer = nullptr;  // getline's buffer, kept and grown across calls
  static size_t lineCapacity = 0;
  // Once input has ended nothing is read, so nothing need be on the screen first: a long listing
  // redirected with input at its end is not cut into a write per page.
  if (gInputEnded) return false;
  OutFlush();
  errno = 0;
  ssize_t length = getline(&lineBuffer, &lineCapacity, stdin);
  if (length < 0) {
    if (errno == ENOMEM) {
      ErrText("Out of memory!\n");
      exit(-100);
    }
    gInputEnded = true;
    return false;
  }
  if (length > 0 && lineBuffer[length - 1] == '\n') --length;
  line.assign(lineBuffer, static_cast<size_t>(length));
  return true;
}
