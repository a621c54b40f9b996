// The history file: the statements typed at a terminal, kept across sessions, one escaped entry a line.
#include "session/history.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "display/cell_text.h"
#include "display/output.h"

namespace {

// Appends beyond HISTORY_ENTRIES_KEPT before the file is rewritten: one rewrite per this many statements.
constexpr size_t HISTORY_TRIM_SLACK = 100;

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

// Writes all of data to fd. Returns false with errno set.
bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads the last HISTORY_ENTRIES_KEPT lines of the file into lines and counts them all. Returns false with
// errno set when the file cannot be read (ENOENT: it does not exist).
bool ReadHistoryLines(const std::string& path, std::deque<std::string>& lines, size_t& cLines) {
  FILE* file = fopen(path.c_str(), "re");
  if (file == nullptr) return false;
  cLines = 0;
  char* buffer = nullptr;
  size_t capacity = 0;
  ssize_t length;
  while ((length = getline(&buffer, &capacity, file)) >= 0) {
    if (length > 0 && buffer[length - 1] == '\n') --length;
    lines.emplace_back(buffer, static_cast<size_t>(length));
    if (lines.size() > HISTORY_ENTRIES_KEPT) lines.pop_front();
    ++cLines;
  }
  free(buffer);
  bool fRead = ferror(file) == 0;
  int error = errno;
  fclose(file);
  errno = error;
  return fRead;
}

// Replaces the file with its last HISTORY_ENTRIES_KEPT lines: written beside it, then renamed over it, so a
// failure leaves the old file whole. Returns false with errno set.
bool TrimHistoryFile(HistoryFile& history) {
  std::deque<std::string> lines;
  size_t cLines = 0;
  if (!ReadHistoryLines(history.path, lines, cLines)) return false;
  // Through a link the file itself is rewritten, not the link.
  char resolved[PATH_MAX];
  std::string target = realpath(history.path.c_str(), resolved) != nullptr ? resolved : history.path;
  std::string temporary = target + ".new" + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  bool fWritten = WriteAll(fd, text);
  int error = errno;
  if (close(fd) != 0 && fWritten) {
    fWritten = false;
    error = errno;
  }
  if (!fWritten || rename(temporary.c_str(), target.c_str()) != 0) {
    if (fWritten) error = errno;
    unlink(temporary.c_str());
    errno = error;
    return false;
  }
  history.cEntries = lines.size();
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
  history = HistoryFile{};
  history.path = path;
  std::vector<std::string> entries;
  if (path.empty()) return entries;
  std::deque<std::string> lines;
  size_t cLines = 0;
  if (!ReadHistoryLines(path, lines, cLines)) {
    if (errno != ENOENT) WarnHistory(history, "read", errno);
    return entries;
  }
  history.cEntries = cLines;
  for (const std::string& line : lines) entries.push_back(DecodeHistoryLine(line));
  if (cLines > HISTORY_ENTRIES_KEPT && !TrimHistoryFile(history)) WarnHistory(history, "write", errno);
  return entries;
}

bool IsLineKept(const std::string& line) {
  if (line.empty() || line[0] == ' ' || line[0] == '\t') return false;
  // A connection string may hold a password: neither a \connect nor any text with a PWD= attribute is kept.
  if (line.compare(0, 3, "\\c ") == 0 || line == "\\c" || line.compare(0, 8, "\\connect") == 0) return false;
  for (size_t i = 0; i + 4 <= line.size(); ++i) {
    if (strncasecmp(line.c_str() + i, "PWD=", 4) == 0) return false;
  }
  return true;
}

void AppendHistory(HistoryFile& history, const std::string& entry) {
  if (history.path.empty() || history.fWarned) return;
  if (!MakeParentDirectories(history.path)) return WarnHistory(history, "create the directory of", errno);
  int fd = open(history.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return WarnHistory(history, "write", errno);
  // One write of the whole line: a second session appending at the same time cannot split it.
  bool fWritten = WriteAll(fd, EncodeHistoryEntry(entry) + '\n');
  int error = errno;
  if (close(fd) != 0 && fWritten) {
    fWritten = false;
    error = errno;
  }
  if (!fWritten) return WarnHistory(history, "write", error);
  if (++history.cEntries > HISTORY_ENTRIES_KEPT + HISTORY_TRIM_SLACK && !TrimHistoryFile(history)) {
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
