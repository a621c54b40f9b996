// End-to-end tests on a real pseudo-terminal: highlighting, the page height and a resized window.
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include "console_runner.h"

namespace {

const std::string kOn = "\x1b[44m";
const std::string kOff = "\x1b[49m";

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

// A row wider than the window takes the screen lines it wraps to: a page holds the rows whose lines fit
// beside the header and the prompt, at least one. Ctrl-D at a pause ends the session.
TEST(Terminal, WrappedRowsPageByTheirScreenLinesAndCtrlDAtAPauseEnds) {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/terminal.db");
  ASSERT_EQ(ExecSql(conn, {"create table p(id integer, w varchar(90))",
                           "with recursive c(i) as (select 1 union all select i + 1 from c where i < 20) "
                           "insert into p select i, 'r' || i || 'r' || substr(printf('%90s', ''), 1, 80) from c"}),
            "");
  // 4 rows of 30 columns: each row's line of 68 wraps to 3 screen lines, and no whole row fits beside the
  // header and the prompt; a page still shows one.
  TerminalSession session = StartOnTerminal(conn, 4, 30);
  size_t at = WaitFor(session, "SQL COMMAND>");
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "select id, w from p\r");
  size_t pause = WaitFor(session, "Press ENTER to continue", at);
  ASSERT_NE(pause, std::string::npos) << session.screen;
  std::string page = session.screen.substr(at, pause - at);
  EXPECT_NE(page.find("r1r"), std::string::npos) << page;
  EXPECT_EQ(page.find("r2r"), std::string::npos) << page;
  // 12 rows hold the header, 2 rows and the prompt.
  winsize taller = {12, 30, 0, 0};
  ioctl(session.master, TIOCSWINSZ, &taller);
  Type(session, "\r");
  size_t next = WaitFor(session, "Press ENTER to continue", pause);
  ASSERT_NE(next, std::string::npos) << session.screen;
  page = session.screen.substr(pause, next - pause);
  EXPECT_NE(page.find("r3r"), std::string::npos) << page;
  EXPECT_EQ(page.find("r4r"), std::string::npos) << page;
  Type(session, "\x04");
  EXPECT_NE(WaitFor(session, "Disconnected.", next), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("r4r", next), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

}  // namespace
