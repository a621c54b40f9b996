// End-to-end tests of the result table with redirected output: exact lines, NULLs, cuts and paging.
#include <gtest/gtest.h>

#include "console_runner.h"

namespace {

const std::string kBanner = "Enter SQL commands, type (control)Z to exit\nSQL COMMAND>";
const std::string kPrompt = "SQL COMMAND>";
const std::string kClosing = "\nDisconnected.";
const std::string kPause = "                 Press ENTER to continue, Q to quit80";

std::string Blanks(size_t count) { return std::string(count, ' '); }

// A table line from cells already padded to their widths: "| a | b |".
std::string Line(const std::vector<std::string>& cells, const std::string& bar = "|") {
  std::string line;
  for (const std::string& cell : cells) line += bar + " " + cell + " ";
  return line + " " + bar + "\n";
}

struct TableTest : ::testing::Test {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/table.db");
  void SetUp() override {
    ASSERT_EQ(ExecSql(conn, {"create table t(id integer, name varchar(20))", "create table n(a char(1))",
                             "insert into t values(7, 'Ann')", "insert into t values(NULL, 'Bob')",
                             "insert into n values(NULL)"}),
              "");
  }
  // The console's whole standard output for one statement.
  std::string Listing(const std::string& statement) {
    ConsoleResult run = RunConsole({conn}, statement + "\n");
    EXPECT_EQ(run.err, "Connected!\n");
    return run.out;
  }
};

TEST_F(TableTest, MixedRowsAlignAndNullsShowAsMarkers) {
  std::string header = Line({"id" + Blanks(8), "name" + Blanks(16)});
  EXPECT_EQ(Listing("select * from t"), kBanner + header + Line({Blanks(9) + "7", "Ann" + Blanks(17)}) +
                                            Line({"<NULL>" + Blanks(4), "Bob" + Blanks(17)}) + Blanks(38) + "\n" +
                                            kPrompt + kClosing);
  // An all-NULL column of display size 1 is still six wide.
  EXPECT_EQ(Listing("select a from n"), kBanner + Line({"a     "}) + Line({"<NULL>"}) + Blanks(11) + "\n" + kPrompt + kClosing);
  // No rows: the header and the end bar.
  EXPECT_EQ(Listing("select * from t where 0"), kBanner + header + Blanks(38) + "\n" + kPrompt + kClosing);
}

TEST_F(TableTest, LongNamesAndValuesAreCut) {
  std::string name(60, 'c');
  std::string value = std::string(50, 'v') + "0123456789";
  ASSERT_EQ(ExecSql(conn, {"create table w(" + name + " varchar(10), big varchar(100))",
                           "insert into w values('x', '" + value + "')"}),
            "");
  // Width 60 from the name, title cut to 49; the value shows its first 50 characters, with no message.
  EXPECT_EQ(Listing("select * from w"), kBanner + Line({name.substr(0, 49) + Blanks(11), "big" + Blanks(47)}) +
                                            Line({"x" + Blanks(59), value.substr(0, 50)}) + Blanks(118) + "\n" +
                                            kPrompt + kClosing);
}

struct PagingTest : TableTest {
  void SetUp() override {
    TableTest::SetUp();
    ASSERT_EQ(ExecSql(conn, {"create table p(id integer)",
                             "with recursive c(i) as (select 1 union all select i + 1 from c where i < 100) "
                             "insert into p select i from c"}),
              "");
  }
  static std::string Rows(int from, int to) {
    std::string rows;
    for (int i = from; i <= to; ++i) {
      std::string number = std::to_string(i);
      rows += Line({Blanks(10 - number.size()) + number});
    }
    return rows;
  }
  const std::string header = Line({"id" + Blanks(8)});
  const std::string endBar = Blanks(15) + "\n";
};

TEST_F(PagingTest, PausesEvery78RowsAndHonoursReplies) {
  std::string firstPage = kBanner + header + Rows(1, 78) + kPause;
  // An empty reply goes on; the header follows the prompt on the same line.
  EXPECT_EQ(RunConsole({conn}, "select id from p\n\n").out,
            firstPage + header + Rows(79, 100) + endBar + kPrompt + kClosing);
  // "q" and "quit" stop without an end bar; the next line is a statement again.
  for (const std::string reply : {"q", "quit", "Q anything"}) {
    EXPECT_EQ(RunConsole({conn}, "select id from p\n" + reply + "\nselect count(*) from p where id = 0\n").out,
              firstPage + kPrompt + Line({"count(*)  "}) + Line({Blanks(9) + "0"}) + endBar + kPrompt +
                  kClosing);
  }
  // A line that is not a reply lets the listing go on and runs after it, once; end of input at a pause
  // lists the rest.
  ConsoleResult run =
      RunConsole({conn}, "select id from p where id <= 160 or 1\nupdate p set id = id where id > 90\nselect 1\n");
  EXPECT_EQ(run.out, firstPage + header + Rows(79, 100) + endBar + kPrompt + "10 rows affected\n" + kPrompt +
                         Line({"1         "}) + Line({Blanks(9) + "1"}) + endBar + kPrompt + kClosing);
  EXPECT_EQ(RunConsole({conn}, "select id from p").out, firstPage + header + Rows(79, 100) + endBar + kPrompt + kClosing);
  EXPECT_EQ(ExecSql(conn, {"delete from p where id > 78"}), "");
  // Exactly one page of rows still pauses once, then shows the header and the end bar.
  EXPECT_EQ(RunConsole({conn}, "select id from p\n\n").out, firstPage + header + endBar + kPrompt + kClosing);
}

TEST_F(TableTest, Utf8TextKeepsColumnsAlignedAndControlsAreDefused) {
  ASSERT_EQ(ExecSql(conn, {"insert into t values(1, 'Zoë')", "insert into t values(2, '漢字テキスト')",
                           "insert into t values(3, 'a' || char(27) || '[31mred' || char(10) || 'x')",
                           "insert into t values(4, cast(x'ff41c3' as text))",
                           "insert into t values(6, 'c1' || char(155) || 'end')",
                           // An overlong form, a surrogate, a code point past U+10FFFF, an unassigned one (U+0378).
                           "insert into t values(70, cast(x'6fe0808073eda08070f490808075cdb8' as text))"}),
            "");
  ConsoleOptions utf8;
  utf8.locale = "C.UTF-8";
  ConsoleResult run = RunConsole({conn}, "select id, name from t where id < 7 or id = 70 order by id\n", utf8);
  const std::string bar = "│";
  EXPECT_EQ(run.out, kBanner + Line({"id" + Blanks(8), "name" + Blanks(16)}, bar) +
                         Line({Blanks(9) + "1", "Zoë" + Blanks(17)}, bar) +
                         Line({Blanks(9) + "2", "漢字テキスト" + Blanks(8)}, bar) +
                         Line({Blanks(9) + "3", "a?[31mred?x" + Blanks(9)}, bar) +
                         Line({Blanks(9) + "4", "?A?" + Blanks(17)}, bar) +
                         Line({Blanks(9) + "6", "c1?end" + Blanks(14)}, bar) + Line({Blanks(8) + "70", "o???s???p????u?" + Blanks(5)}, bar) +
                         Blanks(38) + "\n" + kPrompt + kClosing);
  // Twenty double-width characters in a 20-wide column: cut after ten, never inside one.
  ASSERT_EQ(ExecSql(conn, {"insert into t values(5, '" + std::string("漢") + "字字字字字字字字字字字字字字字字字字字')"}), "");
  run = RunConsole({conn}, "select name from t where id = 5\n", utf8);
  EXPECT_NE(run.out.find(bar + " 漢字字字字字字字字字  " + bar), std::string::npos) << run.out;
  // A title as wide as its column keeps a combining mark on its last letter.
  std::string title = std::string(29, 'e') + "e\xcc\x81";
  run = RunConsole({conn}, "select 1 as \"" + title + "\"\n", utf8);
  EXPECT_NE(run.out.find(bar + " " + title + "  " + bar), std::string::npos) << run.out;
}

TEST_F(TableTest, NumbersAndDatesShowWholeAndTextKeepsItsCut) {
  ASSERT_EQ(ExecSql(conn, {"create table ty(i integer, r double, d date, ts timestamp, b blob, v varchar(10), e text)",
                           "insert into ty values(9223372036854775807, -1.7976931348623157e308, '2024-12-08', "
                           "'2024-12-08 10:11:12.123', x'00ff10', 'abcdefghijklmno', '')",
                           "insert into ty values(1733650000000, null, null, null, null, null, null)"}),
            "");
  ConsoleResult run = RunConsole({conn}, "select * from ty\n");
  auto lines = TableLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  // The integer column is 10 wide: its longer values widen their own line instead of losing digits.
  EXPECT_EQ(lines[1], (std::vector<std::string>{"9223372036854775807", "-1.79769313486232e+308", "2024-12-08",
                                                "2024-12-08 10:11:12.123", "X'00FF10'", "abcdefghij", ""}))
      << run.out;
  EXPECT_EQ(lines[2][0], "1733650000000") << run.out;
  EXPECT_EQ(lines[2][1], "<NULL>") << run.out;
  EXPECT_NE(run.out.find("\n| 1733650000000 | <NULL> "), std::string::npos) << run.out;
}

TEST_F(TableTest, FailingOutputIsReportedOnceAndStatementsStillRun) {
  // A full disk: one message, the listing stops, the insert after it runs, exit status 1.
  ConsoleOptions full;
  full.stdoutFile = "/dev/full";
  std::string input = "with recursive c(i) as (select 1 union all select i + 1 from c where i < 100000) select i from c\n"
                      "insert into t values(8, 'after')\n";
  ConsoleResult run = RunConsole({conn}, input, full);
  EXPECT_EQ(run.err, "Connected!\nError writing to standard output: No space left on device\n");
  EXPECT_EQ(run.status, 1);
  // A closed standard output: reported before anything else, and the statements run.
  ConsoleOptions closed;
  closed.stdoutFile = "-";
  run = RunConsole({conn}, "insert into t values(9, 'closed')\n", closed);
  EXPECT_EQ(run.err, "Error writing to standard output: Bad file descriptor\nConnected!\n");
  EXPECT_EQ(run.status, 1);
  auto lines = TableLines(Listing("select count(*) from t where id in (8, 9)"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1][0], "2");
}

}  // namespace
