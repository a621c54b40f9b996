// End-to-end tests of named connections, \c and the type mapping on SQLite: two databases in one session.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "console_runner.h"
#include "display/output.h"
#include "type_mapping_check.h"

namespace {

struct ConnectionsTest : ::testing::Test {
  TempDir dir;
  std::string first = SqliteConnStr(dir.path + "/first.db");
  std::string second = SqliteConnStr(dir.path + "/second.db");
  void SetUp() override {
    ASSERT_EQ(ExecSql(first, {"create table t(v varchar(10))", "insert into t values('one')"}), "");
    ASSERT_EQ(ExecSql(second, {"create table t(v varchar(10))", "insert into t values('two')"}), "");
  }
};

TEST_F(ConnectionsTest, NamedConnectionsOpenListAndCloseBesideTheSessionsOwn) {
  // The name as its own word, the string with its blanks; a failed open keeps the one of that name.
  ConsoleResult run = RunConsole({"-b", first},
                                 "\\connect other  " + second + "\n"
                                 "\\connect third " + second + "\n"
                                 "\\conninfo\n"
                                 "\\connect other Driver=NoSuchDriver\n"
                                 "\\connect nosuchdsn\n"
                                 "\\connect bad:name " + second + "\n"
                                 "\\disconnect third\n"
                                 "\\disconnect third\n"
                                 "\\conninfo\n"
                                 "select v from t\n");
  EXPECT_EQ(run.status, 1);
  std::string named = "Named connections:\n  other: SQLite 3.";
  size_t firstList = run.out.find(named);
  ASSERT_NE(firstList, std::string::npos) << run.out;
  EXPECT_NE(run.out.find(", database " + dir.path + "/second.db\n  third: SQLite 3.", firstList), std::string::npos) << run.out;
  size_t secondList = run.out.find(named, firstList + 1);
  ASSERT_NE(secondList, std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("third", secondList), std::string::npos) << run.out;
  // The session's own connection never moved.
  EXPECT_NE(run.out.find("Database: " + dir.path + "/first.db\n"), std::string::npos) << run.out;
  EXPECT_EQ(TableLines(run.out).back(), (std::vector<std::string>{"one"}));
  EXPECT_NE(run.err.find("Error in SQLDriverConnect("), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("The connection other stays as it was.\n"
                         "\\connect: no data source named 'nosuchdsn' (\\connect NAME CONNECTION-STRING opens any other)\n"
                         "\\connect: 'bad:name' is not a connection name (letters, digits, _ and -)\n"
                         "\\disconnect: no connection named 'third'\n"),
            std::string::npos)
      << run.err;
  // A DSN the driver manager knows names the connection. Any connection through a DSN leaves blocks of the
  // driver stack unfreed in a library it unloads, which no suppression can name: leaks are not looked for.
  std::string odbcIni = dir.path + "/odbc.ini";
  std::ofstream(odbcIni) << "[second_dsn]\nDriver=SQLite3\nDatabase=" << dir.path << "/second.db\n";
  ConsoleOptions options;
  options.extraEnv = {"ODBCINI=" + odbcIni, "LSAN_OPTIONS=detect_leaks=0"};
  run = RunConsole({"-b", first}, "\\connect second_dsn\n\\conninfo\n", options);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Named connections:\n  second_dsn: SQLite 3."), std::string::npos) << run.out;
}

TEST_F(ConnectionsTest, ReplacingTheSessionsConnectionKeepsTheOldOneWhenTheNewOneFails) {
  ConsoleResult run = RunConsole({first},
                                 "\\c Driver=NoSuchDriver;Database=x\n"
                                 "select v from t\n"
                                 "\\c " + second + "\n"
                                 "select v from t\n"
                                 "\\c\n"
                                 "select v from t\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("Error in SQLDriverConnect("), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Previous connection kept.\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Connected to SQLite 3."), std::string::npos) << run.err;
  std::vector<std::vector<std::string>> lines = TableLines(run.out);
  ASSERT_EQ(lines.size(), 6u) << run.out;
  EXPECT_EQ(lines[1], (std::vector<std::string>{"one"}));
  EXPECT_EQ(lines[3], (std::vector<std::string>{"two"}));
  EXPECT_EQ(lines[5], (std::vector<std::string>{"two"}));
}

TEST_F(ConnectionsTest, ConnectionStringsNeverReachTheHistoryFile) {
  std::string file = dir.path + "/history";
  TerminalSession session = StartOnTerminal({first}, 24, 200, "C", {"ODBC_CONSOLE_HISTFILE=" + file});
  size_t at = WaitFor(session, "SQL COMMAND>");
  for (const std::string& line : std::vector<std::string>{"\\connect other " + second, "\\c " + second, "select 'kept' as k"}) {
    ASSERT_TRUE(WaitForEditor(session));
    Type(session, line + "\r");
    at = WaitFor(session, "SQL COMMAND>", at);
    ASSERT_NE(at, std::string::npos) << session.screen;
  }
  EXPECT_EQ(Finish(session), 0);
  std::ifstream history(file);
  std::stringstream text;
  text << history.rdbuf();
  EXPECT_EQ(text.str(), "select 'kept' as k\n");
}

TEST_F(ConnectionsTest, TypesMapIntoSqliteAndAMissingTableIsFound) {
  std::string source = SqliteConnStr(dir.path + "/source.db");
  ASSERT_EQ(ExecSql(source, {kSqliteMatrixTable}), "");
  TypeMappingRun mapped = CreateFromSource(source, "select * from matrix", second, "copied \"table\"");
  ASSERT_TRUE(mapped.error.empty()) << mapped.error;
  EXPECT_FALSE(mapped.fExistedBefore);
  EXPECT_TRUE(mapped.fExistsAfter);
  EXPECT_EQ(mapped.createText,
            "CREATE TABLE \"copied \"\"table\"\"\" (\"i\" integer, \"b\" bigint, \"s\" smallint, "
            "\"n\" double, \"d\" double, \"r\" double, \"c\" varchar(5), \"v\" varchar(40), \"t\" text, "
            "\"dt\" date, \"tm\" time, \"ts\" timestamp, \"bl\" varbinary)");
}

TEST_F(ConnectionsTest, ATableIsFoundByItsExactNameAndAColumnNoTypeHoldsIsRefused) {
  ASSERT_EQ(ExecSql(second, {"create table abxc(x)", "create table ab_c(x)"}), "");
  Connection target;
  ASSERT_TRUE(AllocateEnvironment(target) && Connect(target, second));
  bool fExists = false;
  // _ is a catalog pattern's any character: ab_c is not abxc; SQLite matches names in any case.
  ASSERT_TRUE(TableExists(target, "a_xc", &fExists));
  EXPECT_FALSE(fExists);
  ASSERT_TRUE(TableExists(target, "AB_C", &fExists));
  EXPECT_TRUE(fExists);
  std::string text = "untouched";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(CreateTableText(target, "t", {{"ok", SQL_INTEGER, 10, 0, SQL_NULLABLE}, {"odd", 999, 4, 0, SQL_NULLABLE}}, &text));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "SQLite has no type for column odd (SQL type 999, size 4, scale 0)\n");
  EXPECT_EQ(text, "untouched");
}

}  // namespace
