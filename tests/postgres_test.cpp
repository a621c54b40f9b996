// End-to-end tests against a real PostgreSQL server: notices, counts, result sets, long and lost messages.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "console_runner.h"

namespace {

const std::string kPrompt = "SQL COMMAND>";

// A free TCP port on the loopback address.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// A throwaway server in a directory of its own; Stop also removes the directory.
struct PostgresServer {
  std::string dir;   // where its data, socket and log live
  std::string conn;  // the connection string that reaches it
};

PostgresServer StartServer() {
  char pattern[] = "/tmp/odbc-console-pg-XXXXXX";
  PostgresServer server{mkdtemp(pattern), ""};
  int port = FreePort();
  std::string command = std::string(PG_SERVER_SCRIPT) + " start " + server.dir + " " + std::to_string(port);
  if (system(command.c_str()) != 0) return {server.dir, ""};
  server.conn = "Driver=PostgreSQL ANSI;Server=127.0.0.1;Port=" + std::to_string(port) + ";Database=postgres;UID=postgres;"
                "CommLog=0;Debug=0";
  return server;
}

void StopServer(const PostgresServer& server) {
  std::string command = std::string(PG_SERVER_SCRIPT) + " stop " + server.dir;
  if (system(command.c_str()) != 0) ADD_FAILURE() << "could not stop the server in " << server.dir;
}

// Stops a test's own server when the test ends, however it ends.
struct ServerGuard {
  PostgresServer server;
  ~ServerGuard() { StopServer(server); }
};

// One server for the whole suite, stopped at the end even when tests fail.
PostgresServer gServer;

struct ServerEnvironment : ::testing::Environment {
  void SetUp() override { gServer = StartServer(); }
  void TearDown() override { StopServer(gServer); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

struct PostgresTest : ::testing::Test {
  void SetUp() override { ASSERT_FALSE(gServer.conn.empty()) << "the PostgreSQL server did not start"; }
  ConsoleResult Run(const std::string& input) {
    ConsoleOptions merged;
    merged.mergeStreams = true;
    ConsoleResult run = RunConsole({gServer.conn}, input, merged);
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
  ServerGuard guard{StartServer()};
  const PostgresServer& server = guard.server;
  ASSERT_FALSE(server.conn.empty());
  TerminalSession session = StartOnTerminal(server.conn, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "select 7 as seven\r");
  at = WaitFor(session, "|           7  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  StopServer(server);
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

}  // namespace
