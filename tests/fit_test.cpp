// End-to-end tests of the fitted table and of choosing the format, on SQLite: widths from the data, whole values, cuts at a terminal.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "console_runner.h"

namespace {

// The lines of text in out, without their newlines.
std::vector<std::string> Lines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Display columns of a UTF-8 line of the sample's text: every character but a CJK one takes one.
size_t Columns(const std::string& line) {
  size_t columns = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(line[i]);
    if ((byte & 0xC0) == 0x80) continue;
    columns += byte >= 0xE4 && byte <= 0xE9 ? 2 : 1;  // U+4000 to U+9FFF: the sample's Chinese characters
  }
  return columns;
}

struct FitTest : ::testing::Test {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/fit.db");
};

TEST_F(FitTest, SampleCustomersFitTheirDataAndValuesStayWhole) {
  std::ifstream file(std::string(PROJECT_SOURCE_DIR) + "/scripts/shop.sql");
  std::stringstream shop;
  shop << file.rdbuf();
  ConsoleResult load = RunConsole({"-b", conn}, shop.str());
  ASSERT_EQ(load.err, "");
  ConsoleOptions utf8;
  utf8.locale = "C.UTF-8";
  ConsoleResult run = RunConsole({"-b", "--format=fit", conn}, "select * from customers\n", utf8);
  EXPECT_EQ(run.err, "");
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 8u) << run.out;
  EXPECT_EQ(lines[0], "│ id │ name              │ city      │ joined     │ email            │");
  EXPECT_EQ(lines[2], "│  2 │ Zoë Ångström      │ Göteborg  │ 2022-07-01 │ <NULL>           │");
  EXPECT_EQ(lines[5], "│  5 │ 李小龙            │ 香港      │ 2019-05-30 │ lee@example.hk   │");
  // psql's aligned output of the same table is 68 columns: with the two outer bars, 70.
  for (const std::string& line : lines) EXPECT_EQ(Columns(line), 70u) << line;

  // Text past 50 characters and its display size shows whole; a number right-aligned, NULL left.
  ASSERT_EQ(ExecSql(conn, {"create table notes(n integer, body varchar(10))",
                           "insert into notes values(7, '" + std::string(120, 'x') + "')",
                           "insert into notes values(12345, null)"}),
            "");
  run = RunConsole({"-b", conn}, "\\format fit\nselect * from notes\n\\format table\nselect * from notes\n");
  EXPECT_EQ(run.err, "");
  lines = Lines(run.out);
  ASSERT_GE(lines.size(), 9u) << run.out;
  EXPECT_EQ(lines[0], "Output format is fit.");
  EXPECT_EQ(lines[1], "| n     | body" + std::string(117, ' ') + "|");
  EXPECT_EQ(lines[2], "|     7 | " + std::string(120, 'x') + " |");
  EXPECT_EQ(lines[3], "| 12345 | <NULL>" + std::string(115, ' ') + "|");
  EXPECT_EQ(lines[4], std::string(lines[1].size(), ' '));  // the end bar, as wide as the lines
  EXPECT_EQ(lines[5], "Output format is table.");
  EXPECT_EQ(lines[7].find(std::string(51, 'x')), std::string::npos) << lines[7];  // the table still cuts
}

TEST_F(FitTest, WidthsComeFromTheFirstThousandRowsAndALaterWiderValueWidensItsOwnLine) {
  // Row 1,000 is the widest held; row 1,001 is wider still and comes after the widths are fixed.
  ASSERT_EQ(ExecSql(conn, {"create table t(k integer, s text)",
                           "with recursive c(x) as (select 1 union all select x + 1 from c where x < 999) "
                           "insert into t select x, 'ab' from c",
                           "insert into t values(1000, 'twelve chars')", "insert into t values(100000, '" + std::string(30, 'w') + "')",
                           "insert into t values(1002, null)"}),
            "");
  ConsoleResult run = RunConsole({"-b", "--format=fit", conn}, "select k, s from t order by rowid\n");
  EXPECT_EQ(run.err, "");
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 1004u);
  EXPECT_EQ(lines[0], "| k    | s            |");
  EXPECT_EQ(lines[1000], "| 1000 | twelve chars |");
  EXPECT_EQ(lines[1001], "| 100000 | " + std::string(30, 'w') + " |");
  EXPECT_EQ(lines[1002], "| 1002 | <NULL>       |");
  EXPECT_EQ(lines[1003].size(), lines[0].size());
  // A result that ends before 1,000 rows is held whole: its last row widens the column.
  run = RunConsole({"-b", "--format=fit", conn}, "select s from t where k >= 1000 order by k\n");
  EXPECT_EQ(Lines(run.out)[0], "| s" + std::string(30, ' ') + "|");
}

TEST_F(FitTest, FormatIsChosenOnTheCommandLineOrAtThePromptAndCatalogListingsAreFitted) {
  ASSERT_EQ(ExecSql(conn, {"create table wide_one(id integer, description varchar(200))", "insert into wide_one values(1, 'a')"}), "");
  ConsoleResult run = RunConsole({"--format=csv", conn}, "select * from wide_one\n");
  EXPECT_EQ(run.out, "id,description\n1,a\n");
  EXPECT_EQ(run.status, 0);
  run = RunConsole({"--format=wide", conn}, "select 1\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--format=wide"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  // A bad name fails like a failed statement, and the format stays as it was.
  run = RunConsole({"-b", conn}, "\\format\n\\format wide\n\\format tsv\nselect * from wide_one\n\\dt wide*\n");
  EXPECT_EQ(run.err, "\\format takes table, fit, csv, tsv, json or markdown, not wide\n");
  EXPECT_EQ(run.out, "Output format is table.\nid\tdescription\n1\ta\nname\ttype\nwide_one\tTABLE\n");
  EXPECT_EQ(run.status, 1);
  // In the table format a catalog listing is fitted all the same; a trailing ';' is ignored.
  run = RunConsole({"-b", conn}, "\\dt wide*;\n\\format;\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "| name     | type  |\n| wide_one | TABLE |\n                    \nOutput format is table.\n");
}

TEST_F(FitTest, AtATerminalAValueWiderThanTheWindowIsCutWithAnEllipsisAndPagesPause) {
  ASSERT_EQ(ExecSql(conn, {"create table t(k integer, s text)",
                           "with recursive c(x) as (select 1 union all select x + 1 from c where x < 10) "
                           "insert into t select x, case when x = 2 then printf('%.200c', 'y') else 'short' end from c"}),
            "");
  TerminalSession session = StartOnTerminal({"--format=fit", conn}, 8, 40, "C.UTF-8");
  size_t at = WaitFor(session, "SQL COMMAND>");
  ASSERT_TRUE(WaitForEditor(session)) << session.screen;
  Type(session, "select k, s from t order by k\r");
  // The value takes the window's 40 columns less its bars and blanks, "…" last; k keeps its width.
  at = WaitFor(session, "│  2 │ " + std::string(30, 'y') + "… │\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, "Press ENTER to continue, Q to quit8", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\r");
  at = WaitFor(session, "│ k  │ s" + std::string(30, ' ') + " │", at);  // the header again after the pause
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, "│ 10 │ short", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  // In other character sets the cut ends in '~'.
  session = StartOnTerminal({"--format=fit", conn}, 8, 40, "C");
  ASSERT_TRUE(WaitForEditor(session)) << session.screen;
  Type(session, "select s from t where k = 2\r");
  at = WaitFor(session, "| " + std::string(35, 'y') + "~ |");
  EXPECT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

}  // namespace
