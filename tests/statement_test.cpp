// End-to-end tests of statements that span lines or share one: statement mode, SQL files, \i, \q and \?, on SQLite.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "console_runner.h"

namespace {

const std::string kPrompt = "SQL COMMAND>";
const std::string kContinuation = "        ...>";

struct StatementTest : ::testing::Test {
  TempDir dir;
  std::string db = dir.path + "/statements.db";
  std::string conn = SqliteConnStr(db);
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = dir.path + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string Query(const std::string& sql) { return ShellOutput("sqlite3 " + db + " \"" + sql + "\""); }
};

TEST_F(StatementTest, StatementModeCutsOnlyOutsideQuotesCommentsAndTriggerBodies) {
  ConsoleResult run = RunConsole({"-m", "-b", conn},
                                 "create table t(id integer,\n"
                                 "  s text);\n"
                                 "create table log(id integer, what text);\n"
                                 "create trigger t_log after insert on t begin\n"
                                 "  insert into log values(new.id, case when new.s like '%;%' then 'semi; colon' else 'plain' end);\n"
                                 "  update log set what = what || '!' where id = new.id;\n"
                                 "end;\n"
                                 "insert into t values(1, 'a;b'); insert into t values(2, 'it''s; ok'); insert into t values(3,\n"
                                 "'plain');\n"
                                 "create table [odd;name](\"col;x\" integer, `b;q` text);\n"
                                 "select 1 /* one; two */ + 1 as two;\n"
                                 "select 2 -- note; more\n"
                                 "  + 1 as three;\n"
                                 "   ;  -- nothing to run here; not even this\n"
                                 "select id, what from log order by id");
  // The driver refuses a ';' in a comment followed by more text: its diagnostic is shown as it stands.
  EXPECT_EQ(run.err, "[S1000] [SQLite]only one SQL statement allowed (-1)\n"
                     "[S1000] [SQLite]only one SQL statement allowed (-1)\n");
  EXPECT_EQ(run.status, 1);
  auto lines = TableLines(run.out);
  EXPECT_EQ(lines, (std::vector<std::vector<std::string>>{
                       {"id", "what"}, {"1", "semi; colon!"}, {"2", "semi; colon!"}, {"3", "plain!"}}))
      << run.out;
  EXPECT_EQ(Query(".schema odd;name"), "CREATE TABLE [odd;name](\"col;x\" integer, `b;q` text);\n");
}

TEST_F(StatementTest, Sqlite3DumpRestoresThroughAFileToTheSameSchemaAndData) {
  std::string source = dir.path + "/source.db";
  std::string setup = Write("setup.sql",
                            "create table item(id integer primary key, name text, note text);\n"
                            "create table audit(item integer, what text);\n"
                            "create view named as select id, name from item where name like '%;%';\n"
                            "create trigger item_audit after update on item begin\n"
                            "  insert into audit values(old.id, 'was ' || old.name || '; now ' || new.name);\n"
                            "  insert into audit values(new.id, case when new.note is null then 'no; note' else new.note end);\n"
                            "end;\n"
                            "insert into item values(1, 'a;b', 'line one\nline two');\n"
                            "insert into item values(2, 'quote''s; here', null);\n"
                            "insert into item values(3, '\"double\"; -- not a comment', '/* nor this; */');\n"
                            "update item set name = name || ';' where id = 2;\n");
  int status = 0;
  ShellOutput("sqlite3 " + source + " < " + setup, &status);
  ASSERT_EQ(status, 0);
  std::string dump = ShellOutput("sqlite3 " + source + " .dump");
  ASSERT_NE(dump.find("CREATE TRIGGER"), std::string::npos) << dump;
  std::string dumpFile = Write("dump.sql", dump);
  ConsoleResult run = RunConsole({"-f", dumpFile, conn}, "insert into nowhere values(1)\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ShellOutput("sqlite3 " + db + " .dump"), dump);
}

// BEGIN and END are names too: only "; END ;" ends a trigger, whatever its columns are called.
TEST_F(StatementTest, TriggersOnColumnsNamedBeginAndEndStayWholeAndRestoreFromADump) {
  ConsoleResult run = RunConsole({"-m", "-b", conn},
                                 "create table t(id integer, end integer, begin integer); create table log(x);\n"
                                 "create trigger tr after update of id on t begin\n"
                                 "  update t set end = 1 where id = new.id; delete from log;\n"
                                 "end;\n"
                                 "create trigger tr2 after insert on t begin update t set begin = 0 where id = new.id;\n"
                                 "  insert into log values (new.end); end;\n"
                                 "insert into log values (5); insert into t values (1, 7, 9);\n"
                                 "select x from log order by x;\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(TableLines(run.out), (std::vector<std::vector<std::string>>{{"x"}, {"5"}, {"7"}})) << run.out;
  EXPECT_EQ(Query("update t set id = 2; select id, end, begin from t; select count(*) from log"), "2|1|0\n0\n");
  // The dump of those triggers (new.end in them) restores to the same schema and data.
  std::string dump = ShellOutput("sqlite3 " + db + " .dump");
  std::string copy = dir.path + "/copy.db";
  run = RunConsole({"-f", Write("dump.sql", dump), SqliteConnStr(copy)}, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ShellOutput("sqlite3 " + copy + " .dump"), dump);
}

// Standard output and standard error in one file keep the order the console wrote them in, within one line
// of several statements as across lines: a table, the next statement's error, a count, a command's error.
TEST_F(StatementTest, OutputAndErrorsInOneFileKeepTheirOrder) {
  ConsoleOptions options;
  options.mergeStreams = true;
  ConsoleResult run = RunConsole({"-m", "-b", conn}, "create table p(id integer); select 41 + 1 as a; select * from nosuch; insert into p values (1);\n\\nosuch\n", options);
  size_t table = run.out.find("42");
  size_t error = run.out.find("no such table: nosuch");
  size_t count = run.out.find("1 row affected");
  size_t command = run.out.find("nosuch", count == std::string::npos ? 0 : count);
  EXPECT_TRUE(table < error && error < count && count < command && command != std::string::npos) << run.out;
}

TEST_F(StatementTest, FilesCommandsAndBadInputLoseNothing) {
  ASSERT_EQ(ExecSql(conn, {"create table p(id integer, t text)"}), "");
  // A file that cannot be read: named with the reason, before connecting.
  ConsoleResult run = RunConsole({"--file=" + dir.path + "/missing.sql", "Driver=NoSuchDriver"}, "");
  EXPECT_EQ(run.err, "odbc-console: cannot read '" + dir.path + "/missing.sql': No such file or directory\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 2);
  // Text that ends inside a quote or comment is reported, never sent cut; what came before ran.
  std::string quote = Write("quote.sql", "insert into p values(1, 'one;');\ninsert into p values(2, 'two\n;\n");
  std::string comment = Write("comment.sql", "insert into p values(3, 'three') /* first */;\n/* insert into p values(4, 'x');\n");
  run = RunConsole({"-f", quote, conn}, "");
  EXPECT_EQ(run.err, quote + ":2: statement not run: unterminated quoted string\n");
  EXPECT_EQ(run.status, 1);
  run = RunConsole({"--file", comment, conn}, "");
  EXPECT_EQ(run.err, comment + ":2: statement not run: unterminated comment\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Query("select group_concat(id || t, ' ') from p"), "1one; 3three\n");
  // \i at the prompt runs a file and comes back; \? lists the commands; an unknown one is reported;
  // \q ends the session.
  std::string more = Write("more.sql", "insert into p values(5,\n 'five');\nselect count(*) as n from p");
  run = RunConsole({conn}, "\\i " + more + "\n  \\?\n\\nope x\nselect max(id) as m from p\n\\q\ninsert into p values(6, 'never')\n");
  EXPECT_EQ(run.err, "Connected!\nInvalid command \\nope. Try \\? for help.\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find(kPrompt + "1 row affected\n| n           |\n|          3  |\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  \\i FILE             run the SQL statements of FILE, then come back\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  \\q                  end the session\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("|          5  |"), std::string::npos) << run.out;
  // An unknown command is a failed statement for -b and -e; -f goes with --csv.
  run = RunConsole({"-b", "-e", conn}, "\\nope\ninsert into p values(7, 'never')\n");
  EXPECT_EQ(run.status, 1);
  run = RunConsole({"--csv", "-f", more, conn}, "");
  EXPECT_EQ(run.out, "n\n4\n");
  EXPECT_EQ(Query("select group_concat(id, ' ') from p"), "1 3 5 5\n");
}

TEST_F(StatementTest, AtATerminalTheContinuationPromptCtrlCAndCtrlDGuardUnfinishedStatements) {
  ASSERT_EQ(ExecSql(conn, {"create table p(id integer)"}), "");
  TerminalSession session = StartOnTerminal({"-m", conn}, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 40\r");
  at = WaitFor(session, kContinuation, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "  + 2 as answer; select 'same line' as s;\r");
  at = WaitFor(session, "| same line", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("42  |"), std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  // Ctrl-C at the continuation prompt discards the statement so far.
  Type(session, "insert into p\r");
  at = WaitFor(session, kContinuation, at);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "values(1)\x03");
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, ";\r");
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  // A statement is one history entry: Up recalls both of its lines, and it runs again.
  Type(session, "\x1b[A\x1b[A\r");
  at = WaitFor(session, "42  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  // Ctrl-D with an unfinished statement runs nothing of it.
  Type(session, "insert into p values(2);\rinsert into p values(3)\r");
  at = WaitFor(session, kContinuation, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "\x04");
  at = WaitFor(session, "Disconnected.", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("statement not run: input ended before the statement was complete"), std::string::npos)
      << session.screen;
  int status = 0;
  waitpid(session.pid, &status, 0);
  close(session.master);
  EXPECT_EQ(Query("select group_concat(id, ' ') from p"), "2\n");
}

}  // namespace
