// The password kept out of sight: masked in the process's arguments, asked on the terminal with -p.
#include "input/password.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Where one attribute of a connection string lies.
struct AttributeSpan {
  size_t keywordEnd;  // one past its keyword, at its '=' (or at its end when it has no '=')
  size_t valueStart;  // the first byte of its value, past the '='
  size_t valueEnd;    // one past its value, braces included
  size_t end;         // one past the ';' that ends it, or the end of the text
};

// Blanks the driver manager and drivers skip around an attribute's name and before its value: spaces, tabs
// and line breaks alike.
bool IsAttributeBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Finds the attribute that starts at `start` in text[0, len). A value in braces runs to the brace that
// closes it, "}}" standing for one '}', so a ';' inside it ends nothing.
AttributeSpan FindAttribute(const char* text, size_t len, size_t start) {
  size_t pos = start;
  while (pos < len && text[pos] != '=' && text[pos] != ';') ++pos;
  AttributeSpan span = {pos, pos, pos, pos};
  if (pos == len || text[pos] == ';') {
    span.end = pos < len ? pos + 1 : len;
    return span;
  }
  span.valueStart = ++pos;
  while (pos < len && IsAttributeBlank(text[pos])) ++pos;
  if (pos < len && text[pos] == '{') {
    for (++pos; pos < len; ++pos) {
      if (text[pos] != '}') continue;
      if (pos + 1 < len && text[pos + 1] == '}') {
        ++pos;
        continue;
      }
      ++pos;
      break;
    }
  }
  while (pos < len && text[pos] != ';') ++pos;
  span.valueEnd = pos;
  span.end = pos < len ? pos + 1 : len;
  return span;
}

// True when text[start, end), blanks around it aside, is szName in any case.
bool IsKeyword(const char* text, size_t start, size_t end, const char* szName) {
  while (start < end && IsAttributeBlank(text[start])) ++start;
  while (end > start && IsAttributeBlank(text[end - 1])) --end;
  size_t length = end - start;
  return length == strlen(szName) && strncasecmp(text + start, szName, length) == 0;
}

// True when text[start, end), blanks around it aside, is PWD or PASSWORD in any case.
bool IsPasswordKeyword(const char* text, size_t start, size_t end) {
  return IsKeyword(text, start, end, "PWD") || IsKeyword(text, start, end, "PASSWORD");
}

