// The history file: the statements typed at a terminal, kept across sessions, one escaped entry a line.
#include "input/history.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "display/cell_text.h"
#include "display/output.h"

namespace {

// Appends beyond HISTORY_ENTRIES_KEPT before the file is rewritten: one rewrite per this many statements.
constexpr size_t HISTORY_TRIM_SLACK = 100;

// The most of the file that is read, from its end: a history that never ends (/dev/zero through a link to a
// file of the kernel's, a file gone wild) costs this much at start and no more.
constexpr size_t HISTORY_READ_LIMIT = 32u << 20;

// Blanks as the driver manager skips them around an attribute's name: spaces, tabs and line breaks.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reports the first failure with the history file; later ones stay silent and the file is left alone.
void WarnHistory(HistoryFile& history, const char* action, int error) {
  if (history.fWarned) return;
  history.fWarned = true;
  ErrFormat("Warning: cannot %s the history file %s: %s; history is not saved\n", action,
            SafeMessageText(history.charset, history.path.c_str()).c_str(), strerror(error));
}

// Creates the missing directories above `path`, each with mode 0700. Returns false with errno set.
bool MakeParentDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Writes all of data to fd at offset `at`, or appended when `at` is negative. Returns false with errno set.
bool WriteAll(int fd, const std::string& data, off_t at) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = at < 0 ? write(fd, data.data() + done, data.size() - done)
                       : pwrite(fd, data.data() + done, data.size() - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// An open history file, closed at destruction; held under an exclusive lock when it is a regular file, so
// that a session trimming it and another appending to it take turns.
struct OpenFile {
  int fd = -1;           // the file, or -1
  struct stat info = {};  // what it is, as it was opened
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
};

// Opens the file the path names, following links, never blocking on a FIFO or taking a terminal as the
// controlling one. A regular file is locked, waiting a second at most for another session to let go (a
// file system without locks, or a session stopped while it holds one, leaves the file unlocked). Returns
// false with errno set.
bool OpenHistoryFile(const std::string& path, int flags, OpenFile& file) {
  file.fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (file.fd < 0) return false;
  if (fstat(file.fd, &file.info) != 0) return false;
  if (!S_ISREG(file.info.st_mode)) return true;
  for (int tries = 0; tries < 100 && flock(file.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK; ++tries) {
    usleep(10000);
  }
  return true;
}

// The last HISTORY_ENTRIES_KEPT whole lines of a regular file, with what the rest of it held.
struct HistoryLines {
  std::deque<std::string> lines;  // the lines kept, oldest first, without their newlines
  size_t cLines = 0;              // whole lines read
  bool fPartial = false;          // the file was longer than the part read, or ends in a line cut short
  bool fUnsized = false;          // it held more than its size says (a file of the kernel's): never rewritten
};

// Reads at most HISTORY_READ_LIMIT bytes from the end of a regular file into `read`. A line with no newline
// at the end is what a write cut short left (a full disk): it is no entry. Returns false with errno set.
bool ReadHistoryLines(const OpenFile& file, HistoryLines& read) {
  off_t from = file.info.st_size > static_cast<off_t>(HISTORY_READ_LIMIT)
                   ? file.info.st_size - static_cast<off_t>(HISTORY_READ_LIMIT) : 0;
  // Started in the middle of the file, the first line read is only the end of one.
  bool fSkipFirst = from > 0;
  read.fPartial = from > 0;
  std::string line;
  char buffer[65536];
  size_t total = 0;
  while (total < HISTORY_READ_LIMIT) {
    size_t want = std::min(sizeof buffer, HISTORY_READ_LIMIT - total);
    ssize_t n = pread(file.fd, buffer, want, from + static_cast<off_t>(total));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    total += static_cast<size_t>(n);
    for (const char* p = buffer; p < buffer + n;) {
      const char* newline = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(buffer + n - p)));
      const char* end = newline != nullptr ? newline : buffer + n;
      line.append(p, static_cast<size_t>(end - p));
      p = end;
      if (newline == nullptr) break;
      ++p;
      if (!fSkipFirst) {
        read.lines.push_back(std::move(line));
        if (read.lines.size() > HISTORY_ENTRIES_KEPT) read.lines.pop_front();
        ++read.cLines;
      }
      fSkipFirst = false;
      line.clear();
    }
  }
  if (!line.empty() || fSkipFirst) read.fPartial = true;
  if (from + static_cast<off_t>(total) > file.info.st_size) read.fUnsized = true;
  return true;
}

// Rewrites a regular file in place with its last HISTORY_ENTRIES_KEPT whole lines: through a link the file
// it names, which keeps its mode, owner and other names. The kept lines are written over the start of the
// file, then the rest is cut: a write stopped half-way leaves every kept line in the file, some twice.
// Returns false with errno set.
bool TrimHistoryFile(HistoryFile& history) {
  OpenFile file;
  if (!OpenHistoryFile(history.path, O_RDWR, file)) return false;
  if (!S_ISREG(file.info.st_mode)) return true;
  HistoryLines read;
  if (!ReadHistoryLines(file, read)) return false;
  if (read.fUnsized) return true;
  std::string text;
  for (const std::string& line : read.lines) text += line + '\n';
  if (!WriteAll(file.fd, text, 0)) return false;
  if (ftruncate(file.fd, static_cast<off_t>(text.size())) != 0) return false;
  history.cEntries = read.lines.size();
  return true;
}

}  // namespace

