// End-to-end tests against a real Virtuoso server, whose ODBC driver is its own: types, failures, long
// listings, exports, and Ctrl-C on a driver that a concurrent cancel would crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <unistd.h>

#include "console_runner.h"

namespace {

const std::string kPrompt = "SQL COMMAND>";
const std::string kCtrlC = "\x03";
const std::string kCannotCancel =
    "This driver cannot cancel a running statement: it runs to its end, and its result is discarded.\n";

// One server for the whole suite (ctest's fixture, or one of its own when the suite runs alone), stopped at
// the end even when tests fail.
TestServer gServer;

// The connection string of the suite's server; the driver is named by the path the script found.
std::string VirtuosoConnStr() {
  std::ifstream driverFile(gServer.dir + "/driver");
  std::string driver;
  std::getline(driverFile, driver);
  return "Driver=" + driver + ";Host=127.0.0.1:" + std::to_string(gServer.port) + ";UID=dba;PWD=dba";
}

struct ServerEnvironment : ::testing::Environment {
  void SetUp() override { gServer = SuiteServer(VIRTUOSO_SERVER_SCRIPT); }
  void TearDown() override { StopTestServer(gServer); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

struct VirtuosoTest : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(gServer.running) << "the Virtuoso server did not start"; }
  ConsoleResult Run(const std::string& input, std::vector<std::string> args = {}) {
    ConsoleOptions options;
    options.mergeStreams = true;
    options.locale = "C.UTF-8";
    args.push_back(VirtuosoConnStr());
    return RunConsole(args, input, options);
  }
};

// Counts the occurrences of text in s.
size_t Occurrences(const std::string& s, const std::string& text) {
  size_t count = 0;
  for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + text.size())) ++count;
  return count;
}

TEST_F(VirtuosoTest, EveryTypeShowsWholeAndWideTextIsText) {
  ConsoleResult run = Run(
      "create table types(k integer primary key, i integer, b bigint, f double precision, d decimal(20,5), "
      "v varchar(20), n nvarchar(10), t datetime)\n"
      "insert into types values(1, -2147483647, -9223372036854775808, 1.5e300, -123456789012345.12345, 'Zoë 抹茶', "
      "N'Zoë 抹茶', {ts '2024-12-08 10:11:12.123456'})\n"
      "insert into types(k) values(2)\n"
      "select i, b, f, d, v, n, t from types order by k\n"
      "drop table types\n",
      {"-b"});
  EXPECT_EQ(run.status, 0) << run.out;
  auto lines = TableLines(run.out, "│");
  ASSERT_EQ(lines.size(), 3u) << run.out;
  // DATETIME fractions are wider than the display size the driver reports: the value widens its line.
  EXPECT_EQ(lines[1], (std::vector<std::string>{"-2147483647", "-9223372036854775808", "1.5e+300", "-123456789012345.12345",
                                                "Zoë 抹茶", "Zoë 抹茶", "2024-12-08 10:11:12.123456"}))
      << run.out;
  EXPECT_EQ(lines[2], std::vector<std::string>(7, "<NULL>")) << run.out;
  // NVARCHAR comes back as a wide-character type: left-aligned text, like VARCHAR beside it.
  EXPECT_NE(run.out.find("│ Zoë 抹茶   │ 2024-12-08"), std::string::npos) << run.out;
}

TEST_F(VirtuosoTest, FailingStatementsReportTheDriversRecords) {
  ConsoleResult run = Run(
      "create table t_fail(i integer primary key)\n"
      "insert into t_fail values(1)\n"
      "insert into t_fail values(1)\n"
      "select nosuch from t_fail\n"
      "drop table t_fail\n");
  EXPECT_EQ(run.status, 0);
  const std::string driver = "[OpenLink][Virtuoso iODBC Driver][Virtuoso Server]";
  EXPECT_EQ(run.out, "Connected!\nEnter SQL commands, type (control)Z to exit\n" + kPrompt + "0 rows affected\n" + kPrompt +
                         "1 row affected\n" + kPrompt + "[23000] " + driver +
                         "SR175: Uniqueness violation : Violating unique index T_FAIL on table DB.DBA.T_FAIL. "
                         "Transaction killed. (-1)\n" +
                         kPrompt + "[S0022] " + driver + "SQ200: No column NOSUCH. (-1)\n" + kPrompt + "0 rows affected\n" +
                         kPrompt + "\nDisconnected.");
}

