// End-to-end tests of \copy and of COPY FROM STDIN in scripts, on SQLite through the real driver manager.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "console_runner.h"

namespace {

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

struct CopyTest : ::testing::Test {
  TempDir dir;
  std::string db = dir.path + "/copy.db";
  std::string conn = SqliteConnStr(db);
  // Runs a script in statement mode, batch, in a UTF-8 locale.
  ConsoleResult Script(const std::string& input) {
    ConsoleOptions options;
    options.locale = "C.UTF-8";
    return RunConsole({"-b", "-m", conn}, input, options);
  }
  // Rows of one table that the other lacks, both ways, and the two counts: "0|n|n" when equal.
  std::string Difference(const std::string& a, const std::string& b) {
    return DriverText(conn, "select ((select count(*) from (select * from " + a + " except select * from " + b + ")) + (select count(*) from (select * from " +
                                b + " except select * from " + a + "))) || '|' || (select count(*) from " + a + ") || '|' || (select count(*) from " + b + ")");
  }
};

// The console's own exports, CSV and TSV, of a table and of a query, load back into equal tables, blobs of
// every length among them; a query's rows stream into a table of the same source.
TEST_F(CopyTest, ExportsLoadBackIntoEqualTables) {
  const std::string columns = "(id integer primary key, name varchar(40), price real, note text, qty smallint, data blob)";
  ASSERT_EQ(ExecSql(conn, {"create table t" + columns, "create table u" + columns, "create table v" + columns, "create table w" + columns,
                           "insert into t values (1, 'a,b', 1.5, null, 3, x'00ff0a0d5c2c22'), (2, 'q\"x''y', -2.25, '', null, x''), "
                           "(3, '日本 😀', 3e100, 'line1' || char(13) || char(10) || 'line2' || char(10), 0, null), "
                           "(4, 'tab' || char(9) || 'x', 0.1, 'back\\slash \\N \\t', 7, x'27'), (5, '', 5, '\"', -1, x'0000'), "
                           "(6, null, null, null, null, null)",
                           "insert into t select 7, 'long', 0, replace(hex(zeroblob(5000000)), '00', 'xy'), 1, zeroblob(100000)"}),
            "");
  std::string csv = dir.path + "/t.csv";
  std::string tsv = dir.path + "/t.tsv";
  ConsoleResult run = Script("\\copy t to " + csv + "\n\\copy (select * from t where id > 1) to " + tsv + "\n\\copy u from " + csv +
                             "\n\\copy v from " + tsv + "\n\\copy (select * from t order by id desc) to :w\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "7 rows copied\n6 rows copied\n7 rows copied\n6 rows copied\n7 rows copied\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Difference("t", "u"), "0|7|7\n");
  EXPECT_EQ(Difference("(select * from t where id > 1)", "v"), "0|6|6\n");
  EXPECT_EQ(Difference("t", "w"), "0|7|7\n");
  // What --csv writes, and nothing beside the file.
  EXPECT_EQ(FileText(csv), RunConsole({"--csv", conn}, "select * from t\n").out);
  EXPECT_EQ(ShellOutput("ls " + dir.path), "copy.db\nt.csv\nt.tsv\n");
  // An export that fails leaves the file as it was, and nothing beside it.
  run = Script("\\copy (select * from nosuch) to " + csv + "\n");
  EXPECT_EQ(run.err, "[S1000] [SQLite]no such table: nosuch (1) (1)\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(FileText(csv), RunConsole({"--csv", conn}, "select * from t\n").out);
  EXPECT_EQ(ShellOutput("ls " + dir.path), "copy.db\nt.csv\nt.tsv\n");
}

// A header names the columns in any order; a column list takes the fields in its order; a name the table
// lacks loads nothing.
TEST_F(CopyTest, HeaderAndColumnListChooseTheColumns) {
  ASSERT_EQ(ExecSql(conn, {"create table t(id integer primary key, name text, price real default 9)"}), "");
  std::ofstream(dir.path + "/h.csv") << "price,ID,name\r\n1.5,1,one\r\n,2,\"two\r\n\"\r\n";
  std::ofstream(dir.path + "/l.tsv") << "3\tthree\n4\t\\N\n";
  std::ofstream(dir.path + "/bad.csv") << "id,colour\n5,red\n";
  ConsoleResult run = Script("\\copy t from " + dir.path + "/h.csv\n\\copy t (id, name) from " + dir.path + "/l.tsv noheader\n\\copy t from " +
                             dir.path + "/bad.csv\n");
  EXPECT_EQ(run.err, "\\copy: t has no column colour\n");
  EXPECT_EQ(run.out, "2 rows copied\n2 rows copied\n");
  EXPECT_EQ(DriverText(conn, "select id, name, price, typeof(price) from t order by id"),
            "1,one,1.5,real\n2,two\r\n,,null\n3,three,9.0,real\n4,,9.0,real\n");
}

// Bad input loses nothing: each failure leaves the table as it was and names the place, after earlier
// batches were sent.
TEST_F(CopyTest, BadInputLeavesTheTableAsItWasAndNamesThePlace) {
  ASSERT_EQ(ExecSql(conn, {"create table t(id integer primary key, name varchar(10) not null, note text)",
                           "insert into t values (0, 'before', null)", "create table src(id integer, name text, note text)",
                           "insert into src values (1, 'a', null), (2, null, 'x')"}),
            "");
  auto writeRows = [&](const std::string& name, long badLine, const std::string& badText) {
    std::ofstream file(dir.path + "/" + name);
    file << "id,name,note\n";
    for (long line = 2; line <= 5000; ++line) file << (line == badLine ? badText : std::to_string(line) + ",n" + std::to_string(line) + ",x") << "\n";
  };
  writeRows("quote.csv", 3001, "3001,\"open,x");
  writeRows("fields.csv", 4002, "4002,a");
  writeRows("null.csv", 2500, "2500,,x");
  writeRows("twice.csv", 1999, "3,again,x");
  writeRows("stray.csv", 1500, "1500,a\"b,x");
  std::string script;
  for (const char* name : {"quote", "fields", "null", "twice", "stray"}) script += "\\copy t from " + dir.path + "/" + name + ".csv\n";
  script += "\\copy src to :t\n";
  ConsoleResult run = Script(script);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "\\copy: " + dir.path + "/quote.csv:3001: a quoted field is not closed at the end of the file\nNothing was loaded.\n" +
                         "\\copy: " + dir.path + "/fields.csv:4002: 2 fields where 3 were expected\nNothing was loaded.\n" +
                         "[S1000] [SQLite]NOT NULL constraint failed: t.name (19) (19)\n"
                         "\\copy: " + dir.path + "/null.csv:2500, column name: NULL where the column takes none: the target refused the row\n"
                         "Nothing was loaded.\n"
                         "[S1000] [SQLite]UNIQUE constraint failed: t.id (19) (19)\n"
                         "\\copy: " + dir.path + "/twice.csv:1902-2001: the target refused a row among them\nNothing was loaded.\n" +
                         "\\copy: " + dir.path + "/stray.csv:1500: a quote inside a field that is not quoted\nNothing was loaded.\n" +
                         "[S1000] [SQLite]NOT NULL constraint failed: t.name (19) (19)\n"
                         "\\copy: row 2, column name: NULL where the column takes none: the target refused the row\nNothing was loaded.\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(DriverText(conn, "select * from t"), "0,before,\n");
}

// Ctrl-C while a load waits for its file cancels it: nothing is loaded, and a script ends there (130).
TEST_F(CopyTest, CtrlCDuringALoadLoadsNothing) {
  ASSERT_EQ(ExecSql(conn, {"create table t(id integer, name text)"}), "");
  std::string fifo = dir.path + "/slow.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    int fd = open(fifo.c_str(), O_WRONLY);
    std::string rows = "id,name\n";
    for (int i = 1; i <= 3000; ++i) rows += std::to_string(i) + ",n\n";
    ssize_t written = write(fd, rows.data(), rows.size());
    (void)written;
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    close(fd);
  });
  ConsoleOptions options;
  options.interruptAfterMs = 1200;
  ConsoleResult run = RunConsole({"-b", conn}, "\\copy t from " + fifo + "\nselect 'after'\n", options);
  writer.join();
  EXPECT_EQ(run.err, "Cancelled. Nothing was loaded.\n");
  EXPECT_EQ(run.status, 130);
  EXPECT_EQ(DriverText(conn, "select count(*) from t"), "0\n");
}

