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

}  // namespace
