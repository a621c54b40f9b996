// End-to-end tests of the command line and of scripts: batch mode, stop on error, CSV and TSV export.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "console_runner.h"

namespace {

struct ScriptingTest : ::testing::Test {
  TempDir dir;
  std::string db = dir.path + "/script.db";
  std::string conn = SqliteConnStr(db);
  void SetUp() override {
    ASSERT_EQ(ExecSql(conn, {"create table p(id integer)",
                             "with recursive c(i) as (select 1 union all select i + 1 from c where i < 200) "
                             "insert into p select i from c"}),
              "");
  }
  std::string Count(const std::string& where) {
    auto lines = TableLines(RunConsole({"-b", conn}, "select count(*) from p where " + where + "\n").out);
    return lines.size() == 2 ? lines[1][0] : "?";
  }
};

TEST_F(ScriptingTest, BatchModeRunsEveryLineWithoutPromptsOrPauses) {
  ConsoleResult run = RunConsole({"--batch", conn}, "select id from p\ninsert into p values(201)\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.find("SQL COMMAND>"), std::string::npos);
  EXPECT_EQ(run.out.find("Press ENTER"), std::string::npos);
  EXPECT_EQ(run.out.find("Disconnected."), std::string::npos);
  auto lines = TableLines(run.out);
  ASSERT_EQ(lines.size(), 201u) << run.out;  // one header, then every row
  EXPECT_EQ(lines[200][0], "200");
  EXPECT_NE(run.out.find(std::string(15, ' ') + "\n1 row affected\n"), std::string::npos) << run.out;
  EXPECT_EQ(Count("id = 201"), "1");
}

TEST_F(ScriptingTest, FailuresSetTheStatusAndStopOnErrorEndsTheScript) {
  ConsoleResult run = RunConsole({"-b", conn}, "insert into nosuch values(1)\ninsert into p values(300)\n");
  EXPECT_EQ(run.err, "[S1000] [SQLite]no such table: nosuch (1) (1)\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Count("id = 300"), "1");
  // With -e nothing after the failure runs, in batch mode or at the console's prompt.
  for (const std::vector<std::string>& options : {std::vector<std::string>{"-b", "-e"}, std::vector<std::string>{"--stop-on-error"}}) {
    std::vector<std::string> args = options;
    args.push_back(conn);
    run = RunConsole(args, "insert into p values(301)\ninsert into nosuch values(1)\ninsert into p values(302)\n");
    EXPECT_EQ(run.status, 1);
  }
  EXPECT_EQ(Count("id = 301"), "2");
  EXPECT_EQ(Count("id = 302"), "0");
  // A connection that fails is a failure too.
  run = RunConsole({"-b", "Driver=NoSuchDriver"}, "select 1\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
}

TEST_F(ScriptingTest, CommandLineAnswersHelpVersionAndUnknownOptions) {
  for (const char* help : {"--help", "-h"}) {
    ConsoleResult run = RunConsole({help}, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.compare(0, 47, "Usage: odbc-console [OPTION]... [CONNECTION-STR"), 0) << run.out;
    EXPECT_NE(run.out.find("--csv"), std::string::npos);
    EXPECT_NE(run.out.find("odbc-console(1)"), std::string::npos);
    EXPECT_EQ(run.err, "");
  }
  ConsoleResult run = RunConsole({"--version"}, "");
  EXPECT_EQ(run.out, std::string("odbc-console ") + ODBC_CONSOLE_VERSION + "\n");
  EXPECT_EQ(run.status, 0);
  run = RunConsole({"--bogus", conn}, "insert into p values(400)\n");
  EXPECT_EQ(run.err, "odbc-console: unknown option '--bogus'\nTry 'odbc-console --help' for more information.\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(Count("id = 400"), "0");
  // "--" ends the options: a connection string after it is taken as it stands.
  run = RunConsole({"-b", "--", conn}, "select 'dashes'\n");
  EXPECT_NE(run.out.find("dashes"), std::string::npos) << run.err;
}

TEST_F(ScriptingTest, NothingRunsOnceTheReaderOfTheOutputHasGone) {
  // The listing waits in the buffer; the flush before the next read meets the broken pipe.
  ConsoleOptions gone;
  gone.stdoutReaderGone = true;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-b", conn}, std::vector<std::string>{conn},
                                               std::vector<std::string>{"--csv", conn}}) {
    ConsoleResult run = RunConsole(args, "select 1 as a\ninsert into p values(600)\n", gone);
    EXPECT_EQ(run.status, 141) << args[0];
    EXPECT_EQ(run.err.find("Error"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Count("id = 600"), "0");
  for (const char* option : {"--help", "--version"}) {
    ConsoleResult run = RunConsole({option}, "", gone);
    EXPECT_EQ(run.status, 141) << option;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(ScriptingTest, CsvKeepsEveryValueWholeAndReadsBackEqual) {
  std::string longText(10000, 'L');
  longText[9999] = 'E';
  ASSERT_EQ(ExecSql(conn, {"create table v(id integer, t text)", "insert into v values(1, 'a,b')",
                           "insert into v values(2, 'say \"hi\"')", "insert into v values(3, 'two' || char(10) || 'lines')",
                           "insert into v values(4, '')", "insert into v values(5, null)",
                           "insert into v values(6, '" + longText + "')", "insert into v values(7, 'Zoë 抹茶')",
                           "insert into v values(8, 'cr' || char(13) || 'lf')", "insert into v values(9, 'x' || char(27) || 'y')"}),
            "");
  std::string csvPath = dir.path + "/out.csv";
  ConsoleOptions toFile;
  toFile.stdoutFile = csvPath;
  ConsoleResult run = RunConsole({"--csv", conn}, "select id, t from v order by id\ninsert into p values(500)\n", toFile);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  std::ifstream file(csvPath, std::ios::binary);
  std::stringstream csv;
  csv << file.rdbuf();
  // NULL is an empty field and the empty string a quoted one; the row count of the insert is not there.
  const std::string head = "id,t\n1,\"a,b\"\n2,\"say \"\"hi\"\"\"\n3,\"two\nlines\"\n4,\"\"\n5,\n6,LLLL";
  EXPECT_EQ(csv.str().compare(0, head.size(), head), 0) << csv.str().substr(0, 80);
  EXPECT_NE(csv.str().find(std::string(9999, 'L') + "E\n7,Zoë 抹茶\n8,\"cr\rlf\"\n9,x\x1by\n"), std::string::npos);
  // Python's csv module reads back exactly what the table holds.
  std::string check = "python3 -c \"import csv, sqlite3, sys\n"
                      "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))\n"
                      "want = [['id', 't']] + [[str(i), '' if t is None else t] for i, t in "
                      "sqlite3.connect(sys.argv[2]).execute('select id, t from v order by id')]\n"
                      "sys.exit(0 if rows == want else 1)\" " + csvPath + " " + db;
  EXPECT_EQ(system(check.c_str()), 0);
}

TEST_F(ScriptingTest, CsvHeaderAndValuesAtTheBufferEdgesAreWholeAndQuoted) {
  // Names longer than the first name buffer (127 bytes and its NUL), names that need quotes, and values of
  // a short column around the least export buffer (64 bytes with the NUL).
  std::string longName(300, 'n');
  longName[299] = 'E';
  ASSERT_EQ(ExecSql(conn, {"create table h(\"" + longName.substr(0, 128) + "\" text, \"" + longName +
                               "\" text, \"a,b\" text, \"say \"\"hi\"\"\" text, \"two\nlines\" text, \"cr\rlf\" text, "
                               "v varchar(10))",
                           "insert into h(v) values('" + std::string(63, 'a') + "')",
                           "insert into h(v) values('" + std::string(64, 'b') + "')",
                           "insert into h(v) values('" + std::string(65, 'c') + "')"}),
            "");
  ConsoleResult run = RunConsole({"--csv", conn}, "select * from h order by v\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, longName.substr(0, 128) + "," + longName +
                         ",\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\rlf\",v\n"
                         ",,,,,," + std::string(63, 'a') + "\n,,,,,," + std::string(64, 'b') + "\n,,,,,," +
                         std::string(65, 'c') + "\n");
}

TEST_F(ScriptingTest, TsvEscapesSeparatorsAndMarksNull) {
  ASSERT_EQ(ExecSql(conn, {"create table v(a text, b text)", "insert into v values('tab' || char(9) || 'x', 'back\\slash')",
                           "insert into v values('', null)", "insert into v values('new' || char(10) || 'line', 'cr' || char(13))"}),
            "");
  ConsoleResult run = RunConsole({"--tsv", conn}, "select a, b from v\n");
  EXPECT_EQ(run.out, "a\tb\ntab\\tx\tback\\\\slash\n\t\\N\nnew\\nline\tcr\\r\n");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