// A script's COPY FROM stdin loads the lines after it up to "\.", escapes undone; any other COPY through the
// client's streams is refused without reaching the driver; \restrict lets no command run until \unrestrict.
TEST_F(CopyTest, ScriptCopyLoadsItsDataAndRestrictHoldsCommandsBack) {
  ASSERT_EQ(ExecSql(conn, {"create table t(id integer, name text, note text)"}), "");
  std::string file = dir.path + "/dump.sql";
  std::ofstream(file) << "\\restrict k1\n"
                         "COPY t (id, name, note) FROM stdin;\n"
                         "1\ttab\\there\t\\N\n"
                         "2\t\\101\\x42\\\\\\.\t\n"
                         "3\tline\\nbreak\t\\r\n"
                         "\\.\n"
                         "\\i " + dir.path + "/other.sql\n"
                         "insert into t values (4, 'after', null);\n"
                         "COPY t TO stdout;\n"
                         "\\unrestrict wrong\n"
                         "\\unrestrict k1\n"
                         "COPY t (id) FROM stdin;\n"
                         "x\ty\n"
                         "\\.\n"
                         "insert into t values (5, 'end', null);\n";
  std::ofstream(dir.path + "/other.sql") << "insert into t values (99, 'hidden', null);\n";
  ConsoleResult run = RunConsole({"-f", file, conn}, "");
  EXPECT_EQ(run.out, "3 rows copied\n1 row affected\n1 row affected\n");
  EXPECT_EQ(run.err, "\\i not run: commands are restricted until \\unrestrict\n"
                     "COPY through the client's standard input or output is not sent to the driver, which would wait for ever: "
                     "use \\copy TABLE from FILE, or \\copy TABLE|(QUERY) to FILE\n"
                     "\\unrestrict: the key is not the one given to \\restrict\n"
                     "\\copy: " + file + ":13: 2 fields where 1 were expected\nNothing was loaded.\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(DriverText(conn, "select id, name, note is null, hex(note) from t order by id"),
            "1,tab\there,1,\n2,AB\\.,0,\n3,line\nbreak,0,0D\n4,after,1,\n5,end,1,\n");
  // A script piped to standard input carries its data the same way.
  run = RunConsole({"-b", conn}, "copy t (id, name) from stdin\n6\tpiped\n\\.\nselect count(*) from t\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(TableLines(run.out).back(), std::vector<std::string>{"6"}) << run.out;
}

}  // namespace

