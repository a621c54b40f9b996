// End-to-end tests on a real pseudo-terminal: highlighting, the page height and a resized window.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console_runner.h"

namespace {

const std::string kOn = "\x1b[44m";
const std::string kOff = "\x1b[49m";

// The console running on the slave side of a pseudo-terminal.
struct TerminalSession {
  pid_t pid = -1;        // the console's process
  int master = -1;       // the terminal's master side: what we type, what it shows
  std::string screen;    // everything shown so far
};

TerminalSession StartOnTerminal(const std::string& conn, unsigned short rows, unsigned short columns) {
  TerminalSession session;
  winsize size = {rows, columns, 0, 0};
  session.pid = forkpty(&session.master, nullptr, nullptr, &size);
  if (session.pid == 0) {
    setenv("LC_ALL", "C", 1);
    execl(ODBC_CONSOLE_PATH, ODBC_CONSOLE_PATH, conn.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return session;
}

// Reads what the terminal shows until `text` appears after position `from`, or 20 seconds pass.
// Returns the position just past it, or npos.
size_t WaitFor(TerminalSession& session, const std::string& text, size_t from = 0) {
  time_t deadline = time(nullptr) + 20;
  for (;;) {
    size_t found = session.screen.find(text, from);
    if (found != std::string::npos) return found + text.size();
    if (time(nullptr) > deadline) return std::string::npos;
    pollfd fd = {session.master, POLLIN, 0};
    if (poll(&fd, 1, 200) <= 0) continue;
    char chunk[4096];
    ssize_t n = read(session.master, chunk, sizeof chunk);
    if (n <= 0) return std::string::npos;
    session.screen.append(chunk, static_cast<size_t>(n));
  }
}

void Type(TerminalSession& session, const std::string& text) {
  ASSERT_EQ(write(session.master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

int Finish(TerminalSession& session) {
  Type(session, "\x04");
  int status = 0;
  time_t deadline = time(nullptr) + 20;
  while (waitpid(session.pid, &status, WNOHANG) == 0) {
    if (time(nullptr) > deadline) kill(session.pid, SIGKILL);
    WaitFor(session, "\x01never", session.screen.size());
  }
  close(session.master);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string RowLine(int id) {
  std::string number = std::to_string(id);
  return "| " + std::string(10 - number.size(), ' ') + number + "  |\r\n";
}

TEST(Terminal, HighlightsHeaderEndBarAndPromptAndPagesByWindowHeight) {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/terminal.db");
  ASSERT_EQ(ExecSql(conn, {"create table p(id integer)",
                           "with recursive c(i) as (select 1 union all select i + 1 from c where i < 20) "
                           "insert into p select i from c"}),
            "");
  TerminalSession session = StartOnTerminal(conn, 10, 100);
  size_t at = WaitFor(session, "SQL COMMAND>");
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "select id from p\r");
  const std::string header = kOn + "| id          |" + kOff + "\r\n";
  // A ten-row window: eight rows, then the prompt ending in the row count.
  at = WaitFor(session, header, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  std::string page;
  for (int id = 1; id <= 8; ++id) page += RowLine(id);
  const std::string pause = std::string(14, ' ') + kOn + "   Press ENTER to continue, Q to quit10" + kOff;
  ASSERT_NE(WaitFor(session, page + pause, at), std::string::npos) << session.screen;
  // The window shrinks to six rows: the next header reads it, so the page holds four rows.
  winsize smaller = {6, 100, 0, 0};
  ioctl(session.master, TIOCSWINSZ, &smaller);
  Type(session, "\r");
  page = header;
  for (int id = 9; id <= 12; ++id) page += RowLine(id);
  at = WaitFor(session, page + std::string(14, ' ') + kOn + "   Press ENTER to continue, Q to quit6" + kOff, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "q\r");
  at = WaitFor(session, "SQL COMMAND>", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // The end bar: the line's width of highlighted blanks.
  Type(session, "select id from p where id = 1\r");
  at = WaitFor(session, RowLine(1) + kOn + std::string(15, ' ') + kOff + "\r\nSQL COMMAND>", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  EXPECT_NE(session.screen.find("\r\nDisconnected."), std::string::npos);
}

}  // namespace
