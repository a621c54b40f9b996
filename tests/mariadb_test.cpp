// End-to-end tests against a real MariaDB server: types shown whole, failures, pauses, a stopped server, a
// reader that goes away.
#include <gtest/gtest.h>

#include "console_runner.h"

namespace {

const std::string kPrompt = "SQL COMMAND>";

std::string MariaDbConnStr(const TestServer& server) {
  return "Driver=MariaDB Unicode;Server=127.0.0.1;Port=" + std::to_string(server.port) + ";Database=test;User=root";
}

// One server for the whole suite, stopped at the end even when tests fail.
TestServer gServer;

struct ServerEnvironment : ::testing::Environment {
  void SetUp() override { gServer = StartTestServer(MARIADB_SERVER_SCRIPT); }
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

TEST_F(MariaDbTest, CompletionReadsTheCurrentDatabaseWhateverElseTheServerHolds) {
  // Another database of 1,100 tables, each with columns, ahead of "test" in every order.
  std::vector<std::string> statements = {"create database aaa_big"};
  for (int i = 0; i < 1100; ++i) statements.push_back("create table aaa_big.t" + std::to_string(i) + "(a int, b int) engine=memory");
  statements.push_back("create table test.people(id int, full_name text)");
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

}  // namespace