namespace {

// At a terminal a load longer than 2 seconds shows its rows so far on standard error, erased at the end.
TEST_F(CopyTest, ALongLoadShowsItsProgressAtATerminal) {
  ASSERT_EQ(ExecSql(conn, {"create table t(id integer, name text)"}), "");
  std::string fifo = dir.path + "/slow.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  TerminalSession session = StartOnTerminal(conn, 24, 100);
  size_t at = WaitFor(session, "SQL COMMAND>");
  ASSERT_TRUE(WaitForEditor(session));
  // Typed, a COPY FROM STDIN never reaches the driver.
  Type(session, "copy t from stdin\r");
  at = WaitFor(session, "use \\copy TABLE from FILE", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, "SQL COMMAND>", at);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "\\copy t from " + fifo + "\r");
  int fd = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  for (int second = 0; second < 4; ++second) {
    std::string rows = second == 0 ? "id,name\n" : "";
    for (int i = 1; i <= 2048; ++i) rows += std::to_string(second * 2048 + i) + ",n\n";
    ASSERT_EQ(write(fd, rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
  }
  close(fd);
  at = WaitFor(session, "8192 rows copied", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  size_t shown = session.screen.find(" rows, ");
  ASSERT_NE(shown, std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("rows/s\x1b[K", shown), std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("\r\x1b[K8192 rows copied"), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  EXPECT_EQ(DriverText(conn, "select count(*) from t"), "8192\n");
}

}  // namespace
