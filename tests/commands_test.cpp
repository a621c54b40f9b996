// End-to-end tests of the console's commands on SQLite: catalog listings, a table's description, timing, expanded display.
#include <gtest/gtest.h>

#include <regex>

#include "console_runner.h"

namespace {

struct CommandsTest : ::testing::Test {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/commands.db");
  void SetUp() override {
    ASSERT_EQ(ExecSql(conn, {"create table customers(id integer primary key, name varchar(40) not null default 'anon')",
                             "create table orders(id integer primary key, customer_id integer references customers(id), "
                             "note text)",
                             "create index orders_by_customer on orders(customer_id)",
                             "create view named_orders as select orders.id, name from orders join customers on customer_id = customers.id",
                             "insert into customers values(1, 'Ann')",
                             "insert into orders values(7, 1, null)"}),
              "");
  }
  // The cells of the table listings in a batch run of `input`.
  std::vector<std::vector<std::string>> Listing(const std::string& input) {
    ConsoleResult run = RunConsole({"-b", conn}, input);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    return TableLines(run.out);
  }
};

TEST_F(CommandsTest, CatalogCommandsListTablesViewsAndDescribeATable) {
  using Lines = std::vector<std::vector<std::string>>;
  EXPECT_EQ(Listing("\\dt\n"), (Lines{{"name", "type"}, {"customers", "TABLE"}, {"orders", "TABLE"}}));
  // Blanks before the backslash, a pattern with * and a name typed in another case.
  EXPECT_EQ(Listing("   \\dt ord*\n\\dv\n"),
            (Lines{{"name", "type"}, {"orders", "TABLE"}, {"name", "type"}, {"named_orders", "VIEW"}}));
  EXPECT_EQ(Listing("\\d\n"), Listing("\\dt\n"));
  ConsoleResult run = RunConsole({"-b", conn}, "\\d ORDERS\n\\dn\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(TableLines(run.out),
            (Lines{{"column", "type", "nullable", "default"},
                   {"id", "INTEGER", "NO", ""},
                   {"customer_id", "INTEGER", "YES", ""},
                   {"note", "TEXT", "YES", ""},
                   {"index", "kind", "columns", "condition"},
                   {"PRIMARY KEY", "primary key", "id", ""},
                   {"orders_by_customer", "", "customer_id", ""},
                   {"columns", "references", "on update", "on delete"},
                   {"customer_id", "customers(id)", "NO ACTION", "NO ACTION"}}))
      << run.out;
  EXPECT_NE(run.out.find("Table orders:\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("This data source has neither schemas nor catalogs.\n"), std::string::npos) << run.out;
  // CSV: each part is a result of its own, without headings.
  run = RunConsole({"--csv", conn}, "\\d customers\n");
  EXPECT_EQ(run.out,
            "column,type,nullable,default\nid,INTEGER,NO,\"\"\nname,varchar(40),NO,'anon'\n"
            "index,kind,columns,condition\nPRIMARY KEY,primary key,id,\"\"\n"
            "table,columns,references,on update,on delete\norders,customer_id,id,NO ACTION,NO ACTION\n");
  run = RunConsole({"-b", conn}, "\\conninfo\n");
  EXPECT_NE(run.out.find("DBMS: SQLite 3."), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Database: " + dir.path + "/commands.db\n"), std::string::npos) << run.out;
}

TEST_F(CommandsTest, CommandsNeverReachTheDriverAndBadOnesFailTheScript) {
  // The whole line is the command's: the statement after it is never run.
  ConsoleResult run = RunConsole({"-b", conn}, "\\foo; drop table orders\n\\d nosuch\n\\x sideways\n\\dt \"unclosed\n");
  EXPECT_EQ(run.err,
            "Invalid command \\foo;. Try \\? for help.\n"
            "Did not find any table or view named nosuch\n"
            "\\x takes on or off, not sideways\n"
            "The name \"unclosed has an unclosed quote\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ExecSql(conn, {"select * from orders"}), "");
  // With -e nothing after the first failed command runs.
  run = RunConsole({"-b", "-e", conn}, "\\nosuch\ninsert into orders values(8, 1, 'after')\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Listing("select count(*) from orders\n")[1][0], "1");
  // "quit" is a command at a terminal only: a script sends it to the driver.
  run = RunConsole({"-b", conn}, "quit\nselect 'still here'\n");
  EXPECT_NE(run.err.find("syntax error"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("still here"), std::string::npos) << run.out;
  run = RunConsole({"-b", conn}, "\\q\nselect 'never'\n");
  EXPECT_EQ(run.out.find("never"), std::string::npos) << run.out;
  EXPECT_EQ(run.status, 0);
}

TEST_F(CommandsTest, ExpandedDisplayAfterARowsetListingFetchesIntoItsOwnBuffer) {
  // A listing into a pipe fetches a rowset at a time; the records after it bind one row's buffer, which a
  // rowset size left standing would overrun.
  ASSERT_EQ(ExecSql(conn, {"create table many(id integer, name varchar(20))",
                           "with recursive c(i) as (select 1 union all select i + 1 from c where i < 150) "
                           "insert into many select i, 'row ' || i from c"}),
            "");
  ConsoleResult run = RunConsole({"-b", conn}, "select id, name from many\n\\x on\nselect id, name from many where id < 3\n");
  EXPECT_EQ(run.err, "");
  auto lines = TableLines(run.out);
  ASSERT_EQ(lines.size(), 151u) << run.out;
  EXPECT_EQ(lines[150], (std::vector<std::string>{"150", "row 150"}));
  size_t records = run.out.find("Expanded display is on.\n");
  ASSERT_NE(records, std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(records), "Expanded display is on.\n-[ RECORD 1 ]-\nid   | 1\nname | row 1\n"
                                     "-[ RECORD 2 ]-\nid   | 2\nname | row 2\n");
}

TEST_F(CommandsTest, TimingFollowsEachStatementAndCommand) {
  ConsoleResult run = RunConsole({"-b", conn}, "\\timing on\nselect 1\n\\dt\ninsert into nosuch values(1)\n\\timing off\nselect 2\n");
  std::regex time("Time: [0-9]+\\.[0-9]{3} ms\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(run.out.begin(), run.out.end(), time), std::sregex_iterator()), 3) << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("Timing is on.\n[^T]*\n *\nTime: "))) << run.out;
  EXPECT_EQ(run.out.substr(run.out.size() - 20).find("Time:"), std::string::npos) << run.out;
  // Beside CSV the time goes to standard error: the file holds data only.
  run = RunConsole({"--csv", conn}, "\\timing\n\\x\nselect 1 as one\n");
  EXPECT_EQ(run.out, "one\n1\n");
  EXPECT_TRUE(std::regex_match(run.err, time)) << run.err;
}

TEST_F(CommandsTest, ExpandedDisplayShowsWholeValuesAndPagesAtATerminal) {
  ASSERT_EQ(ExecSql(conn, {"insert into orders values(8, 1, printf('%.100000c', 'v') || 'END')"}), "");
  ConsoleResult run = RunConsole({"-b", conn}, "\\x\nselect id, note as long_note_name, customer_id from orders order by id\n");
  std::string whole = std::string(100000, 'v') + "END";
  // Compared whole, but not printed whole when it differs.
  EXPECT_TRUE(run.out ==
              "Expanded display is on.\n"
              "-[ RECORD 1 ]----\n"
              "id             | 7\n"
              "long_note_name | <NULL>\n"
              "customer_id    | 1\n"
              "-[ RECORD 2 ]----\n"
              "id             | 8\n"
              "long_note_name | " + whole + "\n"
              "customer_id    | 1\n")
      << run.out.substr(0, 200) << "... " << run.out.size() << " bytes";
  run = RunConsole({"-b", conn}, "\\x on\nselect * from orders where id = 0\n");
  EXPECT_EQ(run.out, "Expanded display is on.\n(0 rows)\n");

  // At a terminal: auto picks records for a row wider than the window, and records pause by screenfuls.
  ASSERT_EQ(ExecSql(conn, {"insert into customers values(2, 'Bo')", "insert into customers values(3, 'Cy')"}), "");
  TerminalSession session = StartOnTerminal(conn, 6, 60);
  size_t at = WaitFor(session, "SQL COMMAND>");
  ASSERT_TRUE(WaitForEditor(session)) << session.screen;
  Type(session, "\\x auto\r");
  at = WaitFor(session, "automatically.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "select id, name, name as again from customers order by id\r");
  at = WaitFor(session, "-[ RECORD 1 ]", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // Six rows: record 1 and the first line of record 2 fill five, the prompt the sixth.
  at = WaitFor(session, "-[ RECORD 2 ]", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, "Press ENTER to continue, Q to quit6", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "q\r");
  at = WaitFor(session, "SQL COMMAND>", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("RECORD 3"), std::string::npos) << session.screen;
  Type(session, "select id from customers where id = 1\r");
  at = WaitFor(session, "|          1  |", at);  // one narrow column: a table
  ASSERT_NE(at, std::string::npos) << session.screen;
  // At a terminal "quit" ends the session.
  Type(session, "quit\r");
  EXPECT_NE(WaitFor(session, "Disconnected.", at), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

}  // namespace
