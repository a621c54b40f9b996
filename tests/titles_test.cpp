// End-to-end tests of column titles: each column is titled as the statement wrote it, in every format.
#include <gtest/gtest.h>

#include "console_runner.h"

namespace {

// The SQLite driver gives SQLDescribeCol only what follows a title's last dot; the title is read whole, one
// longer than the first name buffer included, in a table, \x, CSV and TSV.
TEST(ColumnTitles, TitlesHoldingDotsAndLongTitlesShowAsWrittenInEveryFormat) {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/titles.db");
  const std::string longTitle = std::string(150, 'a') + ".b";
  const std::string query = "select 1 as \"x.y\", 3.0, 2 as \"version 1.2\", 4 as \"" + longTitle + "\"\n";
  ConsoleResult run = RunConsole({"--csv", conn}, query);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "x.y,3.0,version 1.2," + longTitle + "\n1,3.0,2,4\n");

  run = RunConsole({"--tsv", conn}, query);
  EXPECT_EQ(run.out, "x.y\t3.0\tversion 1.2\t" + longTitle + "\n1\t3.0\t2\t4\n");

  run = RunConsole({"-b", conn}, "select 1 as \"x.y\", 2 as \"version 1.2\"\n\\x\nselect 1 as \"x.y\", 2 as \"version 1.2\"\n");
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::vector<std::string>> lines = TableLines(run.out);
  ASSERT_GE(lines.size(), 1u) << run.out;
  EXPECT_EQ(lines[0], (std::vector<std::string>{"x.y", "version 1.2"})) << run.out;
  EXPECT_NE(run.out.find("x.y         | 1\nversion 1.2 | 2\n"), std::string::npos) << run.out;
}

}  // namespace
