// End-to-end tests against a real MariaDB server: types shown whole, failures, pauses, a stopped server, a
// reader that goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <fstream>
#include <iterator>
#include <unistd.h>

#include "console_runner.h"
#include "type_mapping_check.h"

namespace {

const std::string kPrompt = "SQL COMMAND>";

std::string MariaDbConnStr(const TestServer& server) {
  return "Driver=MariaDB Unicode;Server=127.0.0.1;Port=" + std::to_string(server.port) + ";Database=test;User=root";
}

// One server for the whole suite (ctest's fixture, or one of its own when the suite runs alone), stopped at
// the end even when tests fail.
TestServer gServer;

struct ServerEnvironment : ::testing::Environment {
  void SetUp() override { gServer = SuiteServer(MARIADB_SERVER_SCRIPT); }
  void TearDown() override { StopTestServer(gServer); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

struct MariaDbTest : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(gServer.running) << "the MariaDB server did not start"; }
  ConsoleResult Run(const std::string& input, ConsoleOptions options = {}) {
    options.mergeStreams = true;
    return RunConsole({MariaDbConnStr(gServer)}, input, options);
  }
};

TEST_F(MariaDbTest, EveryTypeShowsWholeInAUtf8Table) {
  ConsoleOptions options;
  options.locale = "C.UTF-8";
  ConsoleResult run = Run(
      "create table types(id bigint, d decimal(38,10), f double, t time(3), ts datetime(6), j json, b blob, "
      "flag boolean, s varchar(5), u varchar(20), e varchar(5)) character set utf8mb4\n"
      "insert into types values(-9223372036854775808, -1234567890123456789012345678.0123456789, 1.5e300, "
      "'-838:59:59.999', '2024-12-08 10:11:12.123456', '{\"a\": [1, 2]}', x'626c6f62', true, 'abcde', 'Zoë 抹茶', '')\n"
      "insert into types(id) values(null)\n"
      "select * from types\n"
      "drop table types\n",
      options);
  EXPECT_EQ(run.status, 0);
  auto lines = TableLines(run.out, "│");
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[1], (std::vector<std::string>{"-9223372036854775808", "-1234567890123456789012345678.0123456789",
                                                "1.5e300", "-838:59:59.999", "2024-12-08 10:11:12.123456",
                                                "{\"a\": [1, 2]}", "blob", "1", "abcde", "Zoë 抹茶", ""}))
      << run.out;
  EXPECT_EQ(lines[2], std::vector<std::string>(11, "<NULL>")) << run.out;
}