std::string HistoryFilePath() {
  if (const char* chosen = getenv("ODBC_CONSOLE_HISTFILE")) return chosen;
  const char* state = getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/odbc-console/history";
  const char* home = getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* user = getpwuid(getuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] == '\0') return "";
  return std::string(home) + "/.local/state/odbc-console/history";
}

std::vector<std::string> OpenHistory(HistoryFile& history, const std::string& path) {
  TextCharset charset = history.charset;
  history = HistoryFile{};
  history.path = path;
  history.charset = charset;
  std::vector<std::string> entries;
  if (path.empty()) return entries;
  HistoryLines read;
  {
    OpenFile file;
    if (!OpenHistoryFile(path, O_RDONLY, file)) {
      if (errno != ENOENT) WarnHistory(history, "read", errno);
      return entries;
    }
    if (S_ISDIR(file.info.st_mode)) {
      WarnHistory(history, "read", EISDIR);
      return entries;
    }
    // A device, a FIFO or a socket holds no history to read: entries are only written to it.
    if (!S_ISREG(file.info.st_mode)) return entries;
    if (!ReadHistoryLines(file, read)) {
      WarnHistory(history, "read", errno);
      return entries;
    }
  }
  history.cEntries = read.cLines;
  for (const std::string& line : read.lines) entries.push_back(DecodeHistoryLine(line));
  // The file is closed and its lock let go before it is trimmed.
  if ((read.cLines > HISTORY_ENTRIES_KEPT || read.fPartial) && !read.fUnsized && !TrimHistoryFile(history)) {
    WarnHistory(history, "write", errno);
  }
  return entries;
}

bool IsLineKept(std::string_view line) {
  if (line.empty() || line[0] == ' ' || line[0] == '\t') return false;
  // A connection string may hold a password: neither a \connect nor any text with a PWD or PASSWORD
  // attribute is kept, blanks and line breaks before its '=' included.
  if (line.compare(0, 3, "\\c ") == 0 || line == "\\c" || line.compare(0, 8, "\\connect") == 0) return false;
  for (size_t i = 0; i + 3 <= line.size(); ++i) {
    size_t after = strncasecmp(line.data() + i, "PWD", 3) == 0 ? i + 3
                   : i + 8 <= line.size() && strncasecmp(line.data() + i, "PASSWORD", 8) == 0 ? i + 8
                                                                                              : 0;
    if (after == 0) continue;
    while (after < line.size() && IsBlank(line[after])) ++after;
    if (after < line.size() && line[after] == '=') return false;
  }
  return true;
}

void AppendHistory(HistoryFile& history, const std::string& entry) {
  if (history.path.empty() || history.fWarned) return;
  // A regular file is opened for reading too, to see how it ends; anything else only for writing, so that a
  // FIFO with no reader is not opened at all.
  struct stat info;
  bool fFile = stat(history.path.c_str(), &info) != 0 || S_ISREG(info.st_mode);
  const int flags = (fFile ? O_RDWR : O_WRONLY) | O_APPEND | O_CREAT;
  OpenFile file;
  if (!OpenHistoryFile(history.path, flags, file)) {
    if (errno != ENOENT) return WarnHistory(history, "write", errno);
    if (!MakeParentDirectories(history.path)) return WarnHistory(history, "create the directory of", errno);
    if (!OpenHistoryFile(history.path, flags, file)) return WarnHistory(history, "write", errno);
  }
  std::string line = EncodeHistoryEntry(entry) + '\n';
  bool fRegular = S_ISREG(file.info.st_mode);
  // A file that ends in a line cut short (a write that failed half-way) gets the newline it lacks first, so
  // the cut entry is not glued to this one.
  char last = '\n';
  if (fRegular && file.info.st_size > 0 && pread(file.fd, &last, 1, file.info.st_size - 1) == 1 && last != '\n') {
    line.insert(line.begin(), '\n');
  }
  // One write of the whole line: a second session appending at the same time cannot split it.
  bool fWritten = WriteAll(file.fd, line, -1);
  int error = errno;
  if (close(file.fd) != 0 && fWritten) {
    fWritten = false;
    error = errno;
  }
  file.fd = -1;
  if (!fWritten) return WarnHistory(history, "write", error);
  // Only a regular file is ever rewritten: a device, a FIFO or a socket is written to and nothing more.
  if (fRegular && ++history.cEntries > HISTORY_ENTRIES_KEPT + HISTORY_TRIM_SLACK && !TrimHistoryFile(history)) {
    WarnHistory(history, "write", errno);
  }
}

std::string EncodeHistoryEntry(const std::string& entry) {
  std::string line;
  line.reserve(entry.size());
  for (char c : entry) {
    switch (c) {
      case '\\': line += "\\\\"; break;
      case '\n': line += "\\n"; break;
      case '\r': line += "\\r"; break;
      default: line += c; break;
    }
  }
  return line;
}

std::string DecodeHistoryLine(const std::string& line) {
  std::string entry;
  entry.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      entry += line[i];
      continue;
    }
    char next = line[++i];
    entry += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return entry;
}