// The signals that could end or stop the process while the terminal does not echo.
constexpr int PASSWORD_SIGNALS[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr size_t PASSWORD_SIGNAL_COUNT = sizeof PASSWORD_SIGNALS / sizeof PASSWORD_SIGNALS[0];

volatile sig_atomic_t gPasswordSignal = 0;  // the signal that cut the password's read short, or 0

void OnPasswordSignal(int signalNumber) { gPasswordSignal = signalNumber; }

// The process's own handling of the signals above, put back at destruction. While it lives, each signal
// that was not ignored only cuts the read short (no restart), so the terminal is restored before it acts.
struct PasswordSignals {
  struct sigaction previous[PASSWORD_SIGNAL_COUNT];  // each signal's handling before the prompt
  bool installed[PASSWORD_SIGNAL_COUNT] = {};         // our handler is in place for this signal

  PasswordSignals() {
    for (size_t i = 0; i < PASSWORD_SIGNAL_COUNT; ++i) {
      sigaction(PASSWORD_SIGNALS[i], nullptr, &previous[i]);
      if (previous[i].sa_handler != SIG_IGN) Install(i);
    }
  }
  ~PasswordSignals() {
    for (size_t i = 0; i < PASSWORD_SIGNAL_COUNT; ++i) {
      if (installed[i]) sigaction(PASSWORD_SIGNALS[i], &previous[i], nullptr);
    }
  }
  void Install(size_t i) {
    struct sigaction action = {};
    action.sa_handler = OnPasswordSignal;
    sigemptyset(&action.sa_mask);
    sigaction(PASSWORD_SIGNALS[i], &action, nullptr);
    installed[i] = true;
  }
  // Lets the signal act as it would have (end or stop the process); back here, reinstalls the handler.
  void Deliver(int signalNumber) {
    for (size_t i = 0; i < PASSWORD_SIGNAL_COUNT; ++i) {
      if (PASSWORD_SIGNALS[i] != signalNumber) continue;
      sigaction(signalNumber, &previous[i], nullptr);
      raise(signalNumber);
      Install(i);
    }
  }
};

// The terminal with echo off; its mode as it was is put back at destruction, however the read ends.
struct QuietTerminal {
  int tty;         // the controlling terminal
  termios saved;   // its mode before
  bool quiet;      // echo is off now

  QuietTerminal(int terminal, const termios& mode) : tty(terminal), saved(mode), quiet(false) {
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    silent.c_lflag |= ICANON;
    // Whatever was typed before the prompt was shown in the clear: it is dropped, not taken.
    quiet = tcsetattr(tty, TCSAFLUSH, &silent) == 0;
  }
  ~QuietTerminal() {
    if (quiet) tcsetattr(tty, TCSANOW, &saved);
  }
};

void WriteTerminal(int tty, const char* text) {
  for (size_t len = strlen(text); len > 0;) {
    ssize_t written = write(tty, text, len);
    if (written < 0) {
      if (errno == EINTR && gPasswordSignal == 0) continue;
      return;
    }
    text += written;
    len -= static_cast<size_t>(written);
  }
}

// Prompts and reads one line without echo into password. Returns 0, or the signal that cut it short.
int ReadPasswordLine(int tty, const termios& saved, std::string& password) {
  gPasswordSignal = 0;
  password.clear();
  {
    QuietTerminal terminal(tty, saved);
    if (gPasswordSignal == 0) WriteTerminal(tty, "Password: ");
    while (gPasswordSignal == 0) {
      char byte;
      ssize_t n = read(tty, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || byte == '\n') break;
      password += byte;
    }
  }
  // The Enter typed was not echoed: the next output starts on a line of its own.
  WriteTerminal(tty, "\n");
  return gPasswordSignal;
}

// Returns connStr without its attributes named in `replaced`, with szKeyword=value added: in braces, every
// '}' doubled, when fBraces.
std::string AttributeReplaced(const std::string& connStr, std::initializer_list<const char*> replaced, const char* szKeyword,
                              const std::string& value, bool fBraces) {
  std::string result;
  const char* text = connStr.data();
  size_t len = connStr.size();
  for (size_t start = 0; start < len;) {
    AttributeSpan span = FindAttribute(text, len, start);
    bool fReplaced = false;
    for (const char* szName : replaced) fReplaced = fReplaced || IsKeyword(text, start, span.keywordEnd, szName);
    if (!fReplaced) result.append(text + start, span.end - start);
    start = span.end;
  }
  if (!result.empty() && result.back() != ';') result += ';';
  result += szKeyword;
  result += '=';
  if (!fBraces) return result + value;
  result += '{';
  for (char byte : value) {
    result += byte;
    if (byte == '}') result += '}';
  }
  result += '}';
  return result;
}

}  // namespace

void MaskPasswordArguments(int argc, char** argv) {
  for (int iArg = 1; iArg < argc; ++iArg) {
    char* arg = argv[iArg];
    size_t len = strlen(arg);
    for (size_t start = 0; start < len;) {
      AttributeSpan span = FindAttribute(arg, len, start);
      if (IsPasswordKeyword(arg, start, span.keywordEnd)) {
        memset(arg + span.valueStart, '*', span.valueEnd - span.valueStart);
      }
      start = span.end;
    }
  }
}

bool AskPassword(std::string& password) {
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  termios saved;
  if (tcgetattr(tty, &saved) != 0) {
    close(tty);
    return false;
  }
  password.reserve(256);  // few passwords grow it, so few copies of one are left in freed memory
  {
    PasswordSignals signals;
    // After a stop the prompt is shown again: what was typed before it may have been seen.
    for (int signalNumber; (signalNumber = ReadPasswordLine(tty, saved, password)) != 0;) {
      signals.Deliver(signalNumber);
    }
  }
  close(tty);
  return true;
}

std::string WithPassword(const std::string& connStr, const std::string& password) {
  return AttributeReplaced(connStr, {"PWD", "PASSWORD"}, "PWD", password, true);
}

std::string WithAttribute(const std::string& connStr, std::initializer_list<const char*> replaced, const char* szKeyword,
                          const std::string& value) {
  // Some drivers (psqlODBC's Database) take braces as part of the value: they are written only where needed.
  bool fBraces = value.find_first_of(";{}") != std::string::npos ||
                 (!value.empty() && (IsAttributeBlank(value.front()) || IsAttributeBlank(value.back())));
  return AttributeReplaced(connStr, replaced, szKeyword, value, fBraces);
}

bool HasAttribute(const std::string& connStr, std::initializer_list<const char*> names) {
  const char* text = connStr.data();
  size_t len = connStr.size();
  for (size_t start = 0; start < len;) {
    AttributeSpan span = FindAttribute(text, len, start);
    for (const char* szName : names) {
      if (span.keywordEnd < span.end && IsKeyword(text, start, span.keywordEnd, szName)) return true;
    }
    start = span.end;
  }
  return false;
}
