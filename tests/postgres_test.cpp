// End-to-end tests against a real PostgreSQL server: notices, counts, result sets, long and lost messages.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include "console_runner.h"

namespace {

const std::string kPrompt = "SQL COMMAND>";

// The connection string of a server started by pg_server.sh.
std::string PostgresConnStr(const TestServer& server) {
  return "Driver=PostgreSQL ANSI;Server=127.0.0.1;Port=" + std::to_string(server.port) +
         ";Database=postgres;UID=postgres;CommLog=0;Debug=0";
}

// Stops a test's own server when the test ends, however it ends.
struct ServerGuard {
  TestServer server;
  ~ServerGuard() { StopTestServer(server); }
};

// One server for the whole suite, stopped at the end even when tests fail.
TestServer gServer;

struct ServerEnvironment : ::testing::Environment {
  void SetUp() override { gServer = StartTestServer(PG_SERVER_SCRIPT); }
  void TearDown() override { StopTestServer(gServer); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

struct PostgresTest : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(gServer.running) << "the PostgreSQL server did not start"; }
  ConsoleResult Run(const std::string& input) {
    ConsoleOptions merged;
    merged.mergeStreams = true;
    ConsoleResult run = RunConsole({PostgresConnStr(gServer)}, input, merged);
    EXPECT_EQ(run.status, 0);
    return run;
  }
};

TEST_F(PostgresTest, NoticesComeFirstAndUnwrittenCountsPrintNothing) {
  ConsoleResult run = Run(
      "do $$ begin raise notice 'hello'; end $$\n"
      "set search_path = public\n"
      "create function noisy() returns setof int language plpgsql as $$ begin raise notice 'rows follow'; "
      "return query select 41; end $$\n"
      "select * from noisy()\n"
      "drop function noisy()\n");
  EXPECT_EQ(run.out,
            "Connected!\nEnter SQL commands, type (control)Z to exit\n" + kPrompt + "[00000] NOTICE: hello (-1)\n" +
                kPrompt + kPrompt + "0 rows affected\n" + kPrompt + "[00000] NOTICE: rows follow (-1)\n| noisy        |\n" +
                "|          41  |\n" + std::string(16, ' ') + "\n" + kPrompt + "0 rows affected\n" + kPrompt +
                "\nDisconnected.");
}

TEST_F(PostgresTest, OnlyTheFirstResultSetIsShownAndQuittingFreesTheHandle) {
  ConsoleResult run = Run(
      "select 'first' as a; select 'second' as b\n"
      "select generate_series(1, 200) as n\n"
      "q\n"
      "select 42 as answer\n");
  EXPECT_NE(run.out.find("| first"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("second"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Press ENTER to continue, Q to quit80" + kPrompt + "| answer"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("|          42  |"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("|           79"), std::string::npos) << run.out;
}

TEST_F(PostgresTest, MultiLineAndOverlongMessagesPrintWithoutOverrun) {
  ConsoleResult run = Run(
      "do $$ begin raise exception E'line one\\nline two\\tand a tab\\x1b[31m'; end $$\n"
      "do $$ begin raise exception '%', repeat('x', 1500); end $$\n"
      "select 'still here' as s\n");
  EXPECT_NE(run.out.find("[P0001] ERROR: line one\nline two\tand a tab?[31m"), std::string::npos) << run.out;
  // The driver manager hands back at most 999 bytes of a message.
  size_t longest = 0;
  for (size_t start = 0, end; start < run.out.size(); start = end + 1) {
    end = run.out.find('\n', start);
    if (end == std::string::npos) end = run.out.size();
    longest = std::max(longest, end - start);
  }
  EXPECT_GT(longest, 900u);
  EXPECT_LT(longest, 1030u);
  EXPECT_NE(run.out.find("| still here"), std::string::npos) << run.out;
}

TEST_F(PostgresTest, LostConnectionReportsEachStatementAndStillDisconnects) {
  ConsoleResult run = Run("select pg_terminate_backend(pg_backend_pid())\nselect 1\nselect 2\n");
  EXPECT_NE(run.out.find("[57P01] FATAL: terminating connection"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(kPrompt + "[08S01] SQLExecDirect unable due to the connection lost (35)\n" + kPrompt +
                         "[08S01] SQLExecDirect unable due to the connection lost (35)\n" + kPrompt + "\nDisconnected."),
            std::string::npos)
      << run.out;
}

TEST(PostgresServerStop, ServerStoppedMidSessionLeavesTheLoopRunning) {
  ServerGuard guard{StartTestServer(PG_SERVER_SCRIPT)};
  TestServer& server = guard.server;
  ASSERT_TRUE(server.running);
  TerminalSession session = StartOnTerminal(PostgresConnStr(server), 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "select 7 as seven\r");
  at = WaitFor(session, "|           7  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  StopTestServer(server);
  Type(session, "select 8\r");
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "select 9\r");
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  EXPECT_NE(session.screen.find("[08S01]"), std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("\r\nDisconnected."), std::string::npos) << session.screen;
}

TEST_F(PostgresTest, EveryTypeShowsWholeAndNullStaysApartFromEmpty) {
  ConsoleOptions options;
  options.locale = "C.UTF-8";
  ConsoleResult run = RunConsole(
      {PostgresConnStr(gServer)},
      "select '-9223372036854775808'::bigint as i, -12345678901234567890123456.0123456789::numeric(38,10) as n, "
      "1.5e300::float8 as f, '2024-12-08 10:11:12.123456+00'::timestamptz as tz, '12:34:56.789'::time as tm, "
      "true as bo, 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'::uuid as u, '{\"a\":1}'::json as j, array[1,2,3] as ar, "
      "'\\x00ff10'::bytea as by, ''::text as e, null::text as nl, repeat('x', 60)::varchar(80) as lt\n",
      options);
  EXPECT_EQ(run.err, "Connected!\n");
  auto lines = TableLines(run.out, "│");
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(lines[1], (std::vector<std::string>{"-9223372036854775808", "-12345678901234567890123456.0123456789", "1.5e+300",
                                                "2024-12-08 10:11:12.123456", "12:34:56.789", "1",
                                                "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11", "{\"a\":1}", "{1,2,3}", "00ff10", "",
                                                "<NULL>", std::string(50, 'x')}))
      << run.out;
}

TEST_F(PostgresTest, ClosedStandardOutputNeverReachesTheConnection) {
  ConsoleOptions options;
  options.stdoutFile = "-";
  ConsoleResult run = RunConsole({PostgresConnStr(gServer)},
                                 "select generate_series(1, 500)\ncreate table closed_out(i int)\ninsert into closed_out values(1)\n",
                                 options);
  EXPECT_EQ(run.err, "Error writing to standard output: Bad file descriptor\nConnected!\n");
  EXPECT_EQ(run.status, 1);
  ConsoleResult check = Run("select count(*) from closed_out\ndrop table closed_out\n");
  EXPECT_NE(check.out.find("|                    1  |"), std::string::npos) << check.out;
}

TEST_F(PostgresTest, CsvExportReadsLongValuesWhole) {
  ConsoleResult run = RunConsole({"--csv", PostgresConnStr(gServer)},
                                 "select repeat('y', 10000) as long, null::text as n, ''::text as e, '\\x00ff'::bytea as b, "
                                 "12345678901234567890.5::numeric as big\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "long,n,e,b,big\n" + std::string(10000, 'y') + ",,\"\",00ff,12345678901234567890.5\n");
}

TEST_F(PostgresTest, CtrlCCancelsAStatementOnTheServer) {
  TerminalSession session = StartOnTerminal(PostgresConnStr(gServer), 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select pg_sleep(60)\r");
  at = WaitFor(session, "pg_sleep(60)\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  usleep(300000);
  Type(session, "\x03");
  at = WaitFor(session, "[57014] ERROR: canceling statement due to user request", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 1 as one\r");
  EXPECT_NE(WaitFor(session, "|           1  |", at), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

// A second connection that holds a lock on the schema catalog, so that any catalog read waits for it.
struct CatalogLock {
  SQLHENV env = SQL_NULL_HENV;  // its own environment
  SQLHDBC dbc = SQL_NULL_HDBC;  // the connection that holds the lock
  bool held = false;            // the lock was taken
  explicit CatalogLock(const std::string& conn) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(conn.c_str())), SQL_NTS,
                                        nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
      return;
    }
    SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    SQLCHAR lock[] = "lock table pg_catalog.pg_namespace in access exclusive mode";
    held = SQL_SUCCEEDED(SQLExecDirect(stmt, lock, SQL_NTS));
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  void Release() {
    if (dbc == SQL_NULL_HDBC) return;
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    dbc = SQL_NULL_HDBC;
  }
  ~CatalogLock() { Release(); }
};

TEST_F(PostgresTest, CompletionReadsTheSearchPathAndAnySchemaAndCtrlCStopsACatalogRead) {
  ASSERT_EQ(ExecSql(PostgresConnStr(gServer),
                    {"create schema otherschema", "create table otherschema.table_one(a int)",
                     "create table otherschema.tab_two(b int)", "create table \"MixedCase\"(\"Full Name\" int, full_name int)",
                     "insert into \"MixedCase\" values(5, 6)", "create table otherschema.hidden_from_path(h int)"}),
            "");
  TerminalSession session = StartOnTerminal(PostgresConnStr(gServer), 24, 100);
  size_t at = WaitFor(session, kPrompt);
  // A catalog read that waits on a lock: Ctrl-C stops it and the line stays, to be completed later.
  {
    CatalogLock lock(PostgresConnStr(gServer));
    ASSERT_TRUE(lock.held);
    ASSERT_TRUE(WaitForEditor(session));
    Type(session, "select * from otherschema.tab\t");
    usleep(500000);
    Type(session, "\x03");
    Type(session, "le_o");
    at = WaitFor(session, "tabl", at);
    ASSERT_NE(at, std::string::npos) << session.screen;
  }
  // Tables of a schema off the search path, after `schema.`.
  Type(session, "\t");
  at = WaitFor(session, "ne ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\x15select * from otherschema.tab\t\t");
  at = WaitFor(session, "\r\ntab_two    table_one\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // Mixed case where PostgreSQL folds to lower case: quoted, with the closing quote and the blank after.
  // Tables off the search path are not offered unqualified.
  Type(session, "\x15select \"Fu\t from \"Mix\t");
  at = WaitFor(session, "edCase\" ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\r");
  at = WaitFor(session, "| Full Name ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select * from hidden_f\t");
  usleep(300000);
  Type(session, "\x15");
  EXPECT_EQ(Finish(session), 0);
  EXPECT_EQ(session.screen.find("hidden_from_path"), std::string::npos) << session.screen;
  ExecSql(PostgresConnStr(gServer), {"drop schema otherschema cascade", "drop table \"MixedCase\""});
}

}  // namespace
