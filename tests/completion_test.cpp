// End-to-end tests of Tab completion on a pseudo-terminal through the SQLite driver.
#include <gtest/gtest.h>

#include "console_runner.h"

namespace {

const std::string kPrompt = "SQL COMMAND>";
const std::string kClearLine = "\x15";  // Ctrl-U: the line typed so far is dropped

TEST(Completion, NamesComeByContextQuotedWhereNeededAlignedAndFreshAfterCreate) {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/completion.db");
  ASSERT_EQ(ExecSql(conn, {"create table people(id integer, full_name text)", "create table orders(oid integer, amount integer)",
                           "create table \"Zoë Tea\"(\"ünï\" integer, \"名前\" integer, \"名前長い\" integer)",
                           "insert into \"Zoë Tea\" values(1, 2, 3)"}),
            "");
  TerminalSession session = StartOnTerminal({conn}, 24, 100, "C.UTF-8");
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  // After WHERE only the columns of the table named, listed at the second Tab.
  Type(session, "select * from orders where \t\t");
  at = WaitFor(session, "\r\namount  oid\r\n" + kPrompt + "select * from orders where ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // No table named yet: the columns of the whole schema.
  Type(session, kClearLine + "select full_n\t");
  at = WaitFor(session, "ame ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // A name with a blank: inside quotes, closing quote included and the blank after it, whether the quote
  // was typed or not. The list of its UTF-8 columns lines up by display columns, not bytes.
  Type(session, kClearLine + "select * from \"Zo\t");
  at = WaitFor(session, "ë Tea\" ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "where \t\t");
  at = WaitFor(session, "\r\nünï       名前      名前長い\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, kClearLine + "select 名前長\t from Zo\t\r");
  at = WaitFor(session, "│ 名前長い ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, " 3  │", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // A console command that takes a table name completes it too.
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "\\d ord\t\r");
  at = WaitFor(session, "amount", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // A table created in the session is offered at once.
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "create table fresh_table(x integer)\r");
  at = WaitFor(session, "0 rows affected", at);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "insert into fre\t values(7)\r");
  at = WaitFor(session, "1 row affected", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  ConsoleResult check = RunConsole({"-b", conn}, "select x from fresh_table\n");
  EXPECT_EQ(TableLines(check.out), (std::vector<std::vector<std::string>>{{"x"}, {"7"}})) << check.out;
}

}  // namespace
