// End-to-end tests against a real PostgreSQL server: notices, counts, result sets, long and lost messages.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <termios.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <sstream>
#include <thread>
#include <fstream>

#include "console_runner.h"
#include "type_mapping_check.h"
#include "display/output.h"
#include "session/connections.h"

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

// One server for the whole suite (ctest's fixture, or one of its own when the suite runs alone), stopped at
// the end even when tests fail.
TestServer gServer;

struct ServerEnvironment : ::testing::Environment {
  void SetUp() override { gServer = SuiteServer(PG_SERVER_SCRIPT); }
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

TEST_F(PostgresTest, EveryResultSetAndCountIsShownAndQuittingFreesTheHandle) {
  ConsoleResult run = Run(
      "create temporary table log(v int)\n"
      "select 'first' as a; insert into log values (7); select 'second' as b\n"
      "select generate_series(1, 200) as n\n"
      "q\n"
      "select 42 as answer\n");
  size_t first = run.out.find("| first");
  size_t count = run.out.find("1 row affected\n", first);
  size_t second = run.out.find("| second", count);
  EXPECT_NE(first, std::string::npos) << run.out;
  EXPECT_NE(count, std::string::npos) << run.out;
  EXPECT_NE(second, std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Press ENTER to continue, Q to quit80" + kPrompt + "| answer"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("|          42  |"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("|           79"), std::string::npos) << run.out;
  // In CSV every result set has its own header line, and counts are not data.
  run = RunConsole({"--csv", PostgresConnStr(gServer)}, "select 1 as a, 2 as b; select 'x' as c\n");
  EXPECT_EQ(run.out, "a,b\n1,2\nc\nx\n");
  EXPECT_EQ(run.status, 0);
}

// Ctrl-C landing just as a short statement ends (the driver manager may take the cancel for a close) is a
// cancelled statement: the session goes on, and the next statement runs on the same connection.
TEST_F(PostgresTest, CtrlCAroundTheEndOfShortStatementsNeverEndsTheSession) {
  TerminalSession session = StartOnTerminal(PostgresConnStr(gServer), 24, 100);
  size_t at = WaitFor(session, kPrompt);
  srand(4242);
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(WaitForEditor(session)) << i << session.screen.substr(at);
    Type(session, "select pg_sleep(0.02) as s\r");
    usleep(static_cast<useconds_t>(rand() % 34000));
    Type(session, "\x03");
    // A Ctrl-C after the statement ended discards the next prompt's empty line and prompts again: wait
    // for the last prompt, as keys typed between two prompts go to the terminal's own line editing.
    usleep(60000);
    at = WaitFor(session, kPrompt, at);
    ASSERT_NE(at, std::string::npos) << i << session.screen;
    for (size_t next; (next = session.screen.find(kPrompt, at)) != std::string::npos;) at = next + kPrompt.size();
  }
  // The session is still there and runs the next statement. (A key typed in the instant between two
  // prompts may go to the terminal's own line editing, so a statement that came out garbled is typed again.)
  size_t answer = std::string::npos;
  for (int attempt = 0; attempt < 3 && answer == std::string::npos; ++attempt) {
    ASSERT_TRUE(WaitForEditor(session));
    Type(session, "select 40 + 2 as answer\r");
    answer = WaitFor(session, "|          42  |", at);
    if (answer == std::string::npos) at = WaitFor(session, kPrompt, at);
  }
  EXPECT_NE(answer, std::string::npos) << session.screen.substr(at);
  EXPECT_EQ(session.screen.find("Disconnected."), std::string::npos);
  EXPECT_EQ(Finish(session), 0);
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
  // Each statement tries to connect again and says it failed, with the driver's reason; none is run.
  size_t first = session.screen.find("The connection was lost. Reconnecting\xe2\x80\xa6 failed.\r\n[08001]");
  EXPECT_NE(first, std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("select 9\r\nThe connection was lost. Reconnecting\xe2\x80\xa6 failed.\r\n[08001]", first),
            std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("\r\nDisconnected."), std::string::npos) << session.screen;
}

// At a terminal a statement that finds the connection gone reconnects, without running that statement
// again; the next statement runs on the new connection.
TEST(PostgresServerRestart, LostConnectionIsMadeAgainAtATerminal) {
  ServerGuard guard{StartTestServer(PG_SERVER_SCRIPT)};
  TestServer& server = guard.server;
  ASSERT_TRUE(server.running);
  ASSERT_EQ(ExecSql(PostgresConnStr(server), {"create table hits(n int)"}), "");
  TerminalSession session = StartOnTerminal(PostgresConnStr(server), 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 7 as seven\r");
  at = WaitFor(session, "|           7  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_EQ(system((server.script + " restart " + server.dir + " >/dev/null 2>&1").c_str()), 0);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "insert into hits values (1)\r");
  at = WaitFor(session, "The connection was lost. Reconnecting\xe2\x80\xa6 done.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "insert into hits values (2)\r");
  at = WaitFor(session, "1 row affected", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  // The statement that found the connection gone was not run again.
  ConsoleResult run = RunConsole({"-b", PostgresConnStr(server)}, "select count(*) as c, sum(n) as s from hits\n");
  EXPECT_NE(run.out.find("|                    1 |                    2  |"), std::string::npos) << run.out;
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

TEST_F(PostgresTest, ScriptsRunInOrderNameTheirLinesAndVariablesStayOneLiteralOrName) {
  TempDir dir;
  std::string one = dir.path + "/one.sql", two = dir.path + "/two.sql";
  std::ofstream(one) << "drop table if exists sv;\ncreate table sv(n serial, what text);\n\n"
                        "insert into sv(what) values('f1');\nselect * from nosuch_sv;\n";
  std::ofstream(two) << "insert into sv(what) values(:'v');\ninsert into sv(what) values('f2');\n";
  std::string hostile = "x'); drop table sv; select $$\\' E'\\'";
  std::string name = "Odd\"name";
  ConsoleResult run = RunConsole({"--csv", "-v", "v=" + hostile, "-v", "t=" + name, "-f", one, "-c", "insert into sv(what) values('c1')",
                                  "-f", two, "-c", "create temp table :\"t\"(a text); insert into :\"t\" values(:'v')",
                                  "-c", "select :'v'::text as lit, count(*)::int as rows, $$:v$$ as body, E':v' as e "
                                        "from :\"t\" where a = :'v'",
                                  PostgresConnStr(gServer)},
                                 "");
  // Each line of a diagnostic names the file and the statement's line.
  EXPECT_NE(run.err.find(one + ":5: [42P01] ERROR: relation \"nosuch_sv\" does not exist;\n" + one +
                         ":5: Error while executing the query (1)\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "lit,rows,body,e\n" + hostile + ",1,:v,:v\n");
  EXPECT_EQ(DriverText(PostgresConnStr(gServer), "select string_agg(what, '|' order by n) from sv"), "f1|c1|" + hostile + "|f2\n");
  ExecSql(PostgresConnStr(gServer), {"drop table sv"});
}

TEST_F(PostgresTest, JsonLinesOfEveryTypeMatchTheCsvExport) {
  TempDir dir;
  std::string query =
      "select '-9223372036854775808'::bigint as i, -12345678901234567890123456.0123456789::numeric(38,10) as n, "
      "1.5e300::float8 as f, 'NaN'::float8 as nan, '-Infinity'::float4 as inf, 0.5::real as r, 2::smallint as s, "
      "'2024-12-08 10:11:12.123456+00'::timestamptz as tz, '12:34:56.789'::time as tm, true as bo, "
      "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'::uuid as u, '{\"a\":1}'::json as j, array[1,2,3] as ar, "
      "'\\x00ff10'::bytea as by, ''::text as e, null::text as nl, null::int as ni, E'tab\\there \"q\" \\\\ \\u2028 抹茶' as t\n";
  for (const char* format : {"--format=json", "--csv"}) {
    ConsoleOptions options;
    options.locale = "C.UTF-8";
    options.stdoutFile = dir.path + (format[2] == 'f' ? "/types.json" : "/types.csv");
    ConsoleResult run = RunConsole({format, PostgresConnStr(gServer)}, query, options);
    EXPECT_EQ(run.err, "");
  }
  std::ifstream in(dir.path + "/types.json");
  std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(json.find("{\"i\":-9223372036854775808,\"n\":-12345678901234567890123456.0123456789,\"f\":1.5e+300,\"nan\":\"NaN\","
                      "\"inf\":\"-Infinity\",\"r\":0.5,\"s\":2,"), std::string::npos)
      << json;
  EXPECT_EQ(system(("python3 " PROJECT_SOURCE_DIR "/tests/json_matches_csv.py " + dir.path + "/types.json " + dir.path +
                    "/types.csv >/dev/null").c_str()),
            0)
      << json;
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

TEST_F(PostgresTest, RowsFetchedBeforeAFailingRowsetAreWrittenAsOneRowFetchingWritesThem) {
  // The driver reads its cursor two rows at a time and the block of row 5 fails: the table into a file
  // (rowsets) writes the four rows before it, as CSV (one row at a time) does.
  std::string conn = PostgresConnStr(gServer) + ";UseDeclareFetch=1;Fetch=2";
  std::string input = "select x, 1/(x-5) as q from generate_series(1,10) x\nselect 'after' as a\n";
  TempDir dir;
  ConsoleOptions toFile;
  toFile.stdoutFile = dir.path + "/table.txt";
  ConsoleResult table = RunConsole({conn}, input, toFile);
  ConsoleResult csv = RunConsole({"--csv", conn}, input);
  std::ifstream file(toFile.stdoutFile);
  std::string listing((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(TableLines(listing), (std::vector<std::vector<std::string>>{
                                     {"x", "q"}, {"1", "0"}, {"2", "0"}, {"3", "0"}, {"4", "-1"}, {"a"}, {"after"}}))
      << listing;
  EXPECT_EQ(csv.out, "x,q\n1,0\n2,0\n3,0\n4,-1\na\nafter\n");
  const std::string failure =
      "[22012] ERROR: division by zero;\nError while fetching the next result (1)\nError in RetCode = SQLFetch(lpStmt)\n";
  EXPECT_EQ(table.err, "Connected!\n" + failure);
  EXPECT_EQ(csv.err, failure);

  // A failure in a later rowset: what the table writes is what one-row fetching writes, in order, none
  // twice (a status of the rowset before must not pass for this one's).
  input = "select x from generate_series(1,300) x where 1/(x-103) is not null\n";
  table = RunConsole({"-b", conn}, input);
  csv = RunConsole({"-b", "--csv", conn}, input);
  auto rows = TableLines(table.out);
  ASSERT_GE(rows.size(), 2u) << table.out;
  std::string written;
  for (size_t i = 1; i < rows.size(); ++i) written += rows[i].at(0) + "\n";
  EXPECT_EQ(csv.out.compare(0, 2 + written.size(), "x\n" + written), 0) << table.out;
  EXPECT_EQ(table.err, failure);
}

// The console started as a shell starts a job: in a process group of its own in the foreground of a new
// pseudo-terminal, standard input from `script`. The process between (session.pid) shows "[stopped]" when
// the console stops, continues it in the foreground at SIGUSR1, and shows "[exit N]" or "[signal N]" at
// its end.
TerminalSession StartAsJob(const std::vector<std::string>& args, const std::string& script) {
  TerminalSession session;
  winsize size = {24, 100, 0, 0};
  session.pid = forkpty(&session.master, nullptr, nullptr, &size);
  if (session.pid != 0) return session;
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGUSR1);
  sigaddset(&held, SIGTTOU);  // the terminal is handed over from the background
  sigprocmask(SIG_BLOCK, &held, nullptr);
  pid_t job = fork();
  if (job == 0) {
    setpgid(0, 0);
    tcsetpgrp(0, getpid());
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
    int input = open(script.c_str(), O_RDONLY);
    dup2(input, 0);
    close(input);
    std::vector<char*> argv{const_cast<char*>(ODBC_CONSOLE_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    setenv("LC_ALL", "C", 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  setpgid(job, job);
  tcsetpgrp(0, job);
  for (;;) {
    int status = 0;
    if (waitpid(job, &status, WUNTRACED) < 0) _exit(1);
    std::string report;
    if (WIFSTOPPED(status)) {
      report = "[stopped]\n";
    } else if (WIFEXITED(status)) {
      report = "[exit " + std::to_string(WEXITSTATUS(status)) + "]\n";
    } else {
      report = "[signal " + std::to_string(WTERMSIG(status)) + "]\n";
    }
    if (write(1, report.data(), report.size()) < 0) _exit(1);
    if (!WIFSTOPPED(status)) _exit(0);
    int signalNumber = 0;
    sigset_t resume;
    sigemptyset(&resume);
    sigaddset(&resume, SIGUSR1);
    sigwait(&resume, &signalNumber);
    tcsetpgrp(0, job);
    kill(-job, SIGCONT);
  }
}

// True when the terminal echoes what is typed.
bool Echoes(const TerminalSession& session) {
  termios mode;
  return tcgetattr(session.master, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
}

TEST_F(PostgresTest, PasswordIsAskedWithoutEchoAndTheTerminalRestoredAfterAStopOrCtrlC) {
  // A user who must give a password; its '}' and ';' test the quoting in the connection string.
  Run("create role ann login password 'pa}ss;w0rd'\n");
  std::string hbaPath = gServer.dir + "/data/pg_hba.conf";
  std::ifstream hbaIn(hbaPath);
  std::string hba((std::istreambuf_iterator<char>(hbaIn)), std::istreambuf_iterator<char>());
  std::ofstream(hbaPath) << "host all ann 127.0.0.1/32 scram-sha-256\n" << hba;
  Run("select pg_reload_conf()\n");
  std::string conn = "Driver=PostgreSQL ANSI;Server=127.0.0.1;Port=" + std::to_string(gServer.port) +
                     ";Database=postgres;UID=ann;CommLog=0;Debug=0";
  EXPECT_EQ(RunConsole({"-b", conn}, "select 1\n").status, 1) << "the server let ann in without a password";
  TempDir dir;
  std::string script = dir.path + "/who.sql";
  std::ofstream(script) << "select current_user as who\n";

  // Statements from a script, the password from the terminal, a stop (Ctrl-Z) and fg in between.
  TerminalSession session = StartAsJob({"-p", "-b", conn}, script);
  size_t at = WaitFor(session, "Password: ");
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_FALSE(Echoes(session));
  Type(session, "\x1a");
  at = WaitFor(session, "[stopped]", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_TRUE(Echoes(session));
  kill(session.pid, SIGUSR1);
  at = WaitFor(session, "Password: ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_FALSE(Echoes(session));
  Type(session, "pa}ss;w0rd\r");
  EXPECT_NE(WaitFor(session, "| ann", at), std::string::npos) << session.screen;
  EXPECT_NE(WaitFor(session, "[exit 0]", at), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("w0rd"), std::string::npos) << session.screen;
  EXPECT_TRUE(Echoes(session));
  close(session.master);
  waitpid(session.pid, nullptr, 0);

  // Ctrl-C at the prompt ends the console as before a session is ready, the terminal as it was.
  session = StartAsJob({"-p", "-b", conn}, script);
  at = WaitFor(session, "Password: ");
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\x03");
  EXPECT_NE(WaitFor(session, "[signal 2]", at), std::string::npos) << session.screen;
  EXPECT_TRUE(Echoes(session));
  close(session.master);
  waitpid(session.pid, nullptr, 0);
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

TEST_F(PostgresTest, CatalogCommandsFollowSchemasAndIdentifierCase) {
  ConsoleOptions quiet;
  ConsoleResult run = RunConsole({"-b", PostgresConnStr(gServer)},
                                 "create schema cmd_other\n"
                                 "create table cmd_other.t1(a int)\n"
                                 "create table \"CmdMixed\"(q int primary key)\n"
                                 "create table cmd_child(id int primary key, m int default 4 references \"CmdMixed\"(q))\n"
                                 "create table cmdxchild(id int)\n"
                                 "create index cmd_child_m on cmd_child(m)\n"
                                 "create view cmd_view as select 1 as one\n"
                                 "create function cmd_add(i int) returns int language sql as 'select i + 1'\n",
                                 quiet);
  ASSERT_EQ(run.err, "");
  using Lines = std::vector<std::vector<std::string>>;
  run = RunConsole({"-b", PostgresConnStr(gServer)},
                   "\\dt cmd_*\n\\dt cmd_other.*\n\\dv cmd*\n\\df cmd_add\n\\d CMD_CHILD\n\\d \"CmdMixed\"\n", quiet);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(TableLines(run.out),
            (Lines{{"schema", "name", "type"}, {"public", "cmd_child", "TABLE"},  // _ is no wildcard: not cmdxchild
                   {"schema", "name", "type"}, {"cmd_other", "t1", "TABLE"},
                   {"schema", "name", "type"}, {"public", "cmd_view", "VIEW"},
                   {"schema", "name", "result type", "argument types", "type"}, {"public", "cmd_add", "integer", "i integer", "function"},
                   {"column", "type", "nullable", "default"}, {"id", "integer", "NO", ""}, {"m", "integer", "YES", "4"},
                   {"index", "kind", "columns", "condition"}, {"cmd_child_pkey", "primary key", "id", ""},
                   {"cmd_child_m", "", "m", ""},
                   {"foreign key", "columns", "references", "on update", "on delete"},
                   {"cmd_child_m_fkey", "m", "public.CmdMixed(q)", "NO ACTION", "NO ACTION"},
                   {"column", "type", "nullable", "default"}, {"q", "integer", "NO", ""},
                   {"index", "kind", "columns", "condition"}, {"CmdMixed_pkey", "primary key", "q", ""},
                   {"table", "foreign key", "columns", "references", "on update", "on delete"},
                   {"public.cmd_child", "cmd_child_m_fkey", "m", "q", "NO ACTION", "NO ACTION"}}))
      << run.out;
  // Unquoted, the name folds to lower case as PostgreSQL folds it: no such table.
  run = RunConsole({"-b", PostgresConnStr(gServer)}, "\\d CmdMixed\n\\dn\n\\conninfo\n", quiet);
  EXPECT_EQ(run.err, "Did not find any table or view named CmdMixed\n");
  EXPECT_EQ(run.status, 1);
  auto lines = TableLines(run.out);
  EXPECT_NE(std::find(lines.begin(), lines.end(), std::vector<std::string>{"cmd_other"}), lines.end()) << run.out;
  EXPECT_NE(run.out.find("DBMS: PostgreSQL "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Database: postgres\nUser: postgres\nServer: 127.0.0.1\n"), std::string::npos) << run.out;
}

// A database's pg_dump with inserts, its psql-only backslash lines aside.
std::string PgDumpOf(const std::string& database) {
  return ShellOutput("pg_dump --inserts -h 127.0.0.1 -p " + std::to_string(gServer.port) + " -U postgres " + database +
                     " | grep -v '^\\\\'");
}

TEST_F(PostgresTest, DescribeShowsWhatPsqlShows) {
  ConsoleOptions quiet;
  ConsoleResult run = RunConsole({"-b", PostgresConnStr(gServer)},
                                 "create schema d_sales\n"
                                 "create table d_customers(id int primary key, name varchar(40) not null default 'anon')\n"
                                 "create table d_sales.invoices(year int, no int, amount numeric(10,2) check (amount > 0), "
                                 "cust int references public.d_customers(id) on delete cascade, code text unique, primary key(year, no))\n"
                                 "create index invoices_desc on d_sales.invoices(amount desc, code)\n"
                                 "create index invoices_big on d_sales.invoices(cust) where amount > 10\n"
                                 "create view d_sales.big as select year, amount from d_sales.invoices where amount > 100\n",
                                 quiet);
  ASSERT_EQ(run.err, "");
  std::string psql = ShellOutput("psql -X -h 127.0.0.1 -p " + std::to_string(gServer.port) +
                                 " -U postgres -d postgres -c '\\d d_sales.invoices' -c '\\d d_customers' -c '\\d+ d_sales.big'");
  for (const char* fact : {"numeric(10,2)", "\"invoices_pkey\" PRIMARY KEY, btree (year, no)", "\"invoices_code_key\" UNIQUE CONSTRAINT, btree (code)",
                           "\"invoices_desc\" btree (amount DESC, code)", "\"invoices_big\" btree (cust) WHERE amount > 10::numeric",
                           "\"invoices_amount_check\" CHECK (amount > 0::numeric)",
                           "\"invoices_cust_fkey\" FOREIGN KEY (cust) REFERENCES d_customers(id) ON DELETE CASCADE",
                           "TABLE \"d_sales.invoices\" CONSTRAINT \"invoices_cust_fkey\"", "WHERE invoices.amount > 100::numeric;"}) {
    ASSERT_NE(psql.find(fact), std::string::npos) << fact << "\n" << psql;
  }
  run = RunConsole({"-b", PostgresConnStr(gServer)}, "\\d d_sales.invoices\n\\d d_customers\n\\d d_sales.big\n", quiet);
  EXPECT_EQ(run.err, "");
  using Lines = std::vector<std::vector<std::string>>;
  EXPECT_EQ(TableLines(run.out),
            (Lines{{"column", "type", "nullable", "default"}, {"year", "integer", "NO", ""}, {"no", "integer", "NO", ""},
                   {"amount", "numeric(10,2)", "YES", ""}, {"cust", "integer", "YES", ""}, {"code", "text", "YES", ""},
                   {"index", "kind", "columns", "condition"},
                   {"invoices_pkey", "primary key", "year, no", ""},
                   {"invoices_code_key", "unique", "code", ""},
                   {"invoices_big", "", "cust", "amount > 10::numeric"},
                   {"invoices_desc", "", "amount DESC, code", ""},
                   {"foreign key", "columns", "references", "on update", "on delete"},
                   {"invoices_cust_fkey", "cust", "public.d_customers(id)", "NO ACTION", "CASCADE"},
                   {"check", "condition"}, {"invoices_amount_check", "CHECK (amount > 0::numeric)"},
                   {"column", "type", "nullable", "default"}, {"id", "integer", "NO", ""},
                   {"name", "character varying(40)", "NO", "'anon'::character varying"},
                   {"index", "kind", "columns", "condition"}, {"d_customers_pkey", "primary key", "id", ""},
                   {"table", "foreign key", "columns", "references", "on update", "on delete"},
                   {"d_sales.invoices", "invoices_cust_fkey", "cust", "id", "NO ACTION", "CASCADE"},
                   {"column", "type", "nullable", "default"}, {"year", "integer", "YES", ""}, {"amount", "numeric(10,2)", "YES", ""}}))
      << run.out;
  EXPECT_NE(run.out.find("Table d_sales.invoices:\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("View definition:\n   SELECT invoices.year,\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("    WHERE invoices.amount > 100::numeric;\n"), std::string::npos) << run.out;

  // Listings: the search path unless the pattern names a schema; the system's with S or a pattern; sorted.
  run = RunConsole({"-b", PostgresConnStr(gServer)}, "\\dt d_*;\n\\dt d_sales.*\n\\dv *.b*\n\\df\n\\dfS now\n\\dn\n", quiet);
  EXPECT_EQ(run.err, "");
  auto lines = TableLines(run.out);
  EXPECT_EQ(std::vector<std::vector<std::string>>(lines.begin(), lines.begin() + 6),
            (Lines{{"schema", "name", "type"}, {"public", "d_customers", "TABLE"},
                   {"schema", "name", "type"}, {"d_sales", "invoices", "TABLE"},
                   {"schema", "name", "type"}, {"d_sales", "big", "VIEW"}}))
      << run.out;
  EXPECT_EQ(run.out.find("| pg_catalog | pg_"), std::string::npos) << run.out;  // \df lists no system function
  EXPECT_NE(run.out.find("| pg_catalog | now  | timestamp with time zone |                | function |"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("| information_schema"), std::string::npos) << run.out;
  run = RunConsole({"-b", PostgresConnStr(gServer)}, "\\dt *.*\n", quiet);
  lines = TableLines(run.out);
  auto at = [&](const std::vector<std::string>& row) { return std::find(lines.begin(), lines.end(), row) - lines.begin(); };
  auto sales = at({"d_sales", "invoices", "TABLE"}), catalog = at({"pg_catalog", "pg_class", "TABLE"}),
       customers = at({"public", "d_customers", "TABLE"});
  EXPECT_LT(sales, catalog) << run.out;
  EXPECT_LT(catalog, customers) << run.out;
  EXPECT_LT(customers, static_cast<long>(lines.size())) << run.out;
}

TEST_F(PostgresTest, DollarBodiesQuotesAndADumpRestoredThroughAFile) {
  ConsoleOptions options;
  options.mergeStreams = true;
  std::string server = "Driver=PostgreSQL ANSI;Server=127.0.0.1;Port=" + std::to_string(gServer.port) + ";UID=postgres;Database=";
  ConsoleResult run = RunConsole({"-m", "-b", server + "postgres"}, "create database src; create database dst;\n", options);
  ASSERT_EQ(run.out, "0 rows affected\n0 rows affected\n");
  run = RunConsole(
      {"-m", "-b", server + "src"},
      "create table item(id int primary key, name text, note text);\n"
      "create table audit(item int, what text);\n"
      "create function audit_item() returns trigger language plpgsql as $$\n"
      "begin\n"
      "  insert into audit values (new.id, 'added; ' || new.name);\n"
      "  return new;\n"
      "end $$;\n"
      "create trigger item_audit after insert on item for each row execute function audit_item();\n"
      "create function twice(x int) returns int language sql\n"
      "begin atomic\n"
      "  select case when x is null then 0 else x * 2 end;\n"
      "end;\n"
      // s.end is a column, not the end of the body.
      "create table span(start int, \"end\" int);\n"
      "create function span_length() returns int language sql begin atomic select max(s.end - s.start) from span s; end;\n"
      "insert into item values (1, 'a;b', E'back\\\\slash\\'; quote'), (2, $q$dollar; $$ quoted$q$, null);\n"
      "select 'x;y' as \"semi;colon\", twice(21) as t /* block; /* nested; */ comment; */ -- line; comment\n"
      "  , name from item order by id;\n",
      options);
  EXPECT_EQ(run.status, 0) << run.out;
  auto lines = TableLines(run.out);
  EXPECT_EQ(lines, (std::vector<std::vector<std::string>>{
                       {"semi;colon", "t", "name"}, {"x;y", "42", "a;b"}, {"x;y", "42", "dollar; $$ quoted"}}))
      << run.out;
  std::string dump = PgDumpOf("src");
  ASSERT_NE(dump.find("BEGIN ATOMIC"), std::string::npos) << dump;
  TempDir dir;
  std::string dumpFile = dir.path + "/dump.sql";
  std::ofstream(dumpFile, std::ios::binary) << dump;
  run = RunConsole({"-f", dumpFile, server + "dst"}, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(PgDumpOf("dst"), dump);
  RunConsole({"-b", server + "postgres"}, "drop database src\ndrop database dst\n");
}

// A ';' inside parentheses ends nothing: a rule's several actions stay one statement, as pg_dump writes them
// too; a '$' inside a name opens no dollar body.
TEST_F(PostgresTest, RulesOfSeveralActionsStayWholeAndRestoreFromADump) {
  ConsoleOptions options;
  options.mergeStreams = true;
  std::string server = "Driver=PostgreSQL ANSI;Server=127.0.0.1;Port=" + std::to_string(gServer.port) + ";UID=postgres;Database=";
  ConsoleResult run = RunConsole({"-m", "-b", server + "postgres"}, "create database rsrc; create database rdst;\n", options);
  ASSERT_EQ(run.status, 0) << run.out;
  run = RunConsole({"-m", "-b", server + "rsrc"},
                   "create table t(id int primary key, v int); create table audit(id int);\n"
                   "insert into audit values (1), (2);\n"
                   "create rule r as on update to t do also (select 1; delete from audit where id = 1; select 2);\n"
                   "create rule r2 as on insert to t do also (\n"
                   "  insert into audit values (new.id);\n"
                   "  update audit set id = id + 100 where id = new.id;\n"
                   ");\n"
                   "select 1 as a$b$c; select count(*) as n from audit;\n",
                   options);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(TableLines(run.out), (std::vector<std::vector<std::string>>{{"a$b$c"}, {"1"}, {"n"}, {"2"}})) << run.out;
  std::string dump = PgDumpOf("rsrc");
  ASSERT_NE(dump.find("DO ( INSERT INTO"), std::string::npos) << dump;
  TempDir dir;
  std::string dumpFile = dir.path + "/dump.sql";
  std::ofstream(dumpFile, std::ios::binary) << dump;
  run = RunConsole({"-f", dumpFile, server + "rdst"}, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(PgDumpOf("rdst"), dump);
  RunConsole({"-b", server + "postgres"}, "drop database rsrc\ndrop database rdst\n");
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
  // A catalog read that meets a lock gives the line back, to be completed later.
  {
    CatalogLock lock(PostgresConnStr(gServer));
    ASSERT_TRUE(lock.held);
    ASSERT_TRUE(WaitForEditor(session));
    Type(session, "select * from otherschema.tab\t");
    usleep(500000);
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

// Completion reads the catalog on a connection of its own: a table locked by another session does not hold
// the line, and the user's transaction, aborted by an error, does not stop it.
TEST_F(PostgresTest, CompletionIsNeitherHeldByALockNorStoppedByAnAbortedTransaction) {
  std::string conn = PostgresConnStr(gServer);
  ASSERT_EQ(ExecSql(conn, {"drop table if exists locked_people", "create table locked_people(id int, locked_name text)"}), "");
  TerminalSession session = StartOnTerminal(conn, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  {
    HeldSession lock(conn, {"begin", "lock table pg_catalog.pg_attribute in access exclusive mode"});
    ASSERT_EQ(lock.failure, "");
    Type(session, "select * from locked_people where locked_na\t");
    usleep(100000);
    Type(session, "Z");
    at = WaitFor(session, "Z", at, 5);
    ASSERT_NE(at, std::string::npos) << session.screen;
  }
  Type(session, "\x7f\t");
  at = WaitFor(session, "me ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\x15" "begin\r");
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 1/0\r");
  at = WaitFor(session, "division by zero", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select * from locked_peo\t");
  at = WaitFor(session, "ple ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\x15rollback\r");
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  EXPECT_EQ(Finish(session), 0);
  ExecSql(conn, {"drop table locked_people"});
}

// Titles as written, a script of good statements that exits 0 with nothing on standard error, and the
// driver's reason for each failed connection with the line naming the failed call.
TEST_F(PostgresTest, TitlesShowAsWrittenAGoodScriptIsQuietAndAFailedConnectionSaysWhy) {
  ConsoleResult run = RunConsole({"--csv", PostgresConnStr(gServer)},
                                 "create table titled(n int)\ninsert into titled values(1)\n"
                                 "select n as \"x.y\", 2 as \"version 1.2\" from titled\ndrop table titled\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "x.y,version 1.2\n1,2\n");
  const std::string failedCall =
      "Error in SQLDriverConnect(lpDbc, GetDesktopWindow(), szConnStr, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_COMPLETE)\n";
  std::string conn = PostgresConnStr(gServer);
  run = RunConsole({"-b", conn.replace(conn.find("Database=postgres"), 17, "Database=nosuch")}, "select 1\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("database \"nosuch\" does not exist"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(failedCall), std::string::npos) << run.err;
  conn = PostgresConnStr(gServer);
  run = RunConsole({"-b", conn.replace(conn.find(std::to_string(gServer.port)), std::to_string(gServer.port).size(),
                                       std::to_string(FreePort()))},
                   "select 1\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Connection refused"), std::string::npos) << run.err;
}

TEST_F(PostgresTest, ConnectSwitchesTheDatabaseAsPgDumpWritesItAndAFailureKeepsTheOld) {
  std::string conn = PostgresConnStr(gServer);
  ASSERT_EQ(ExecSql(conn, {"drop database if exists switch_one", "create database switch_one",
                           "drop database if exists \"switch 'two'\"", "create database \"switch 'two'\""}),
            "");
  TempDir dir;
  std::string lite = SqliteConnStr(dir.path + "/lite.db");
  ConsoleResult run = Run("\\connect switch_one\n"
                          "select current_database()\n"
                          "\\connect -reuse-previous=on \"dbname='switch \\'two\\''\"\n"
                          "select current_database()\n"
                          "\\c nosuchdb\n"
                          "select current_database()\n"
                          "\\c postgres\n"
                          "select current_database()\n"
                          "\\connect lite " + lite + "\n"
                          "\\conninfo\n");
  std::vector<std::vector<std::string>> lines = TableLines(run.out);
  ASSERT_EQ(lines.size(), 8u) << run.out;
  EXPECT_EQ(lines[1], (std::vector<std::string>{"switch_one"}));
  EXPECT_EQ(lines[3], (std::vector<std::string>{"switch 'two'"}));
  EXPECT_EQ(lines[5], (std::vector<std::string>{"switch 'two'"}));
  EXPECT_EQ(lines[7], (std::vector<std::string>{"postgres"}));
  EXPECT_NE(run.out.find("Connected to PostgreSQL 1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("database \"nosuchdb\" does not exist"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Previous connection kept.\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Database: postgres\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Named connections:\n  lite: SQLite 3."), std::string::npos) << run.out;
}

TEST_F(PostgresTest, ConnectingWithDashPAsksThePasswordWhenTheStringHasNone) {
  Run("create role bea login password 'b3a'\n");
  std::string hbaPath = gServer.dir + "/data/pg_hba.conf";
  std::ifstream hbaIn(hbaPath);
  std::string hba((std::istreambuf_iterator<char>(hbaIn)), std::istreambuf_iterator<char>());
  std::ofstream(hbaPath) << "host all bea 127.0.0.1/32 scram-sha-256\n" << hba;
  Run("select pg_reload_conf()\n");
  std::string bea = "Driver=PostgreSQL ANSI;Server=127.0.0.1;Port=" + std::to_string(gServer.port) +
                    ";Database=template1;UID=bea;CommLog=0;Debug=0";
  TerminalSession session = StartOnTerminal({"-p", bea}, 24, 200);
  size_t at = WaitFor(session, "Password: ");
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "b3a\r");
  at = WaitFor(session, kPrompt, at);
  // A wrong password fails the named connection; the right one opens it.
  for (const char* password : {"wrong", "b3a"}) {
    ASSERT_TRUE(WaitForEditor(session));
    Type(session, "\\connect other " + bea + "\r");
    at = WaitFor(session, "Password: ", at);
    ASSERT_NE(at, std::string::npos) << session.screen;
    Type(session, std::string(password) + "\r");
    at = WaitFor(session, kPrompt, at);
    ASSERT_NE(at, std::string::npos) << session.screen;
  }
  EXPECT_NE(session.screen.find("password authentication failed for user \"bea\""), std::string::npos) << session.screen;
  // The session's own string has its password: switching the database asks none.
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "\\c postgres\r");
  size_t connected = WaitFor(session, "Connected to PostgreSQL", at);
  ASSERT_NE(connected, std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("Password: ", at), std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, connected);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "\\conninfo\r");
  EXPECT_NE(WaitFor(session, "other: PostgreSQL", at), std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("Database: postgres", at), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("b3a"), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

// The server process of the named connection `name`, read through it; 0 when the query did not run.
int NamedBackendPid(Session& session, const std::string& name, StatementOutcome* outcome) {
  int pid = 0;
  *outcome = RunOnNamedConnection(session, name, [&] {
    SQLHSTMT lpStmt = FindNamedConnection(session, name)->lpStmt;
    SQLCHAR query[] = "select pg_backend_pid()";
    if (!SQL_SUCCEEDED(SQLExecDirect(lpStmt, query, SQL_NTS)) || !SQL_SUCCEEDED(SQLFetch(lpStmt)) ||
        !SQL_SUCCEEDED(SQLGetData(lpStmt, 1, SQL_C_SLONG, &pid, 0, nullptr))) {
      return StatementOutcome::Failed;
    }
    SQLFreeStmt(lpStmt, SQL_CLOSE);
    return StatementOutcome::Ok;
  });
  return pid;
}

TEST_F(PostgresTest, ALostNamedConnectionIsMadeAgainAtATerminalAndNeverInAScript) {
  std::string conn = PostgresConnStr(gServer);
  Session session;
  InitOutput(session.console.output);
  session.options.fBatch = true;
  ASSERT_EQ(ConnectCommand(session, "other " + conn), StatementOutcome::Ok);
  StatementOutcome outcome;
  int pid = NamedBackendPid(session, "other", &outcome);
  ASSERT_NE(pid, 0);
  // A script: the lost connection fails what found it and each later call, and is never made again.
  ASSERT_EQ(ExecSql(conn, {"select pg_terminate_backend(" + std::to_string(pid) + ")"}), "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(NamedBackendPid(session, "other", &outcome), 0);
  EXPECT_EQ(outcome, StatementOutcome::Failed);
  EXPECT_EQ(NamedBackendPid(session, "other", &outcome), 0);
  EXPECT_EQ(outcome, StatementOutcome::Failed);
  EXPECT_TRUE(FindNamedConnection(session, "other")->fLost);
  // A person at a terminal: the next call makes it again first and runs; a loss found is made good at once.
  session.options.fBatch = false;
  session.console.output.fStdinTerminal = true;
  pid = NamedBackendPid(session, "other", &outcome);
  EXPECT_EQ(outcome, StatementOutcome::Ok);
  ASSERT_EQ(ExecSql(conn, {"select pg_terminate_backend(" + std::to_string(pid) + ")"}), "");
  EXPECT_EQ(NamedBackendPid(session, "other", &outcome), 0);
  EXPECT_EQ(outcome, StatementOutcome::Failed);
  EXPECT_FALSE(FindNamedConnection(session, "other")->fLost);
  EXPECT_NE(NamedBackendPid(session, "other", &outcome), 0);
  std::string err = testing::internal::GetCapturedStderr();
  std::string reconnected = "The connection other was lost. Reconnecting\xe2\x80\xa6 done.\n";
  EXPECT_EQ(err, reconnected + reconnected);
  session.namedConnections.clear();
  CloseOutput();
}

TEST_F(PostgresTest, AfterConnectingASqliteSessionToPostgresStatementsSplitByPostgresRules) {
  TempDir dir;
  ConsoleOptions merged;
  merged.mergeStreams = true;
  ConsoleResult run = RunConsole({"-m", SqliteConnStr(dir.path + "/lite.db")},
                                 "\\c " + PostgresConnStr(gServer) + "\nselect $$a;b$$ as body;\n", merged);
  EXPECT_EQ(TableLines(run.out), (std::vector<std::vector<std::string>>{{"body"}, {"a;b"}})) << run.out;
}

TEST_F(PostgresTest, TypesMapIntoPostgresAsItsCatalogShowsThem) {
  TempDir dir;
  std::string source = SqliteConnStr(dir.path + "/source.db");
  ASSERT_EQ(ExecSql(source, {kSqliteMatrixTable}), "");
  std::string conn = PostgresConnStr(gServer);
  ASSERT_EQ(ExecSql(conn, {"drop table if exists \"Matrix_Copy\"", "drop table if exists pg_copy", "drop table if exists pg_source",
                           "create table pg_source(i int not null, n numeric(12,3), v varchar(40), c char(3), "
                           "t text, b boolean, ts timestamp, by bytea)"}),
            "");
  TypeMappingRun mapped = CreateFromSource(source, "select * from matrix", conn, "public.Matrix_Copy");
  ASSERT_EQ(mapped.error, "");
  EXPECT_FALSE(mapped.fExistedBefore);
  EXPECT_TRUE(mapped.fExistsAfter);
  std::string catalog = "select attname, format_type(atttypid, atttypmod), attnotnull from pg_attribute "
                        "where attrelid = '\"%s\"'::regclass and attnum > 0 order by attnum";
  auto columnsOf = [&](const std::string& table) {
    std::string query = catalog;
    query.replace(query.find("%s"), 2, table);
    return DriverText(conn, query);
  };
  EXPECT_EQ(columnsOf("Matrix_Copy"),
            "i,integer,0\nb,bigint,0\ns,smallint,0\nn,double precision,0\nd,double precision,0\nr,double precision,0\n"
            "c,character varying(5),0\nv,character varying(40),0\nt,text,0\ndt,date,0\ntm,time without time zone,0\n"
            "ts,timestamp without time zone,0\nbl,bytea,0\n");
  // psqlODBC describes a boolean as varchar(5) unless told not to.
  mapped = CreateFromSource(conn + ";BoolsAsChar=0", "select * from pg_source", conn, "pg_copy");
  ASSERT_EQ(mapped.error, "");
  EXPECT_EQ(columnsOf("pg_copy"), columnsOf("pg_source"));
}

// The lines of a dump that define a table's columns, blanks at their start removed.
std::string ColumnLines(const std::string& dump) {
  std::string lines;
  size_t start = dump.find("CREATE TABLE");
  if (start == std::string::npos) return dump;
  size_t end = dump.find(")", dump.find("\n)", start));
  std::istringstream body(dump.substr(start, end - start));
  std::string line;
  std::getline(body, line);
  while (std::getline(body, line)) {
    size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) lines += line.substr(first) + "\n";
  }
  return lines;
}

TEST_F(PostgresTest, TablesMadeAcrossServersShowThePeersDumpsTheTypesExpected) {
  ServerGuard maria{StartTestServer(MARIADB_SERVER_SCRIPT)};
  ASSERT_TRUE(maria.server.running);
  std::string pg = PostgresConnStr(gServer);
  std::string my = "Driver=MariaDB Unicode;Server=127.0.0.1;Port=" + std::to_string(maria.server.port) + ";Database=test;User=root";
  ASSERT_EQ(ExecSql(pg, {"drop table if exists trip_source", "drop table if exists trip_back",
                         "create table trip_source(id int not null, amount numeric(12,3), name varchar(40), code char(3), "
                         "note text, at timestamp, day date, flag boolean)",
                         "insert into trip_source values (1, 12.5, 'Ann''s', 'abc', 'a note', '2024-01-02 03:04:05', "
                         "'2024-01-02', true), (2, null, null, null, null, null, null, null)"}),
            "");
  // PostgreSQL into MariaDB, and back.
  TypeMappingRun there = CreateFromSource(pg + ";BoolsAsChar=0", "select * from trip_source", my, "trip");
  ASSERT_EQ(there.error, "");
  // The loop writes text literals, which a bit column does not take: the flag stays NULL.
  std::string columns = "id, amount, name, code, note, at, day";
  EXPECT_EQ(InsertLoop(pg, "select " + columns + " from trip_source", my, "trip (" + columns + ")"), 2);
  TypeMappingRun back = CreateFromSource(my, "select * from trip", pg, "trip_back");
  ASSERT_EQ(back.error, "");
  EXPECT_EQ(InsertLoop(my, "select " + columns + " from trip", pg, "trip_back (" + columns + ")"), 2);
  std::string mariaDump = ShellOutput("mariadb-dump --no-defaults -h 127.0.0.1 -P " + std::to_string(maria.server.port) +
                                      " -u root --no-data --skip-comments test trip 2>&1");
  EXPECT_EQ(ColumnLines(mariaDump),
            "`id` int(11) NOT NULL,\n`amount` decimal(12,3) DEFAULT NULL,\n`name` varchar(40) DEFAULT NULL,\n"
            "`code` char(3) DEFAULT NULL,\n`note` text DEFAULT NULL,\n`at` datetime DEFAULT NULL,\n"
            "`day` date DEFAULT NULL,\n`flag` bit(1) DEFAULT NULL\n")
      << mariaDump;
  std::string pgDump = ShellOutput("pg_dump -h 127.0.0.1 -p " + std::to_string(gServer.port) +
                                   " -U postgres -s -t trip_back postgres 2>&1");
  EXPECT_EQ(ColumnLines(pgDump),
            "id integer NOT NULL,\namount numeric(12,3),\nname character varying(40),\ncode character(3),\n"
            "note text,\nat timestamp without time zone,\nday date,\nflag boolean\n")
      << pgDump;
  // The data went there and back whole.
  std::string query = "select " + columns + " from ";
  EXPECT_EQ(DriverText(pg, query + "trip_back order by id"), DriverText(pg, query + "trip_source order by id"));
  EXPECT_EQ(DriverText(pg, query + "trip_back order by id"),
            "1,12.500,Ann's,abc,a note,2024-01-02 03:04:05,2024-01-02\n2,,,,,,\n");
}

}  // namespace

// Every command that talks to the data source shares one way of meeting a lost connection: at a terminal a
// catalog command, \conninfo and completion find it gone, connect again (or say they could not, and the
// session goes on), and after a reconnect completion reads the new connection's catalog.
TEST(PostgresServerRestart, CatalogCommandsAndCompletionReconnectAtATerminal) {
  ServerGuard guard{StartTestServer(PG_SERVER_SCRIPT)};
  TestServer& server = guard.server;
  ASSERT_TRUE(server.running);
  ASSERT_EQ(ExecSql(PostgresConnStr(server), {"create table customers(id int, full_name text)"}), "");
  auto control = [&](const char* action) {
    std::string command = server.script + " " + action + " " + server.dir + " >/dev/null 2>&1";
    return system(command.c_str());
  };
  TerminalSession session = StartOnTerminal(PostgresConnStr(server), 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  ASSERT_EQ(control("halt"), 0);
  // The server is down: the command fails, says why, and the session goes on.
  Type(session, "\\dt\r");
  at = WaitFor(session, "The connection was lost. Reconnecting\xe2\x80\xa6 failed.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  // While it cannot be made again, each command tries first and does not run.
  Type(session, "\\d customers\r");
  at = WaitFor(session, "Reconnecting\xe2\x80\xa6 failed.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_EQ(control("restart"), 0);
  ASSERT_TRUE(WaitForEditor(session));
  // Back up: the connection is made before the command, which then runs.
  Type(session, "\\d customers\r");
  at = WaitFor(session, "Reconnecting\xe2\x80\xa6 done.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, "full_name", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select full_\t");
  at = WaitFor(session, "name ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\x15");  // Ctrl-U: the line is cleared
  // A restart under a live session: the catalog command that finds it gone reconnects, and completion
  // reads the new connection's catalog.
  ASSERT_EQ(control("restart"), 0);
  ASSERT_EQ(ExecSql(PostgresConnStr(server), {"create table orders_since_restart(id int)"}), "");
  Type(session, "\\dt\r");
  at = WaitFor(session, "Reconnecting\xe2\x80\xa6 done.\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select * from orders_s\t");
  at = WaitFor(session, "ince_restart ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\x15\\conninfo\r");
  at = WaitFor(session, "PostgreSQL", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  EXPECT_EQ(session.screen.find("Error in SQLAllocHandle"), std::string::npos) << session.screen;
}

// A script never reconnects, and no command ends it that a statement would not end: after the server went
// away every later statement and command is tried, fails, and counts.
TEST(PostgresServerRestart, ScriptGoesOnPastCommandsOnALostConnection) {
  ServerGuard guard{StartTestServer(PG_SERVER_SCRIPT)};
  TestServer& server = guard.server;
  ASSERT_TRUE(server.running);
  ConsoleResult run = RunConsole({"-b", PostgresConnStr(server)},
                                 "select pg_terminate_backend(pg_backend_pid())\n\\dt\n\\d x\nselect 3\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.find("Reconnecting"), std::string::npos) << run.out;
  // Each of the three after the loss says the connection is gone: none was skipped, none ended the script.
  size_t gone = 0;
  for (size_t at = run.err.find("[08"); at != std::string::npos; at = run.err.find("[08", at + 1)) ++gone;
  EXPECT_GE(gone, 3u) << run.err;
  EXPECT_NE(run.err.rfind("SQLExecDirect unable due to the connection lost"), std::string::npos) << run.err;
}

// A server that accepts the connection and never answers cannot hold a reconnect for good: the login
// timeout ends it, and the session stays, disconnected, at its prompt.
TEST(PostgresServerRestart, ReconnectToAServerThatNeverAnswersEndsAtTheLoginTimeout) {
  ServerGuard guard{StartTestServer(PG_SERVER_SCRIPT)};
  TestServer& server = guard.server;
  ASSERT_TRUE(server.running);
  TerminalSession session = StartOnTerminal(PostgresConnStr(server), 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  ASSERT_EQ(system((server.script + " halt " + server.dir + " >/dev/null 2>&1").c_str()), 0);
  // In the server's place, a listener that takes connections and says nothing.
  std::string listener = "python3 -c 'import socket,time\ns=socket.socket()\ns.setsockopt(socket.SOL_SOCKET,"
                         "socket.SO_REUSEADDR,1)\ns.bind((\"127.0.0.1\"," + std::to_string(server.port) +
                         "))\ns.listen(5)\nc=[]\nwhile True: c.append(s.accept())' >/dev/null 2>&1 & echo $!";
  std::string pid = ShellOutput(listener);
  ShellOutput("bash -c 'for i in $(seq 100); do (echo >/dev/tcp/127.0.0.1/" + std::to_string(server.port) +
              ") 2>/dev/null && break; sleep 0.1; done'");
  Type(session, "select 1\r");
  at = WaitFor(session, "Reconnecting\xe2\x80\xa6 failed.\r\n", at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  size_t prompt = WaitFor(session, kPrompt, at);
  EXPECT_NE(prompt, std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("timeout expired", at), std::string::npos) << session.screen;
  system(("kill " + pid).c_str());
  EXPECT_EQ(Finish(session), 0);
}

namespace {

// Rows of table a that b lacks and of b that a lacks, compared as whole rows' text by the server, and a's count.
std::string PgDifference(const std::string& conn, const std::string& a, const std::string& b) {
  return DriverText(conn, "select (select count(*) from " + a + " x full join " + b + " y on x::text = y::text where x is null or y is null)"
                          " || '|' || (select count(*) from " + a + ")");
}

// Writes a CSV file of `rows` rows "N,nN" after a header, line `badLine` replaced by badText (and line
// `otherLine` by otherText).
void WriteCsvRows(const std::string& path, long rows, long badLine, const std::string& badText, long otherLine = 0,
                  const std::string& otherText = "") {
  std::ofstream file(path);
  file << "id,s\n";
  for (long line = 2; line <= rows + 1; ++line) {
    file << (line == badLine ? badText : line == otherLine ? otherText : std::to_string(line) + ",n" + std::to_string(line % 1000)) << "\n";
  }
}

}  // namespace

// Every type goes out with \copy and back into an equal table, CSV and TSV; a query's rows stream into a table;
// a value too long or a NULL the column refuses leaves the table as it was and names line, column and value.
TEST_F(PostgresTest, CopyRoundTripsEveryTypeAndBadInputLosesNothing) {
  std::string conn = PostgresConnStr(gServer);
  ASSERT_EQ(ExecSql(conn, {"create table cp_ty(id int primary key, b bigint, n numeric(38,10), f float8, r real, ts timestamp, "
                           "tz timestamptz, d date, tm time, bo boolean, u uuid, j json, ar int[], by bytea, t text, v varchar(80), "
                           "c char(3), iv interval)",
                           "insert into cp_ty values (1, -9223372036854775808, -12345678901234567890123456.0123456789, 1.5e300, 0.1, "
                           "'2024-12-08 10:11:12.123456', '2024-12-08 10:11:12.123456+00', '2024-02-29', '12:34:56.789', true, "
                           "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '{\"a\":1}', array[1,2,3], '\\x00ff10', "
                           "E'a,b\"c\\r\\nd\\te\\\\f \\u65e5\\u672c \\U0001F600', '', 'ab', '1 day 02:03:04')",
                           "insert into cp_ty(id, t, v) values (2, null, null), (3, '', 'x'), (4, repeat('y', 10000000), null)",
                           "insert into cp_ty(id, b, tz, by) select g, g, now(), '\\x00' from generate_series(5, 2004) g",
                           "create table cp_csv (like cp_ty)", "create table cp_query (like cp_ty)",
                           // Without the array column, a batch goes as one array a column.
                           "create view cp_plain as select id, b, n, f, r, ts, tz, d, tm, bo, u, j, by, t, v, c, iv from cp_ty",
                           "create table cp_tsv as select * from cp_plain where false",
                           "create table cp_short(id int primary key, s varchar(5) not null)", "insert into cp_short values (0, 'keep')"}),
            "");
  TempDir dir;
  std::string long70 = std::string(30, 'z') + "\xe6\x97\xa5" + std::string(39, 'w');
  // Five characters of eleven bytes fit the column: the row named is the one too long, after it in its batch.
  WriteCsvRows(dir.path + "/long.csv", 3000, 1500, "1500," + long70, 1200, "1200,\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e" "ab");
  WriteCsvRows(dir.path + "/null.csv", 3000, 2999, "2999,");
  ConsoleOptions options;
  options.locale = "C.UTF-8";
  ConsoleResult run = RunConsole({"-b", conn},
                                 "\\copy cp_ty to " + dir.path + "/ty.csv\n\\copy cp_csv from " + dir.path + "/ty.csv\n"
                                 "\\copy cp_plain to " + dir.path + "/ty.tsv tsv\n\\copy cp_tsv from " + dir.path + "/ty.tsv tsv\n"
                                 "\\copy (select * from cp_ty) to :cp_query\n"
                                 "\\copy cp_short from " + dir.path + "/long.csv\n\\copy cp_short from " + dir.path + "/null.csv\n",
                                 options);
  EXPECT_EQ(run.out, "2004 rows copied\n2004 rows copied\n2004 rows copied\n2004 rows copied\n2004 rows copied\n");
  EXPECT_NE(run.err.find("value too long for type character varying(5)"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\\copy: " + dir.path + "/long.csv:1500, column s, value '" + std::string(30, 'z') + "\xe6\x97\xa5" +
                         std::string(29, 'w') + "...': the target refused the row\nNothing was loaded.\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\\copy: " + dir.path + "/null.csv:2999, column s: NULL where the column takes none: the target refused the row\n"
                         "Nothing was loaded.\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(PgDifference(conn, "cp_ty", "cp_csv"), "0|2004\n");
  EXPECT_EQ(PgDifference(conn, "cp_plain", "cp_tsv"), "0|2004\n");
  EXPECT_EQ(PgDifference(conn, "cp_ty", "cp_query"), "0|2004\n");
  EXPECT_EQ(DriverText(conn, "select * from cp_short"), "0,keep\n");
  // A load never ends a transaction the user began: it is refused, and the user's rollback still holds.
  std::ofstream(dir.path + "/ok.csv") << "id,s\n8,new\n";
  run = RunConsole({"-b", conn}, "begin\ninsert into cp_short values (7, 'txn')\n\\copy cp_short from " + dir.path + "/ok.csv\nrollback\n",
                   options);
  EXPECT_NE(run.err.find("\\copy cannot load inside a transaction begun with BEGIN"), std::string::npos) << run.err;
  EXPECT_EQ(DriverText(conn, "select * from cp_short"), "0,keep\n");
  ExecSql(conn, {"drop view cp_plain", "drop table cp_ty, cp_csv, cp_tsv, cp_query, cp_short"});
}

// A plain dump (COPY format) of 65,000 rows with a function and a trigger restores through -f as psql restores
// it; typed, a COPY through the client's streams never reaches the driver, which would hang on it.
TEST_F(PostgresTest, CopyFormatDumpRestoresAsPsqlRestoresIt) {
  std::string server = "Driver=PostgreSQL ANSI;Server=127.0.0.1;Port=" + std::to_string(gServer.port) + ";UID=postgres;Database=";
  ASSERT_EQ(ExecSql(server + "postgres", {"create database cp_src", "create database cp_dst", "create database cp_psql"}), "");
  ASSERT_EQ(ExecSql(server + "cp_src",
                    {"create table item(id int primary key, name text, note text, created timestamptz default now())",
                     "create table audit(item int, what text)",
                     "create function audit_item() returns trigger language plpgsql as $$ begin insert into audit values (new.id, "
                     "'added; ' || new.name); return new; end $$",
                     "create trigger item_audit after insert on item for each row execute function audit_item()",
                     "insert into item select g, 'name ' || g, case when g % 3 = 0 then null when g % 3 = 1 then "
                     "E'tab\\there\\\\back\\nnl\\\\N' else '' end from generate_series(1, 65000) g"}),
            "");
  TempDir dir;
  std::string dumpFile = dir.path + "/dump.sql";
  int status = -1;
  ShellOutput("pg_dump -h 127.0.0.1 -p " + std::to_string(gServer.port) + " -U postgres cp_src > " + dumpFile, &status);
  ASSERT_EQ(status, 0);
  ConsoleResult run = RunConsole({"-f", dumpFile, server + "cp_dst"}, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("65000 rows copied\n"), std::string::npos) << run.out;
  ShellOutput("psql -X -q -h 127.0.0.1 -p " + std::to_string(gServer.port) + " -U postgres -d cp_psql -f " + dumpFile + " >/dev/null 2>&1");
  std::string restored = PgDumpOf("cp_dst");
  EXPECT_NE(restored.find("item_audit"), std::string::npos);
  EXPECT_EQ(restored, PgDumpOf("cp_psql"));
  ConsoleOptions options;
  options.timeoutSeconds = 20;
  run = RunConsole({"-b", server + "cp_dst"}, "copy item to stdout\nselect count(*) from item\n", options);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("65000"), std::string::npos) << run.out;
  ExecSql(server + "postgres", {"drop database cp_src", "drop database cp_dst", "drop database cp_psql"});
}

// The server stopped in the middle of a load: the load fails and says so, and the table is as it was.
TEST(PostgresServerStop, ServerStoppedDuringALoadLeavesTheTableAsItWas) {
  ServerGuard guard{StartTestServer(PG_SERVER_SCRIPT)};
  TestServer& server = guard.server;
  ASSERT_TRUE(server.running);
  std::string conn = PostgresConnStr(server);
  ASSERT_EQ(ExecSql(conn, {"create table loaded(id int, s text)", "insert into loaded values (0, 'before')"}), "");
  TempDir dir;
  std::string fifo = dir.path + "/rows.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    int fd = open(fifo.c_str(), O_WRONLY);
    auto rows = [fd](int from, int to) {
      std::string text = from == 1 ? "id,s\n" : "";
      for (int i = from; i <= to; ++i) text += std::to_string(i) + ",row\n";
      ssize_t written = write(fd, text.data(), text.size());
      (void)written;
    };
    rows(1, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    system((server.script + " halt " + server.dir + " >/dev/null 2>&1").c_str());
    rows(5001, 10000);
    close(fd);
  });
  ConsoleResult run = RunConsole({"-b", conn}, "\\copy loaded from " + fifo + "\n");
  writer.join();
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Nothing was loaded.\n"), std::string::npos) << run.err;
  ASSERT_EQ(system((server.script + " restart " + server.dir + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(DriverText(conn, "select * from loaded"), "0,before\n");
}

// Rows stream from each of SQLite, PostgreSQL and MariaDB into a table the copy creates on each other one,
// with the types the peers' dump tools show and equal data, blobs byte for byte.
TEST(PostgresServerStop, CopiesBetweenEveryPairOfSourcesCreateTheirTables) {
  const TestServer& pg = gServer;
  ASSERT_TRUE(pg.running);
  ServerGuard mariadb{StartTestServer(MARIADB_SERVER_SCRIPT)};
  ASSERT_TRUE(mariadb.server.running);
  TempDir dir;
  std::string lite = SqliteConnStr(dir.path + "/lite.db");
  std::string pgConn = PostgresConnStr(pg);
  std::string myConn = "Driver=MariaDB Unicode;Server=127.0.0.1;Port=" + std::to_string(mariadb.server.port) + ";Database=test;User=root";
  ASSERT_EQ(ExecSql(lite, {"create table src(id integer, name varchar(40), d date, note text, data blob)",
                           "insert into src values (1, 'a,b \"q\"', '2024-02-29', 'line' || char(10) || 'two', x'00ff0a2758'), "
                           "(2, '\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80', null, '', x''), (3, null, '1999-12-31', null, null)"}),
            "");
  ConsoleOptions options;
  options.locale = "C.UTF-8";
  std::string connects = "\\connect pg " + pgConn + "\n\\connect my " + myConn + "\n\\connect lite " + lite + "\n";
  ConsoleResult run = RunConsole({"-b", lite}, connects + "\\copy src to pg:from_lite create\n\\copy src to my:from_lite create\n", options);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "3 rows copied\n3 rows copied\n");
  run = RunConsole({"-b", pgConn}, connects + "\\copy from_lite to my:from_pg create\n\\copy (select * from from_lite) to lite:from_pg create\n", options);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "3 rows copied\n3 rows copied\n");
  run = RunConsole({"-b", myConn}, connects + "\\copy from_lite to pg:from_my create\n\\copy from_lite to lite:from_my create\n", options);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "3 rows copied\n3 rows copied\n");
  const std::string expected = "1,a,b \"q\",2024-02-29,line\ntwo\n2,\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80,,\n3,,1999-12-31,\n";
  for (std::string table : {"from_lite", "from_my"}) {
    EXPECT_EQ(DriverText(pgConn, "select id, name, d, note from " + table + " order by id"), expected) << table;
  }
  for (std::string table : {"from_lite", "from_pg"}) {
    EXPECT_EQ(DriverText(myConn, "select id, name, d, note from " + table + " order by id"), expected) << table;
  }
  for (std::string table : {"from_pg", "from_my"}) {
    EXPECT_EQ(DriverText(lite, "select id, name, d, note from " + table + " order by id"), expected) << table;
  }
  const std::string bytes = "1,00ff0a2758\n2,\n3,null\n";
  for (std::string table : {"from_lite", "from_my"}) {
    EXPECT_EQ(DriverText(pgConn, "select id, coalesce(encode(data, 'hex'), 'null') from " + table + " order by id"), bytes) << table;
  }
  for (std::string table : {"from_lite", "from_pg"}) {
    EXPECT_EQ(DriverText(myConn, "select id, coalesce(lower(hex(data)), 'null') from " + table + " order by id"), bytes) << table;
  }
  for (std::string table : {"from_pg", "from_my"}) {
    EXPECT_EQ(DriverText(lite, "select id, iif(data is null, 'null', lower(hex(data))) from " + table + " order by id"), bytes) << table;
  }
  // NULL stays apart from the empty string everywhere.
  EXPECT_EQ(DriverText(myConn, "select count(*) from from_pg where note = ''"), "1\n");
  std::string pgDump = ShellOutput("pg_dump -s -h 127.0.0.1 -p " + std::to_string(pg.port) + " -U postgres -t from_lite -t from_my postgres");
  EXPECT_NE(pgDump.find("CREATE TABLE public.from_lite (\n    id integer,\n    name character varying(40),\n    d date,\n    note text,\n    data bytea\n);"),
            std::string::npos) << pgDump;
  std::string myDump = ShellOutput("mariadb-dump --no-defaults -d -h 127.0.0.1 -P " + std::to_string(mariadb.server.port) + " -uroot test from_lite");
  EXPECT_NE(myDump.find("`name` varchar(40)"), std::string::npos) << myDump;
  EXPECT_NE(myDump.find("`d` date"), std::string::npos) << myDump;
  EXPECT_NE(myDump.find("`data` longblob"), std::string::npos) << myDump;
  EXPECT_NE(DriverText(lite, "select sql from sqlite_master where name = 'from_pg'").find("varchar(40)"), std::string::npos);
  ExecSql(pgConn, {"drop table from_lite, from_my"});
}