TEST_F(VirtuosoTest, DescribeListsIndexesWithoutTheTableStatisticsRow) {
  ConsoleResult run = Run("create table d_t(id integer primary key, name varchar(20))\ncreate index d_t_name on d_t(name)\n");
  ASSERT_EQ(run.status, 0) << run.out;
  run = Run("\\d d_t\n", {"-b"});
  EXPECT_EQ(run.status, 0) << run.out;
  auto lines = TableLines(run.out, "│");
  auto indexes = std::find(lines.begin(), lines.end(), std::vector<std::string>{"non-unique", "index", "position", "column", "order"});
  ASSERT_NE(indexes, lines.end()) << run.out;
  std::vector<std::vector<std::string>> rows(indexes + 1, lines.end());
  std::sort(rows.begin(), rows.end());  // the driver orders them as it likes
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"0", "D_T", "1", "ID", "<NULL>"}, {"1", "D_T_NAME", "1", "NAME", "<NULL>"}}))
      << run.out;
  EXPECT_EQ(run.out.find("│ <NULL>     │ <NULL>"), std::string::npos) << run.out;
}

TEST_F(VirtuosoTest, LongListingPagesAndListsEveryRowInEveryFormat) {
  ConsoleResult fill = Run(
      "create table big(i integer primary key, s varchar(20))\n"
      "create procedure fill_big() { declare n integer; n := 1; while (n <= 20000) { "
      "insert into big values(n, sprintf('row %d', n)); n := n + 1; } }\n"
      "fill_big()\n");
  ASSERT_EQ(fill.status, 0) << fill.out;
  // Paged: one Enter shows the second page, q ends the listing and the next statement runs.
  ConsoleResult paged = Run("select i, s from big order by i\n\nq\nselect count(*) as c from big\n");
  auto lines = TableLines(paged.out, "│");
  ASSERT_GT(lines.size(), 100u) << paged.out;
  ASSERT_EQ(lines.back(), std::vector<std::string>{"20000"}) << paged.out;
  size_t rows = lines.size() - 2;  // the count's header follows the pause prompt on its line
  EXPECT_EQ(Occurrences(paged.out, "Press ENTER to continue, Q to quit"), 2u) << paged.out;
  for (size_t row = 1; row <= rows; ++row) {
    ASSERT_EQ(lines[row], (std::vector<std::string>{std::to_string(row), "row " + std::to_string(row)})) << paged.out;
  }
  // Whole, in a table without pauses and in CSV and TSV.
  ConsoleResult table = Run("select i, s from big order by i\n", {"-b"});
  lines = TableLines(table.out, "│");
  ASSERT_EQ(lines.size(), 20001u);
  EXPECT_EQ(lines[20000], (std::vector<std::string>{"20000", "row 20000"}));
  for (const char* format : {"--csv", "--tsv"}) {
    ConsoleResult exported = Run("select i, s from big order by i\n", {format});
    std::string expected = format == std::string("--csv") ? "I,S\n" : "I\tS\n";
    for (int row = 1; row <= 20000; ++row) {
      expected += std::to_string(row) + (format == std::string("--csv") ? "," : "\t") + "row " + std::to_string(row) + "\n";
    }
    EXPECT_EQ(exported.out, expected) << format;
    EXPECT_EQ(exported.status, 0) << format;
  }
  Run("drop procedure fill_big\ndrop table big\n");
}

