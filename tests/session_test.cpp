// End-to-end tests of the session: connecting, the prompt loop, row counts, diagnostics and bad input.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "console_runner.h"

namespace {

const std::string kBanner = "Enter SQL commands, type (control)Z to exit\nSQL COMMAND>";
const std::string kPrompt = "SQL COMMAND>";
const std::string kClosing = "\nDisconnected.";

struct SessionTest : ::testing::Test {
  TempDir dir;
  std::string db = dir.path + "/session.db";
  std::string conn = SqliteConnStr(db);
  void SetUp() override { ASSERT_EQ(ExecSql(conn, {"create table t(id integer, name text)"}), ""); }
};

TEST(SessionStart, WithoutConnectionStringReportsTheDriverManagerAndStillDisconnects) {
  ConsoleResult run = RunConsole({}, "");
  EXPECT_EQ(run.out, kClosing);
  EXPECT_EQ(run.err,
            "[IM002] [unixODBC][Driver Manager]Data source name not found and no default driver specified (0)\n"
            "Error in SQLDriverConnect(lpDbc, GetDesktopWindow(), szConnStr, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_COMPLETE)\n");
  EXPECT_EQ(run.status, 0);
}

TEST_F(SessionTest, PasswordsLeaveTheArgumentsAndMinusPWantsATerminal) {
  // While the console runs, ps and /proc show every password value masked; the console connected with
  // its own copy of the string.
  std::string args = conn + ";PWD={a;b}}c};pwdx=keep; Password =plain";
  TerminalSession session = StartOnTerminal({"-e", args}, 24, 100);
  ASSERT_NE(WaitFor(session, "SQL COMMAND>"), std::string::npos) << session.screen;
  std::ifstream file("/proc/" + std::to_string(session.pid) + "/cmdline", std::ios::binary);
  std::string cmdline((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(cmdline, std::string(ODBC_CONSOLE_PATH) + '\0' + "-e" + '\0' + conn +
                         ";PWD=********;pwdx=keep; Password =*****" + '\0');
  EXPECT_EQ(Finish(session), 0);
  // Asked for a password with no terminal to ask it on, the console ends before connecting.
  ConsoleOptions noTerminal;
  noTerminal.noTerminal = true;
  ConsoleResult run = RunConsole({"-p", conn}, "insert into t values(1, 'run')\n", noTerminal);
  EXPECT_EQ(run.err, "odbc-console: no terminal to ask the password on\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 2);
  run = RunConsole({"--csv", conn}, "select count(*) from t\n");
  EXPECT_EQ(run.out, "count(*)\n0\n");
}

TEST_F(SessionTest, EndOfInputAtFirstPromptDisconnects) {
  ConsoleResult run = RunConsole({conn, "ignored", "arguments"}, "");
  EXPECT_EQ(run.out, kBanner + kClosing);
  EXPECT_EQ(run.err, "Connected!\n");
  EXPECT_EQ(run.status, 0);
}

TEST_F(SessionTest, CountsEmptyLinesFailuresAndALastLineWithoutNewline) {
  std::string input =
      "insert into t values(1, 'a')\n"
      "\n"
      "insert into t select id + 1, name from t union all select id + 2, name from t\n"
      "delete from t where id > 100\n"
      "bogus statement\n"
      "   \n"
      "update t set name = 'b' where id = 3";
  ConsoleOptions merged;
  merged.mergeStreams = true;
  ConsoleResult run = RunConsole({conn}, input, merged);
  EXPECT_EQ(run.out,
            "Connected!\n" + kBanner + "1 row affected\n" + kPrompt + kPrompt + "2 rows affected\n" + kPrompt +
                "0 rows affected\n" + kPrompt + "[S1000] [SQLite]near \"bogus\": syntax error (1) (1)\n" + kPrompt +
                "0 rows affected\n" + kPrompt + "1 row affected\n" + kPrompt + kClosing);
  EXPECT_EQ(run.status, 0);
}

TEST_F(SessionTest, LongLineRunsWholeAndOnlyOnce) {
  std::string value(100000, 'x');
  value.replace(99990, 10, "0123456789");
  std::string input = "insert into t values(7, '" + value + "')\nselect length(name), substr(name, 99991) from t\n";
  ConsoleResult run = RunConsole({conn}, input);
  EXPECT_NE(run.out.find("1 row affected\n"), std::string::npos);
  EXPECT_NE(run.out.find("100000 | 0123456789"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "Connected!\n");
}

TEST_F(SessionTest, LineWithNulByteIsRefusedAndNothingRuns) {
  std::string input = std::string("insert into t values(1, 'kept')\ndelete from t") + '\0' + " where id = 2\n" +
                      "select count(*) from t\n";
  ConsoleOptions merged;
  merged.mergeStreams = true;
  ConsoleResult run = RunConsole({conn}, input, merged);
  EXPECT_NE(run.out.find("1 row affected\nSQL COMMAND>Statement contains a NUL byte and was not executed\nSQL COMMAND>"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("|          1  |"), std::string::npos) << run.out;
}

TEST_F(SessionTest, TruncatedTitleRecordIsNotPrinted) {
  // A 60-character name does not fit the title buffer: the driver adds a 01004 record, never shown.
  std::string name(60, 'n');
  ConsoleResult run = RunConsole({conn}, "select 1 as " + name + "\n");
  EXPECT_EQ(run.err, "Connected!\n");
  EXPECT_NE(run.out.find("| " + name.substr(0, 49) + std::string(11, ' ') + "  |"), std::string::npos) << run.out;
}

}  // namespace

// A driver that reports a connection exception (SQLSTATE class 08) but never says the connection is dead:
// the class alone tells the session that the connection is lost, and at a terminal it connects again.
TEST(LostConnection, ClassZeroEightAloneMakesTheTerminalReconnect) {
  std::string conn = std::string("Driver=") + FAKE_DRIVER_PATH + ";Database=none";
  TerminalSession session = StartOnTerminal(conn, 24, 100);
  size_t at = WaitFor(session, "SQL COMMAND>");
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "update t set a = 1 -- lose the connection\r");
  at = WaitFor(session, "[08S01] [fake] the link to the server broke", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, "The connection was lost. Reconnecting\xe2\x80\xa6 done.\r\n", at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "update t set a = 2\r");
  EXPECT_NE(WaitFor(session, "1 row affected", at), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}
