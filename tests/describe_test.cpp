// End-to-end tests of \d on SQLite: what the sqlite3 shell's .schema says of the same table, part by part.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "console_runner.h"

namespace {

using Lines = std::vector<std::vector<std::string>>;

struct DescribeTest : ::testing::Test {
  TempDir dir;
  std::string path = dir.path + "/describe.db";
  std::string conn = SqliteConnStr(path);
};

TEST_F(DescribeTest, TableViewAndPatternShowWhatTheSchemaSays) {
  ASSERT_EQ(ExecSql(conn, {"create table customers(id integer primary key, name varchar(40) not null default 'anon')",
                           "create table lines(order_id integer, line_no integer, qty numeric(10,2) check (qty > 0), "
                           "cust integer references customers(id) on delete cascade, code text unique, primary key(order_id, line_no))",
                           "create index lines_desc on lines(qty desc, code)",
                           "create index lines_part on lines(cust) where qty > 10",
                           "create view big_lines as select order_id, qty from lines where qty > 100"}),
            "");
  // The shell's own account of the same objects.
  std::string schema = ShellOutput("sqlite3 " + path + " .schema");
  ASSERT_NE(schema.find("qty numeric(10,2) check (qty > 0)"), std::string::npos) << schema;
  ASSERT_NE(schema.find("CREATE INDEX lines_part on lines(cust) where qty > 10;"), std::string::npos) << schema;

  ConsoleResult run = RunConsole({"-b", conn}, "\\d lines;\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(TableLines(run.out), (Lines{{"column", "type", "nullable", "default"},
                                        {"order_id", "INTEGER", "NO", ""},
                                        {"line_no", "INTEGER", "NO", ""},
                                        {"qty", "numeric(10,2)", "YES", ""},
                                        {"cust", "INTEGER", "YES", ""},
                                        {"code", "TEXT", "YES", ""},
                                        {"index", "kind", "columns", "condition"},
                                        {"sqlite_autoindex_lines_2", "primary key", "order_id, line_no", ""},
                                        {"sqlite_autoindex_lines_1", "unique", "code", ""},
                                        {"lines_desc", "", "qty DESC, code", ""},
                                        {"lines_part", "", "cust", "qty > 10"},
                                        {"columns", "references", "on update", "on delete"},
                                        {"cust", "customers(id)", "NO ACTION", "CASCADE"},
                                        {"condition"},
                                        {"CHECK (qty > 0)"}}))
      << run.out;
  // Headings as before, and no part without rows: this table is referenced by none.
  EXPECT_NE(run.out.find("Table lines:\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Indexes:\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Check constraints:\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Referenced by:"), std::string::npos) << run.out;

  // Checks come from the CREATE TABLE text: quotes, nested parentheses and a column named check hold.
  ASSERT_EQ(ExecSql(conn, {"create table ck(a int, \"check\" text constraint b_len check(length(\"check\") < 10 and \"check\" <> 'x)'), "
                           "check (a between 1 and (5)))"}),
            "");
  run = RunConsole({"--csv", conn}, "\\d ck\n");
  EXPECT_NE(run.out.find("condition\n\"CHECK (length(\"\"check\"\") < 10 and \"\"check\"\" <> 'x)')\"\nCHECK (a between 1 and (5))\n"),
            std::string::npos)
      << run.out;

  // The other side of the key, and a view: its columns and definition, no empty parts.
  run = RunConsole({"-b", conn}, "\\d CUSTOMERS\n\\d big_lines\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(TableLines(run.out), (Lines{{"column", "type", "nullable", "default"},
                                        {"id", "INTEGER", "NO", ""},
                                        {"name", "varchar(40)", "NO", "'anon'"},
                                        {"index", "kind", "columns", "condition"},
                                        {"PRIMARY KEY", "primary key", "id", ""},
                                        {"table", "columns", "references", "on update", "on delete"},
                                        {"lines", "cust", "id", "NO ACTION", "CASCADE"},
                                        {"column", "type", "nullable", "default"},
                                        {"order_id", "INTEGER", "YES", ""},
                                        {"qty", "numeric(10,2)", "YES", ""}}))
      << run.out;
  EXPECT_NE(run.out.find("View big_lines:\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("View definition:\n  CREATE VIEW big_lines as select order_id, qty from lines where qty > 100\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Indexes:\n", run.out.find("View big_lines")), std::string::npos) << run.out;

  // A wildcard describes every table and view that matches, sorted by name (the driver lists views last).
  run = RunConsole({"-b", conn}, "\\d *s\n");
  size_t view = run.out.find("View big_lines:\n");
  size_t customers = run.out.find("Table customers:\n"), lines = run.out.find("Table lines:\n");
  EXPECT_NE(lines, std::string::npos) << run.out;
  EXPECT_LT(view, customers) << run.out;
  EXPECT_LT(customers, lines) << run.out;

  // SQLite's own tables show only with S; tables sorted by name, whatever order they were made in.
  ASSERT_EQ(ExecSql(conn, {"create table aardvark(id integer primary key autoincrement)"}), "");
  run = RunConsole({"-b", conn}, "\\dt\n\\dtS\n");
  EXPECT_EQ(TableLines(run.out), (Lines{{"name", "type"}, {"aardvark", "TABLE"}, {"ck", "TABLE"}, {"customers", "TABLE"}, {"lines", "TABLE"},
                                        {"name", "type"}, {"aardvark", "TABLE"}, {"ck", "TABLE"}, {"customers", "TABLE"}, {"lines", "TABLE"},
                                        {"sqlite_sequence", "TABLE"}}))
      << run.out;
}

TEST_F(DescribeTest, SampleOrdersFitsInAHundredColumns) {
  std::ifstream file(std::string(PROJECT_SOURCE_DIR) + "/scripts/shop.sql");
  std::stringstream shop;
  shop << file.rdbuf();
  ASSERT_EQ(RunConsole({"-b", conn}, shop.str()).err, "");
  ConsoleOptions utf8;
  utf8.locale = "C.UTF-8";
  ConsoleResult run = RunConsole({"-b", conn}, "\\d orders\n", utf8);
  EXPECT_EQ(run.err, "");
  std::istringstream out(run.out);
  size_t cLines = 0;
  for (std::string line; std::getline(out, line); ++cLines) {
    size_t columns = 0;
    for (char c : line) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    EXPECT_LE(columns, 100u) << line;
  }
  EXPECT_GT(cLines, 8u) << run.out;
  EXPECT_NE(run.out.find("│ note        │ varchar(50) │ YES      │         │"), std::string::npos) << run.out;
}

}  // namespace
