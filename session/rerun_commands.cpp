// \e and \watch: a statement edited in the user's editor, and a statement run again and again.
#include "session/rerun_commands.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "display/cell_text.h"
#include "display/output.h"
#include "input/interrupt.h"
#include "session/source_call.h"

namespace {

constexpr double DEFAULT_WATCH_SECONDS = 2;        // \watch without an interval
constexpr double LONGEST_WATCH_SECONDS = 1000000;  // a longer interval is a typing error
constexpr int WAIT_STEP_MS = 100;                  // how long a wait lasts before the flags are looked at again

// The editor the user asked for: $VISUAL, else $EDITOR, else vi.
const char* EditorCommand() {
  for (const char* szName : {"VISUAL", "EDITOR"}) {
    const char* szValue = getenv(szName);
    if (szValue != nullptr && szValue[0] != '\0') return szValue;
  }
  return "vi";
}

// Writes text to a new file of its own in $TMPDIR (else /tmp); returns its path, or "" with errno set.
std::string WriteTemporaryFile(const std::string& text) {
  const char* szDirectory = getenv("TMPDIR");
  std::string path = std::string(szDirectory != nullptr && szDirectory[0] != '\0' ? szDirectory : "/tmp") + "/odbc-console-XXXXXX.sql";
  int fd = mkstemps(&path[0], 4);
  if (fd < 0) return "";
  size_t written = 0;
  while (written < text.size()) {
    ssize_t count = write(fd, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      int writeErrno = errno;
      close(fd);
      unlink(path.c_str());
      errno = writeErrno;
      return "";
    }
    written += static_cast<size_t>(count);
  }
  if (close(fd) != 0) {
    int closeErrno = errno;
    unlink(path.c_str());
    errno = closeErrno;
    return "";
  }
  return path;
}

// Runs the editor on path through the shell (the variable may hold options) and waits for it; Ctrl-C is the
// editor's meanwhile. Returns its exit status, or -1 when it could not be started or was killed.
int RunEditor(const char* szEditor, const std::string& path) {
  OutFlush();
  std::string script = std::string(szEditor) + " \"$1\"";
  SetInterruptIgnored(true);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    execl("/bin/sh", "sh", "-c", script.c_str(), "sh", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  pid_t waited = -1;
  if (pid > 0) {
    do waited = waitpid(pid, &status, 0);
    while (waited < 0 && errno == EINTR);
  }
  SetInterruptIgnored(false);
  if (waited < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Reads the whole file at path into text. Returns false with errno set when it cannot.
bool ReadWholeFile(const std::string& path, std::string& text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[64 * 1024];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      int readErrno = errno;
      close(fd);
      errno = readErrno;
      return false;
    }
    if (count == 0) break;
    text.append(buffer, static_cast<size_t>(count));
  }
  close(fd);
  return true;
}

// Waits `seconds`, or until Ctrl-C. Returns false at Ctrl-C.
bool WaitSeconds(double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (InterruptRequested()) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return true;
    // A signal ends the wait early; the loop looks at the flag again.
    poll(nullptr, 0, static_cast<int>(left < WAIT_STEP_MS ? left : WAIT_STEP_MS));
  }
}

}  // namespace

StatementOutcome EditCommand(Session& session, std::string_view argument) {
  if (!argument.empty()) {
    ErrText("\\e takes no argument\n");
    return StatementOutcome::Failed;
  }
  LineSource& source = *session.sources.back();
  bool fTyping = source.fStatementMode && StatementPending(source.splitter);
  std::string text = fTyping ? source.splitter.buffer.substr(source.splitter.start) : session.lastStatement;
  // The last statement comes back with its delimiter, so that saving it unchanged runs it.
  if (!fTyping && source.fStatementMode && !text.empty()) text += source.splitter.delimiter;
  if (!text.empty() && text.back() != '\n') text += '\n';
  std::string path = WriteTemporaryFile(text);
  if (path.empty()) {
    ErrFormat("\\e: cannot write a file for the editor: %s\n", strerror(errno));
    return StatementOutcome::Failed;
  }
  const char* szEditor = EditorCommand();
  int status = RunEditor(szEditor, path);
  std::string edited;
  bool fRead = status == 0 && ReadWholeFile(path, edited);
  int readErrno = errno;
  unlink(path.c_str());
  if (status != 0) {
    // What the editor left is not run: it may have been quit on purpose.
    ErrFormat("\\e: the editor (%s) failed; nothing was run\n", SafeMessageText(session.console.charset, szEditor).c_str());
    return StatementOutcome::Failed;
  }
  if (!fRead) {
    ErrFormat("\\e: cannot read what the editor saved: %s\n", strerror(readErrno));
    return StatementOutcome::Failed;
  }
  while (!edited.empty() && (edited.back() == '\n' || edited.back() == '\r')) edited.pop_back();
  // The statement typed so far is replaced by the edited text, which comes next as if typed.
  if (fTyping) DiscardPending(source.splitter);
  if (!edited.empty()) session.linesAhead.push_front(std::move(edited));
  return StatementOutcome::Ok;
}

StatementOutcome WatchCommand(Session& session, std::string_view argument) {
  double seconds = DEFAULT_WATCH_SECONDS;
  if (!argument.empty()) {
    std::string number(argument);
    char* end = nullptr;
    seconds = strtod(number.c_str(), &end);
    if (end == number.c_str() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > LONGEST_WATCH_SECONDS) {
      ErrFormat("\\watch takes a number of seconds greater than 0, not %s\n", SafeMessageText(session.console.charset, number.c_str()).c_str());
      return StatementOutcome::Failed;
    }
  }
  if (session.lastStatement.empty()) {
    ErrText("\\watch: no statement has been run yet\n");
    return StatementOutcome::Failed;
  }
  std::string statement = session.lastStatement;  // kept: a statement run meanwhile must not change it
  char szEvery[64];
  snprintf(szEvery, sizeof szEvery, " (every %gs)\n\n", seconds);
  for (;;) {
    time_t now = time(nullptr);
    char szTime[64] = "";
    strftime(szTime, sizeof szTime, "%a %b %e %H:%M:%S %Y", localtime(&now));
    OutText((std::string(szTime) + szEvery).c_str());
    StatementOutcome outcome = RunSqlStatement(session, statement);
    if (outcome != StatementOutcome::Ok || InterruptRequested()) return outcome;
    OutWrite("\n", 1);
    if (!WaitSeconds(seconds)) {
      // After the terminal's ^C the prompt starts a line of its own.
      OutWrite("\n", 1);
      return StatementOutcome::Ok;
    }
  }
}