TEST_F(VirtuosoTest, CsvAndTsvWriteValuesWhole) {
  const std::string query =
      "select 'a,b' as x, 'tab' || chr(9) || 'nl' || chr(10) || 'q\"' as y, null as z, '' as e, N'Zoë 抹茶' as w, "
      "repeat('y', 70000) as l\n";
  ConsoleResult csv = Run(query, {"--csv"});
  EXPECT_EQ(csv.out, "X,Y,Z,E,W,L\n\"a,b\",\"tab\tnl\nq\"\"\",,\"\",Zoë 抹茶," + std::string(70000, 'y') + "\n");
  ConsoleResult tsv = Run(query, {"--tsv"});
  EXPECT_EQ(tsv.out, "X\tY\tZ\tE\tW\tL\na,b\ttab\\tnl\\nq\"\t\\N\t\tZoë 抹茶\t" + std::string(70000, 'y') + "\n");
}

// Every type goes out with \copy and back into an equal table, CSV and TSV, compared by the server: bigints
// beyond 32 bits, binary values, NULL against '', quotes, line ends, tabs, backslashes, CJK and emoji, 10 MB.
// A row the target refuses in the middle of a file leaves the table as it was and is named.
TEST_F(VirtuosoTest, CopyRoundTripsEveryTypeAndAFailureLoadsNothing) {
  const std::string columns = "(k integer primary key, i integer, b bigint, f double precision, d decimal(20,5), v varchar(20), "
                              "n nvarchar(10), t datetime, bi varbinary(20), lv long varchar, lb long varbinary)";
  TempDir dir;
  ConsoleResult run = Run("create table cp_ty" + columns + "\ncreate table cp_csv" + columns + "\ncreate table cp_tsv" + columns +
                          "\ninsert into cp_ty values(1, -2147483647, -9223372036854775808, 1.5e300, -123456789012345.12345, "
                          "'a,b\"c''d', N'Zoë 抹茶😀', {ts '2024-12-08 10:11:12.123456'}, cast('abc' as varbinary), "
                          "'line1\\r\\nline2\\ttab\\\\back \\\\N', cast('hello' as varbinary))\n"
                          "insert into cp_ty(k, b, v, n, lv, bi) values(2, 9223372036854775807, '', N'', '', cast('' as varbinary))\n"
                          "insert into cp_ty(k) values(3)\ninsert into cp_ty(k, b, v, lv) values(4, -2147483649, 'x', repeat('long', 2500000))\n"
                          "\\copy cp_ty to " + dir.path + "/ty.csv\n\\copy cp_ty to " + dir.path + "/ty.tsv tsv\n"
                          "\\copy cp_csv from " + dir.path + "/ty.csv\n\\copy cp_tsv from " + dir.path + "/ty.tsv tsv\n");
  EXPECT_EQ(Occurrences(run.out, "4 rows copied\n"), 4u) << run.out;
  for (const char* copy : {"cp_csv", "cp_tsv"}) {
    std::string same = "select count(*) from cp_ty a, " + std::string(copy) + " b where a.k = b.k";
    for (const char* column : {"i", "b", "f", "d", "v", "n", "t", "bi"}) {
      same += " and (a." + std::string(column) + " = b." + column + " or a." + column + " is null and b." + column + " is null)";
    }
    for (const char* column : {"lv", "lb"}) {
      same += " and md5(coalesce(blob_to_string(a." + std::string(column) + "), 'no value')) = md5(coalesce(blob_to_string(b." + column +
              "), 'no value'))";
    }
    EXPECT_NE(Run(same + "\n").out.find("4 "), std::string::npos) << copy;
  }
  std::ofstream file(dir.path + "/dup.csv");
  file << "k,v\n";
  for (int line = 2; line <= 3000; ++line) file << (line == 2500 ? 102 : line + 100) << ",v" << line << "\n";
  file.close();
  run = Run("\\copy cp_tsv (k, v) from " + dir.path + "/dup.csv\nselect count(*) from cp_tsv\n");
  EXPECT_NE(run.out.find("\\copy: " + dir.path + "/dup.csv:2500: the target refused the row\nNothing was loaded.\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("4 "), std::string::npos) << run.out;
  Run("drop table cp_ty\ndrop table cp_csv\ndrop table cp_tsv\n");
}

// A procedure's { } body, nested, with braces and ';' in its strings and comments, is one statement in
// statement mode, in a -f file and in a \i file.
TEST_F(VirtuosoTest, ProcedureBodiesInBracesAreOneStatementEverywhere) {
  const std::string script =
      "create procedure twice (in n int) { declare r int; declare s varchar; s := '}; {';\n"
      "  r := n * 2; if (n > 0) { r := r + length(s) - 4; } -- } ;\n"
      "  return r; /* } ; */ };\n"
      "select twice(21) as t;\n"
      "drop procedure twice;\n";
  TempDir dir;
  std::string file = dir.path + "/twice.sql";
  std::ofstream(file, std::ios::binary) << script;
  for (const auto& [input, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {script, {"-m", "-b"}}, {"", {"-f", file}}, {"\\i " + file + "\n", {"-b"}}}) {
    ConsoleResult run = Run(input, args);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(Occurrences(run.out, "SQ074"), 0u) << run.out;
    auto lines = TableLines(run.out, "│");
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[1], std::vector<std::string>{"42"}) << run.out;
  }
}

TEST_F(VirtuosoTest, CtrlCWhileExecutingNeverCrashesAndTheSessionGoesOn) {
  TerminalSession session = StartOnTerminal(VirtuosoConnStr(), 24, 120);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  // Twice during one statement: said once; the statement runs to its end.
  Type(session, "delay(3)\r");
  at = WaitFor(session, "delay(3)\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  usleep(300000);
  Type(session, kCtrlC);
  at = WaitFor(session, "its result is discarded.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, kCtrlC);
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  // A result set that ends after Ctrl-C is not listed.
  Type(session, "select delay(2) as d, 'shown' as w\r");
  at = WaitFor(session, "as w\r\n", at);
  usleep(300000);
  Type(session, kCtrlC);
  at = WaitFor(session, "its result is discarded.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  // The next statement runs on the same connection.
  Type(session, "create table after_cancel(i integer)\r");
  at = WaitFor(session, "0 rows affected", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "drop table after_cancel\r");
  at = WaitFor(session, "0 rows affected", at);
  ASSERT_TRUE(WaitForEditor(session));
  EXPECT_EQ(Finish(session), 0) << session.screen;
  EXPECT_EQ(Occurrences(session.screen, "This driver cannot cancel a running statement"), 2u) << session.screen;
  EXPECT_EQ(Occurrences(session.screen, "shown"), 1u) << session.screen;  // as typed, never as a value

  // A script is not cancelled either: it stops after the statement, with status 130, and no more runs.
  ConsoleOptions options;
  options.interruptAfterMs = 1000;
  ConsoleResult script = RunConsole({VirtuosoConnStr()}, "delay(3)\ncreate table after_script(i integer)\n", options);
  EXPECT_EQ(script.status, 130);
  EXPECT_EQ(script.err, "Connected!\n" + kCannotCancel);
  ConsoleResult check = Run("drop table after_script\n");
  EXPECT_NE(check.out.find("[S0002]"), std::string::npos) << check.out;
}

// Titles as the driver's SQLDescribeCol gives them: Virtuoso's string attributes, the label among them,
// are written past their buffer, so a title longer than the first name buffer must not be read as one.
TEST_F(VirtuosoTest, TitlesComeFromDescribeColAndAGoodScriptIsQuiet) {
  ConsoleOptions utf8;
  utf8.locale = "C.UTF-8";
  ConsoleResult run = RunConsole({"--csv", VirtuosoConnStr()},
                                 "select 1 as \"x.y\", 2 as \"version 1.2\", 3 as \"" + std::string(200, 'a') + "\"\n", utf8);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.compare(0, 20, "x.y,version 1.2,aaaa"), 0) << run.out;
  EXPECT_NE(run.out.find("\n1,2,3\n"), std::string::npos) << run.out;
}

}  // namespace