TEST_F(MariaDbTest, FailuresAndAQuitPauseLeaveTheSessionGoing) {
  ConsoleResult run = Run(
      "select nosuch from dual\n"
      "select seq from seq_1_to_200\n"
      "q\n"
      "select 'after' as a\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find(kPrompt + "[S0022] [ma-"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Unknown column 'nosuch' in 'SELECT' (1054)\n" + kPrompt), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Q to quit80" + kPrompt + "| a       |\n| after   |\n"), std::string::npos) << run.out;
  auto lines = TableLines(run.out);
  ASSERT_EQ(lines.size(), 80u) << run.out;  // the next header follows the pause prompt on its line
  EXPECT_EQ(lines[78][0], "78");
  EXPECT_EQ(lines[79][0], "after");
}

TEST_F(MariaDbTest, EveryResultOfAProcedureIsShownAndAFailingOneFailsTheStatement) {
  ConsoleResult run = Run(
      "create or replace procedure two() begin select 'one' as a; select 'two' as b; end\n"
      "create or replace procedure broken() begin select 'before' as a; select nosuch from dual; end\n"
      "call two()\n");
  EXPECT_NE(run.out.find("| one     |"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("| two     |"), std::string::npos) << run.out;
  // Under -b -e the failure of the second result ends the script with status 1: nothing after it runs.
  ConsoleOptions options;
  options.mergeStreams = true;
  run = RunConsole({"-b", "-e", MariaDbConnStr(gServer)}, "call broken()\nselect 'after' as z\n", options);
  EXPECT_NE(run.out.find("| before  |"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Unknown column 'nosuch'"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("after"), std::string::npos) << run.out;
  EXPECT_EQ(run.status, 1);
}

// Integers and floating-point values are fetched in binary and written by the console: the text must be
// the driver's own, byte for byte, at the edges of every type.
TEST_F(MariaDbTest, ScriptsRunInOrderNameTheirLinesAndVariablesStayOneLiteralOrName) {
  TempDir dir;
  std::string one = dir.path + "/one.sql", two = dir.path + "/two.sql";
  std::ofstream(one) << "create or replace table sv(n int auto_increment primary key, what text);\n"
                        "insert into sv(what) values('f1');\n# a comment\nselect * from nosuch_sv;\n";
  std::ofstream(two) << "insert into sv(what) values(:'v');\ninsert into sv(what) values('f2');\n";
  // A backslash escapes on MariaDB: the value's own backslash must not swallow the closing quote.
  std::string hostile = "a\\' or 1=1; drop table sv; -- \" `";
  std::string name = "we`ird";
  std::string conn = MariaDbConnStr(gServer);
  ConsoleResult run = RunConsole({"--csv", "-v", "v=" + hostile, "-v", "t=" + name, "-f", one, "-c", "insert into sv(what) values('c1')",
                                  "-f", two, "-c", "create or replace table :\"t\"(a text); insert into :\"t\" values(:'v')",
                                  "-c", "select :'v' as lit, count(*) as n_rows, ':v' as q, \":v\" as d from :\"t\" where a = :'v' # :v",
                                  conn},
                                 "");
  EXPECT_EQ(run.err.rfind(one + ":4: [S0002] ", 0), 0u) << run.err;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "lit,n_rows,q,d\n\"a\\' or 1=1; drop table sv; -- \"\" `\",1,:v,:v\n");
  EXPECT_EQ(DriverText(conn, "select group_concat(what order by n separator '|') from sv"), "f1|c1|" + hostile + "|f2\n");
  ExecSql(conn, {"drop table sv", "drop table `we``ird`"});
}

TEST_F(MariaDbTest, JsonLinesOfEveryTypeMatchTheCsvExport) {
  TempDir dir;
  std::string conn = MariaDbConnStr(gServer);
  ASSERT_EQ(ExecSql(conn, {"create or replace table jtypes(id bigint, u bigint unsigned, d decimal(38,10), f double, r float, "
                           "t time(3), ts datetime(6), j json, b blob, flag boolean, s varchar(20), e varchar(5)) character set utf8mb4",
                           "insert into jtypes values(-9223372036854775808, 18446744073709551615, -1234567890123456789012345678.0123456789, "
                           "1.5e300, 0.1, '-838:59:59.999', '2024-12-08 10:11:12.123456', '{\"a\": [1, 2]}', x'00ff', true, "
                           "'Zoë \"抹茶\"\\t\\\\', '')",
                           "insert into jtypes(id) values(null)"}),
            "");
  for (const char* format : {"--format=json", "--csv"}) {
    ConsoleOptions options;
    options.locale = "C.UTF-8";
    options.stdoutFile = dir.path + (format[2] == 'f' ? "/types.json" : "/types.csv");
    ConsoleResult run = RunConsole({format, conn}, "select * from jtypes\n", options);
    EXPECT_EQ(run.err, "");
  }
  std::ifstream in(dir.path + "/types.json");
  std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(json.find("{\"id\":-9223372036854775808,\"u\":18446744073709551615,\"d\":-1234567890123456789012345678.0123456789,"
                      "\"f\":1.5e300,\"r\":0.1,"),
            std::string::npos)
      << json;
  EXPECT_EQ(system(("python3 " PROJECT_SOURCE_DIR "/tests/json_matches_csv.py " + dir.path + "/types.json " + dir.path +
                    "/types.csv >/dev/null").c_str()),
            0)
      << json;
  ExecSql(conn, {"drop table jtypes"});
}

TEST_F(MariaDbTest, NumbersFetchedInBinaryReadExactlyAsTheDriverWritesThem) {
  std::string values;
  const char* doubles[] = {"0", "-0.0e0", "1e15", "1e-7", "1e-15", "1e-16", "0.1", "1/3", "1e16", "1.2345678901234567e15",
                           "1.7976931348623157e308", "-2.2250738585072014e-308", "99999999999999.98", "-123456.789e3",
                           "4.9e-324", "1.25e-25"};
  const char* floats[] = {"0", "-0.0e0", "0.1", "3.4028234e38", "1.17549435e-38", "16777217", "100.25", "1e15", "-1e-7",
                          "1/3", "123456", "1234567", "0.000125", "-9.99999e-5", "65504", "2.5e-45"};
  for (int i = 0; i < 16; ++i) {
    values += std::string(i ? ", " : "") + "(" + std::to_string(i) + ", " + doubles[i] + ", " + floats[i] +
              (i == 0 ? ", 0, 0, 0, 0, 0, 0" : i == 1 ? ", 9223372036854775807, 18446744073709551615, 127, 255, 32767, 2147483647"
                        : i == 2 ? ", -9223372036854775808, 1, -128, 0, -32768, -2147483648" : ", -1, 2, -2, 3, -4, 5") + ")";
  }
  std::string conn = MariaDbConnStr(gServer);
  ASSERT_EQ(ExecSql(conn, {"create or replace table edge(k int primary key, d double, f float, b bigint, u bigint unsigned, "
                           "t tinyint, ut tinyint unsigned, s smallint, n int, m decimal(30,10) default 12345678901234567890.0123456789)",
                           "insert into edge(k, d, f, b, u, t, ut, s, n) values " + values, "insert into edge(k) values (99)"}),
            "");
  std::string query = "select * from edge order by k";
  std::string expected = DriverText(conn, query);
  ASSERT_FALSE(expected.empty());
  ConsoleResult run = RunConsole({"--csv", conn}, query + "\n");
  EXPECT_EQ(run.out, "k,d,f,b,u,t,ut,s,n,m\n" + expected);
  // The table shows the same text, numbers right-aligned.
  run = RunConsole({"-b", conn}, query + "\n");
  auto lines = TableLines(run.out);
  ASSERT_EQ(lines.size(), 18u) << run.out;
  EXPECT_EQ(lines[4][1] + "," + lines[4][2], "0.0000001,3.40282e38");
  EXPECT_EQ(lines[17][1], "<NULL>");
}

TEST_F(MariaDbTest, GoneReaderEndsTheSessionQuietlyAtOnce) {
  ConsoleOptions options;
  options.stdoutLimit = 1;
  ConsoleResult run = RunConsole({MariaDbConnStr(gServer)},
                                 "select seq, repeat('x', 40) from seq_1_to_2000000\ncreate table after_pipe(i int)\n", options);
  EXPECT_EQ(run.status, 141);
  EXPECT_EQ(run.err, "Connected!\n");
  // Nothing after the listing ran.
  ConsoleResult check = Run("select count(*) from information_schema.tables where table_name = 'after_pipe'\n");
  auto lines = TableLines(check.out);
  ASSERT_EQ(lines.size(), 2u) << check.out;
  EXPECT_EQ(lines[1][0], "0") << check.out;
}

TEST(MariaDbServerStop, ServerShutDownMidSessionReportsAndDisconnects) {
  TestServer server = StartTestServer(MARIADB_SERVER_SCRIPT);
  ASSERT_TRUE(server.running);
  ConsoleOptions merged;
  merged.mergeStreams = true;
  ConsoleResult run = RunConsole({MariaDbConnStr(server)}, "select 7 as seven\nshutdown\nselect sleep(1)\nselect 8\nselect 9\n", merged);
  StopTestServer(server);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("|           7  |"), std::string::npos) << run.out;
  // The statements after the shutdown get the driver's records (a lost connection), not a crash.
  EXPECT_NE(run.out.find("] [ma-", run.out.find("0 rows affected")), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(kPrompt + "\nDisconnected."), std::string::npos) << run.out;
}

TEST_F(MariaDbTest, CsvExportReadsLongValuesWhole) {
  ConsoleResult run = RunConsole({"--csv", MariaDbConnStr(gServer)},
                                 "select repeat('y', 10000) as `long`, null as n, '' as e, 123456789012345678901234567890.5 as big\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "long,n,e,big\n" + std::string(10000, 'y') + ",,\"\",123456789012345678901234567890.5\n");
}

TEST_F(MariaDbTest, CatalogCommandsReadTheCurrentDatabase) {
  ConsoleOptions quiet;
  ConsoleResult run = RunConsole({"-b", MariaDbConnStr(gServer)},
                                 "create database cmd_other\n"
                                 "create table cmd_other.t1(a int)\n"
                                 "create table `Cmd Parent`(q int primary key)\n"
                                 "create table cmd_child(id int primary key, m int default 4 not null, "
                                 "foreign key (m) references `Cmd Parent`(q))\n"
                                 "create view cmd_view as select 1 as one\n"
                                 "create procedure cmd_proc() select 1\n",
                                 quiet);
  ASSERT_EQ(run.err, "");
  using Lines = std::vector<std::vector<std::string>>;
  run = RunConsole({"-b", MariaDbConnStr(gServer)},
                   "\\dt cmd*\n\\dt cmd_other.*\n\\dv cmd*\n\\df cmd*\n\\d cmd_child\n\\d `Cmd Parent`\n", quiet);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(TableLines(run.out),
            (Lines{{"catalog", "name", "type"}, {"test", "Cmd Parent", "TABLE"}, {"test", "cmd_child", "TABLE"},
                   {"catalog", "name", "type"}, {"cmd_other", "t1", "TABLE"},
                   {"catalog", "name", "type"}, {"test", "cmd_view", "VIEW"},
                   {"catalog", "name", "result type", "argument types", "type"}, {"test", "cmd_proc", "", "", "procedure"},
                   {"column", "type", "nullable", "default"}, {"id", "int(11)", "NO", ""}, {"m", "int(11)", "NO", "4"},
                   {"index", "kind", "columns"}, {"PRIMARY", "primary key", "id"}, {"m", "", "m"},
                   {"foreign key", "columns", "references", "on update", "on delete"},
                   {"cmd_child_ibfk_1", "m", "test.Cmd Parent(q)", "RESTRICT", "RESTRICT"},
                   {"column", "type", "nullable", "default"}, {"q", "int(11)", "NO", ""},
                   {"index", "kind", "columns"}, {"PRIMARY", "primary key", "q"},
                   {"table", "foreign key", "columns", "references", "on update", "on delete"},
                   {"test.cmd_child", "cmd_child_ibfk_1", "m", "q", "RESTRICT", "RESTRICT"}}))
      << run.out;
  // MariaDB has catalogs (its databases) and no schemas.
  run = RunConsole({"-b", MariaDbConnStr(gServer)}, "\\dn\n\\conninfo\n", quiet);
  EXPECT_EQ(run.err, "");
  auto lines = TableLines(run.out);
  ASSERT_FALSE(lines.empty()) << run.out;
  EXPECT_EQ(lines[0], std::vector<std::string>{"catalog"});
  EXPECT_NE(std::find(lines.begin(), lines.end(), std::vector<std::string>{"cmd_other"}), lines.end()) << run.out;
  EXPECT_NE(run.out.find("DBMS: MariaDB "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Database: test\nUser: root\n"), std::string::npos) << run.out;
  // Expanded records bind the columns here: a value longer than its buffer is read again, whole.
  run = RunConsole({"-b", MariaDbConnStr(gServer)}, "\\x\nselect seq, if(seq = 2, repeat('y', 10000), 'short') as v from seq_1_to_3\n", quiet);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.out == "Expanded display is on.\n-[ RECORD 1 ]-\nseq | 1\nv   | short\n-[ RECORD 2 ]-\nseq | 2\nv   | " +
                             std::string(10000, 'y') + "\n-[ RECORD 3 ]-\nseq | 3\nv   | short\n")
      << run.out.substr(0, 300);
}

TEST_F(MariaDbTest, DescribeShowsWhatShowCreateTableShows) {
  ConsoleOptions quiet;
  ConsoleResult run = RunConsole({"-b", MariaDbConnStr(gServer)},
                                 "create database d_sales\n"
                                 "create table d_customers(id int auto_increment primary key, name varchar(40) not null default 'anon')\n"
                                 "create table d_sales.invoices(year int, no int, amount numeric(10,2) check (amount > 0), cust int, "
                                 "code varchar(20) unique, primary key(year, no), "
                                 "foreign key (cust) references test.d_customers(id) on delete cascade)\n"
                                 "create index invoices_desc on d_sales.invoices(amount desc, code)\n"
                                 "create view d_sales.big as select year, amount from d_sales.invoices where amount > 100\n",
                                 quiet);
  ASSERT_EQ(run.err, "");
  std::string shown = ShellOutput("mariadb --no-defaults --socket=" + gServer.dir + "/mysqld.sock -uroot -e "
                                  "'show create table d_sales.invoices; show create table test.d_customers'");
  for (const char* fact : {"`amount` decimal(10,2) DEFAULT NULL", "PRIMARY KEY (`year`,`no`)", "UNIQUE KEY `code` (`code`)",
                           "KEY `invoices_desc` (`amount` DESC,`code`)",
                           "FOREIGN KEY (`cust`) REFERENCES `test`.`d_customers` (`id`) ON DELETE CASCADE",
                           "DEFAULT NULL CHECK (`amount` > 0)", "`id` int(11) NOT NULL AUTO_INCREMENT"}) {
    ASSERT_NE(shown.find(fact), std::string::npos) << fact << "\n" << shown;
  }
  run = RunConsole({"-b", MariaDbConnStr(gServer)}, "\\d d_sales.invoices\n\\d d_customers\n\\d d_sales.big\n", quiet);
  EXPECT_EQ(run.err, "");
  using Lines = std::vector<std::vector<std::string>>;
  EXPECT_EQ(TableLines(run.out),
            (Lines{{"column", "type", "nullable", "default"}, {"year", "int(11)", "NO", ""}, {"no", "int(11)", "NO", ""},
                   {"amount", "decimal(10,2)", "YES", "NULL"}, {"cust", "int(11)", "YES", "NULL"}, {"code", "varchar(20)", "YES", "NULL"},
                   {"index", "kind", "columns"}, {"PRIMARY", "primary key", "year, no"}, {"code", "unique", "code"},
                   {"cust", "", "cust"}, {"invoices_desc", "", "amount DESC, code"},
                   {"foreign key", "columns", "references", "on update", "on delete"},
                   {"invoices_ibfk_1", "cust", "test.d_customers(id)", "RESTRICT", "CASCADE"},
                   {"check", "condition"}, {"amount", "`amount` > 0"},
                   {"column", "type", "nullable", "default"}, {"id", "int(11)", "NO", "auto_increment"},
                   {"name", "varchar(40)", "NO", "'anon'"},
                   {"index", "kind", "columns"}, {"PRIMARY", "primary key", "id"},
                   {"table", "foreign key", "columns", "references", "on update", "on delete"},
                   {"d_sales.invoices", "invoices_ibfk_1", "cust", "id", "RESTRICT", "CASCADE"},
                   {"column", "type", "nullable", "default"}, {"year", "int(11)", "NO", ""}, {"amount", "decimal(10,2)", "YES", "NULL"}}))
      << run.out;
  EXPECT_NE(run.out.find("Table d_sales.invoices:\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("View definition:\n  select `d_sales`.`invoices`.`year` AS `year`"), std::string::npos) << run.out;

  // Listings: the current database unless the pattern names one; the system's with S or a pattern.
  run = RunConsole({"-b", MariaDbConnStr(gServer)}, "\\dt d_*\n\\dt d_sales.*\n\\dn\n\\dnS\n", quiet);
  EXPECT_EQ(run.err, "");
  auto lines = TableLines(run.out);
  EXPECT_EQ(std::vector<std::vector<std::string>>(lines.begin(), lines.begin() + 4),
            (Lines{{"catalog", "name", "type"}, {"test", "d_customers", "TABLE"}, {"catalog", "name", "type"}, {"d_sales", "invoices", "TABLE"}}))
      << run.out;
  size_t plain = run.out.find("| catalog"), withSystem = run.out.find("| catalog", plain + 1);
  ASSERT_NE(withSystem, std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(plain, withSystem - plain).find("| mysql"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("| mysql", withSystem), std::string::npos) << run.out;
}

// The database's mariadb-dump, the lines that name the database or the time aside.
std::string DumpOf(const std::string& database) {
  return ShellOutput("mariadb-dump --no-defaults --socket=" + gServer.dir + "/mysqld.sock -uroot --routines --triggers " +
                     database + " | grep -v -e '^-- Dump completed' -e '^-- Host:' -e '^-- Dumping routines'");
}

TEST_F(MariaDbTest, DelimiterProceduresAndADumpRestoredThroughAFile) {
  std::string source = "Driver=MariaDB Unicode;Server=127.0.0.1;Port=" + std::to_string(gServer.port) + ";User=root";
  ConsoleResult run = RunConsole(
      {"-m", "-b", source},
      "create database src; create database dst;\n"
      "use src;\n"
      "create table item(id int primary key, name varchar(60), note text);\n"
      "create table audit(item int, what varchar(100));\n"
      "DELIMITER //\n"
      "create procedure add_item(in i int, in n varchar(60))\n"
      "begin\n"
      "  insert into item values (i, n, 'via; procedure');\n"
      "  insert into audit values (i, concat('added; ', n));\n"
      "end//\n"
      "create trigger item_audit before update on item for each row\n"
      "begin\n"
      "  set new.note = concat(old.note, '; changed');\n"
      "  insert into audit values (old.id, 'updated;');\n"
      "end //\n"
      "delimiter ;\n"
      "call add_item(1, 'a;b');\n"
      "insert into item values (2, 'back\\'slash; \"dq\"', \"double;quoted\\\"\"); # comment; here\n"
      "select `id`, name as `semi;colon` from item -- trailing; comment\n"
      "  where name like '%;%' /* block; comment */ order by id;\n"
      "update item set name = 'x' where id = 1;\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  auto lines = TableLines(run.out);
  EXPECT_EQ(lines, (std::vector<std::vector<std::string>>{{"id", "semi;colon"}, {"1", "a;b"}, {"2", "back'slash; \"dq\""}}))
      << run.out;
  std::string dump = DumpOf("src");
  ASSERT_NE(dump.find("DELIMITER ;;"), std::string::npos) << dump;
  TempDir dir;
  std::string dumpFile = dir.path + "/dump.sql";
  std::ofstream(dumpFile, std::ios::binary) << dump;
  run = RunConsole({"-f", dumpFile, source + ";Database=dst"}, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(DumpOf("dst"), dump);
  Run("drop database src\ndrop database dst\n");
}

// A delimiter of '$' ends a statement right after a name; a comment opened at a line's end hides the console
// command on the next line, in statement mode and in a file; with NO_BACKSLASH_ESCAPES 'C:\' is a whole string.
TEST_F(MariaDbTest, DelimitersCommentsAndBackslashesSplitAsTheServerReadsThem) {
  const std::string script = "DELIMITER $$\nselect 1 as a$$\nselect 2 as b$$\nDELIMITER ;\n"
                             "select 3 /*\n\\q\n*/ as c;\nselect 4 as d;\n";
  const std::vector<std::vector<std::string>> results{{"a"}, {"1"}, {"b"}, {"2"}, {"c"}, {"3"}, {"d"}, {"4"}};
  ConsoleResult run = RunConsole({"-m", "-b", MariaDbConnStr(gServer)}, script);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(TableLines(run.out), results) << run.out;
  TempDir dir;
  std::string file = dir.path + "/script.sql";
  std::ofstream(file, std::ios::binary) << script;
  run = RunConsole({"-f", file, MariaDbConnStr(gServer)}, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(TableLines(run.out), results) << run.out;
  run = RunConsole({"-m", "-b", MariaDbConnStr(gServer) + ";InitStmt=set sql_mode='NO_BACKSLASH_ESCAPES'"},
                   "select 'C:\\' as p, @@sql_mode as m;\nselect 5 as e;\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(TableLines(run.out),
            (std::vector<std::vector<std::string>>{{"p", "m"}, {"C:\\", "NO_BACKSLASH_ESCAPES"}, {"e"}, {"5"}}))
      << run.out;
}

TEST_F(MariaDbTest, CompletionReadsTheCurrentDatabaseWhateverElseTheServerHolds) {
  // Another database of 1,100 tables, each with columns, ahead of "test" in every order: made by the server
  // in one statement, not 1,100 round trips.
  std::vector<std::string> statements = {
      "create database aaa_big",
      "begin not atomic for i in 0..1099 do execute immediate concat('create table aaa_big.t', i, '(a int, b int) "
      "engine=memory'); end for; end",
      "create table test.people(id int, full_name text)"};
  statements.push_back("insert into test.people values(1, 'Ann Lee')");
  ASSERT_EQ(ExecSql(MariaDbConnStr(gServer), statements), "");
  TerminalSession session = StartOnTerminal({MariaDbConnStr(gServer)}, 24, 100, "C.UTF-8");
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  // No table named yet: the current database's columns; then its tables, and another database's after `db.`.
  Type(session, "select full_n\t from peo\t\r");
  at = WaitFor(session, "│ Ann Lee ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select * from aaa_big.t109\t\t");
  at = WaitFor(session, "\r\nt109   t1090  t1091", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\x15");
  EXPECT_EQ(Finish(session), 0);
  ExecSql(MariaDbConnStr(gServer), {"drop database aaa_big", "drop table test.people"});
}

// At a terminal a catalog command that finds its connection killed connects again, and completion reads
// the new connection's catalog afterwards.
TEST_F(MariaDbTest, KilledConnectionIsMadeAgainByACatalogCommandAndCompletionFollows) {
  ASSERT_EQ(ExecSql(MariaDbConnStr(gServer), {"create table test.visits(id int, visitor_name text)"}), "");
  TerminalSession session = StartOnTerminal({MariaDbConnStr(gServer)}, 24, 100, "C.UTF-8");
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  // Every other connection of the server is the console's: kill it from outside.
  ASSERT_EQ(ExecSql(MariaDbConnStr(gServer),
                    {"begin not atomic for c in (select id from information_schema.processlist where id <> "
                     "connection_id() and db = 'test') do kill c.id; end for; end"}),
            "");
  Type(session, "\\dt\r");
  at = WaitFor(session, "The connection was lost. Reconnecting\xe2\x80\xa6 done.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select visitor_\t");
  at = WaitFor(session, "name ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "from visits\r");
  at = WaitFor(session, "\xe2\x94\x82 visitor_name", at);  // the header, not the line typed
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  ExecSql(MariaDbConnStr(gServer), {"drop table test.visits"});
}

// In a script a lost connection fails each later statement and command, which are all tried; a catalog
// command no longer ends the script.
TEST(MariaDbServerStop, ScriptTriesEveryStatementAndCommandAfterTheServerWentAway) {
  TestServer server = StartTestServer(MARIADB_SERVER_SCRIPT);
  ASSERT_TRUE(server.running);
  ConsoleResult run = RunConsole({"-b", MariaDbConnStr(server)},
                                 "select 1\nshutdown\nselect sleep(1)\n\\dt\n\\conninfo\nselect 3 as three\n");
  StopTestServer(server);
  EXPECT_EQ(run.status, 1);
  // \dt fails (how the driver notices the lost server varies: a broken pipe, 08003) and the script goes on:
  // \conninfo after it answers from what the connection knows, and select 3 is tried and fails.
  EXPECT_NE(run.err.find("Error in"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("MariaDB"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("three"), std::string::npos) << run.out;
}

// Titles as written, and a script of good statements that exits 0 with nothing on standard error.
TEST_F(MariaDbTest, TitlesShowAsWrittenAndAGoodScriptIsQuiet) {
  ConsoleResult run = RunConsole({"--csv", MariaDbConnStr(gServer)},
                                 "create table titled(n int)\ninsert into titled values(1)\n"
                                 "select n as `x.y`, 3.0, 2 as `version 1.2` from titled\ndrop table titled\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "x.y,3.0,version 1.2\n1,3.0,2\n");
}

// The driver's own reason for a failed connection shows, not the dialog it could not open (IM008): a
// wrong password, an unknown database, a server that is down, at start and when connecting again at a
// terminal. The line naming the failed call stays.
TEST(MariaDbConnectFailure, TheDriversReasonShowsAtStartAndAtAReconnect) {
  TestServer server = StartTestServer(MARIADB_SERVER_SCRIPT);
  ASSERT_TRUE(server.running);
  const std::string failedCall =
      "Error in SQLDriverConnect(lpDbc, GetDesktopWindow(), szConnStr, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_COMPLETE)\n";
  ConsoleResult run = RunConsole({"-b", MariaDbConnStr(server) + ";PWD=wrong"}, "select 1\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Access denied for user 'root'"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(failedCall), std::string::npos) << run.err;
  std::string conn = MariaDbConnStr(server);
  run = RunConsole({"-b", conn.replace(conn.find("Database=test"), 13, "Database=nosuch")}, "select 1\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Unknown database 'nosuch'"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("IM008"), std::string::npos) << run.err;

  TerminalSession session = StartOnTerminal({MariaDbConnStr(server)}, 24, 100, "C.UTF-8");
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "shutdown\r");
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // The server takes a moment to close its port after it says yes.
  ShellOutput("bash -c 'for i in $(seq 200); do (echo >/dev/tcp/127.0.0.1/" + std::to_string(server.port) +
              ") 2>/dev/null || break; sleep 0.1; done'");
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 8\r");
  at = WaitFor(session, "Reconnecting\xe2\x80\xa6 failed.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  EXPECT_NE(session.screen.find("Can't connect to server on '127.0.0.1'"), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("IM008"), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);

  run = RunConsole({"-b", MariaDbConnStr(server)}, "select 1\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Can't connect to server on '127.0.0.1'"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(failedCall), std::string::npos) << run.err;
  StopTestServer(server);
}

// A statement the driver lets finish after Ctrl-C (MariaDB's BENCHMARK) says that its result was discarded,
// on a line of its own after the terminal's ^C; the session goes on.
TEST_F(MariaDbTest, CtrlCDuringAStatementThatFinishesAnywaySaysItsResultWasDiscarded) {
  TerminalSession session = StartOnTerminal({MariaDbConnStr(gServer)}, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  // A few seconds of work: a Ctrl-C that lands before it starts is met when it ends, with the same words.
  Type(session, "select benchmark(30000000, md5('x')) as b\r");
  at = WaitFor(session, "as b\r\n", at);
  usleep(500 * 1000);
  Type(session, "\x03");
  at = WaitFor(session, "^C\r\nCancelled: the result was discarded.\r\n" + kPrompt, at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("| b "), std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 2 as two\r");
  EXPECT_NE(WaitFor(session, "|           2  |", at), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0) << session.screen;
}

TEST_F(MariaDbTest, TypesMapIntoMariaDbAsShowCreateTableShowsThem) {
  TempDir dir;
  std::string source = SqliteConnStr(dir.path + "/source.db");
  ASSERT_EQ(ExecSql(source, {kSqliteMatrixTable}), "");
  std::string conn = MariaDbConnStr(gServer);
  ASSERT_EQ(ExecSql(conn, {"drop table if exists `Matrix Copy`", "drop table if exists maria_copy",
                           "drop table if exists maria_source",
                           "create table maria_source(i int not null, n decimal(12,3), v varchar(40), c char(3), "
                           "t text, ts datetime, vb varbinary(16), bl blob, d double, s smallint, bi bigint)"}),
            "");
  TypeMappingRun mapped = CreateFromSource(source, "select * from matrix", conn, "Matrix Copy");
  ASSERT_EQ(mapped.error, "");
  EXPECT_FALSE(mapped.fExistedBefore);
  EXPECT_TRUE(mapped.fExistsAfter);
  auto columnsOf = [&](const std::string& table) {
    return DriverText(conn, "select column_name, column_type, is_nullable from information_schema.columns "
                            "where table_schema = 'test' and table_name = '" + table + "' order by ordinal_position");
  };
  // As the SQLite driver describes its columns: every one nullable, numeric and real as double, char as
  // varchar, and a blob as binary(255).
  EXPECT_EQ(columnsOf("Matrix Copy"),
            "i,int(11),YES\nb,bigint(20),YES\ns,smallint(6),YES\nn,double,YES\nd,double,YES\nr,double,YES\n"
            "c,varchar(5),YES\nv,varchar(40),YES\nt,mediumtext,YES\ndt,date,YES\ntm,time,YES\nts,datetime,YES\n"
            "bl,binary(255),YES\n");
  mapped = CreateFromSource(conn, "select * from maria_source", conn, "maria_copy");
  ASSERT_EQ(mapped.error, "");
  EXPECT_EQ(columnsOf("maria_copy"), columnsOf("maria_source"));
}

}  // namespace

// Every type goes out with \copy and back into an equal table (compared by the server); a value too long for
// its column, in strict mode, leaves the table as it was and names line, column and value.
TEST_F(MariaDbTest, CopyRoundTripsEveryTypeAndAValueTooLongLosesNothing) {
  std::string conn = MariaDbConnStr(gServer);
  ASSERT_EQ(ExecSql(conn, {"create table cp_ty(id bigint primary key, d decimal(38,10), f double, t time(3), ts datetime(6), j json, "
                           "b blob, flag boolean, s varchar(5), u varchar(20), e varchar(5), lt longtext, dt date) character set utf8mb4",
                           "insert into cp_ty values(-9223372036854775808, -1234567890123456789012345678.0123456789, 1.5e300, "
                           "'-838:59:59.999', '2024-12-08 10:11:12.123456', '{\"a\": [1, 2]}', x'626c6f62', true, 'abcde', "
                           "'Zo\xc3\xab \xe6\x8a\xb9\xe8\x8c\xb6 \xf0\x9f\x98\x80', '', concat('a,b\"c', char(13), char(10), 'd', char(9), 'e\\\\f'), '2024-02-29')",
                           "insert into cp_ty(id) values(1)", "insert into cp_ty(id, e, lt) values(2, '', repeat('x', 10000000))",
                           "create table cp_back like cp_ty", "create table cp_short(id int primary key, s varchar(5) not null)",
                           "insert into cp_short values (0, 'keep')"}),
            "");
  TempDir dir;
  {
    std::ofstream file(dir.path + "/long.csv");
    file << "id,s\n";
    for (int line = 2; line <= 3000; ++line) file << line << "," << (line == 2100 ? std::string(70, 'z') : "ok") << "\n";
  }
  ConsoleOptions options;
  options.locale = "C.UTF-8";
  ConsoleResult run = RunConsole({"-b", conn},
                                 "\\copy cp_ty to " + dir.path + "/ty.csv\n\\copy cp_back from " + dir.path + "/ty.csv\n"
                                 "\\copy cp_short from " + dir.path + "/long.csv\n",
                                 options);
  EXPECT_EQ(run.out, "3 rows copied\n3 rows copied\n");
  EXPECT_NE(run.err.find("\\copy: " + dir.path + "/long.csv:2100, column s, value '" + std::string(60, 'z') +
                         "...': the target refused the row\nNothing was loaded.\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(DriverText(conn, "select count(*) from ((select * from cp_ty except select * from cp_back) union all "
                             "(select * from cp_back except select * from cp_ty)) x"),
            "0\n");
  EXPECT_EQ(DriverText(conn, "select count(*), sum(length(lt)) from cp_back"), "3,10000012\n");
  EXPECT_EQ(DriverText(conn, "select * from cp_short"), "0,keep\n");
  // A load never ends a transaction the user began: it is refused, and the user's rollback still holds.
  std::ofstream(dir.path + "/ok.csv") << "id,s\n8,new\n";
  run = RunConsole({"-b", conn}, "begin\ninsert into cp_short values (7, 'txn')\n\\copy cp_short from " + dir.path + "/ok.csv\nrollback\n",
                   options);
  EXPECT_NE(run.err.find("\\copy cannot load inside a transaction begun with BEGIN"), std::string::npos) << run.err;
  EXPECT_EQ(DriverText(conn, "select * from cp_short"), "0,keep\n");
  ExecSql(conn, {"drop table cp_ty, cp_back, cp_short"});
}

// A reconnect to a server that accepts and never answers waits for it past any login timeout in the
// MariaDB driver: Ctrl-C gives it up at once, the session stays, disconnected, at its prompt, and the next
// statement connects again once a server answers on the port.
TEST(MariaDbServerStop, CtrlCGivesUpAReconnectToAServerThatNeverAnswers) {
  TestServer server = StartTestServer(MARIADB_SERVER_SCRIPT);
  ASSERT_TRUE(server.running);
  const std::string port = std::to_string(server.port);
  TestServer again = server;  // a server started again on the same port, in a directory of its own
  again.dir += "-again";
  TerminalSession session = StartOnTerminal({MariaDbConnStr(server)}, 24, 100, "C.UTF-8");
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  StopTestServer(server);
  ShellOutput("bash -c 'for i in $(seq 200); do (echo >/dev/tcp/127.0.0.1/" + port + ") 2>/dev/null || break; sleep 0.1; done'");
  // In the server's place, a listener that takes connections and says nothing.
  std::string pid = ShellOutput("python3 -c 'import socket\ns=socket.socket()\ns.setsockopt(socket.SOL_SOCKET,"
                                "socket.SO_REUSEADDR,1)\ns.bind((\"127.0.0.1\"," + port +
                                "))\ns.listen(5)\nc=[]\nwhile True: c.append(s.accept())' >/dev/null 2>&1 & echo $!");
  ShellOutput("bash -c 'for i in $(seq 100); do (echo >/dev/tcp/127.0.0.1/" + port + ") 2>/dev/null && break; sleep 0.1; done'");
  Type(session, "select 1\r");
  at = WaitFor(session, "Reconnecting\xe2\x80\xa6 ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  usleep(500 * 1000);
  auto typed = std::chrono::steady_clock::now();
  Type(session, "\x03");
  at = WaitFor(session, "cancelled.\r\n", at, 5);
  EXPECT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at, 5);
  EXPECT_NE(at, std::string::npos) << session.screen;
  EXPECT_LT(std::chrono::steady_clock::now() - typed, std::chrono::seconds(3));
  pid.erase(pid.find_last_not_of(" \n") + 1);
  system(("kill " + pid + "; while kill -0 " + pid + " 2>/dev/null; do sleep 0.1; done").c_str());
  // A server again on the same port: the next statement connects and runs.
  ASSERT_EQ(system((again.script + " start " + again.dir + " " + port + " >&2").c_str()), 0);
  again.running = true;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 41 + 1 as answer\r");
  at = WaitFor(session, "Reconnecting\xe2\x80\xa6 done.\r\n", at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, "42", at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  StopTestServer(again);
}
