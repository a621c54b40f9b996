// Test helpers: run the built console on given input, and set up SQLite databases through ODBC.
#pragma once

#include <string>
#include <vector>

// What one run of the console left behind.
struct ConsoleResult {
  std::string out;     // standard output (both streams, in order, when merged)
  std::string err;     // standard error; empty when merged
  int status;          // exit status, or 1000 + signal number when killed
};

// How to run the console.
struct ConsoleOptions {
  bool mergeStreams = false;          // standard error into the same pipe as standard output
  std::string locale = "C";           // LC_ALL for the run
  std::vector<std::string> extraEnv;  // more NAME=value settings
  int timeoutSeconds = 60;            // the run is killed after this long
  std::string stdoutFile;             // a file for standard output instead of the pipe; "-" closes it
  size_t stdoutLimit = 0;             // when not 0, the pipe is closed once this many bytes were read
  int interruptAfterMs = 0;           // when not 0, SIGINT is sent this long after the start
  bool stdoutReaderGone = false;      // standard output is a pipe whose reader has gone before the start
  bool noTerminal = false;            // the console runs in a session of its own, without a controlling terminal
  size_t addressSpaceLimit = 0;       // when not 0, the console's address space is limited to this many bytes
};

// Runs the console with `args` (the program name excluded), feeding `input` on standard input.
ConsoleResult RunConsole(const std::vector<std::string>& args, const std::string& input, const ConsoleOptions& options = {});

// The lines of the table listings in out (lines that begin with `bar`, after any prompts), each as its cells with the padding
// blanks removed: header lines and rows alike, in order.
std::vector<std::vector<std::string>> TableLines(const std::string& out, const std::string& bar = "|");

// A free TCP port on the loopback address.
int FreePort();

// A throwaway database server started by one of the tests' scripts (pg_server.sh, mariadb_server.sh).
struct TestServer {
  std::string script;   // the script that starts and stops it
  std::string dir;      // where its data, socket and log live
  int port = 0;         // its TCP port on 127.0.0.1
  bool running = false; // it started
  bool shared = false;  // ctest's fixture started it and stops it; StopTestServer leaves it alone
};

// Starts a server with `script` in a new directory on a free port; running is false when it failed.
TestServer StartTestServer(const std::string& script);

// Stops the server and removes its directory, unless it is shared.
void StopTestServer(TestServer& server);

// The server a suite's tests share: the one ctest's fixture entry started (server_fixture.sh, its state file
// named by ODBC_CONSOLE_TEST_SERVER), or, when the suite runs by itself, one started with `script` here.
TestServer SuiteServer(const std::string& script);

// A fresh directory for one test, removed with its contents at destruction.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
};

// The connection string of a SQLite database file.
std::string SqliteConnStr(const std::string& databasePath);

// Runs each statement through ODBC on connStr; returns the first failure's message, or "" when all succeed.
std::string ExecSql(const std::string& connStr, const std::vector<std::string>& statements);

// A second session that runs statements on connStr and holds what they took (a transaction begun and its
// locks) until it is destroyed, which rolls back and disconnects.
struct HeldSession {
  void* env = nullptr;     // the ODBC environment handle
  void* dbc = nullptr;     // the connection handle
  std::string failure;     // the first failure's message, or "" when every statement succeeded
  HeldSession(const std::string& connStr, const std::vector<std::string>& statements);
  ~HeldSession();
};

// Runs a query through ODBC on connStr and returns the driver's own text of every value (SQLGetData as
// SQL_C_CHAR), a line a row, values joined by commas, NULL as nothing; "" on a failure.
std::string DriverText(const std::string& connStr, const std::string& query);

// The console running on the slave side of a pseudo-terminal, for tests that type as a person would.
struct TerminalSession {
  int pid = -1;        // the console's process
  int master = -1;     // the terminal's master side: what is typed, what is shown
  std::string screen;  // everything shown so far, the switches of bracketed paste left out
  std::string pasteModes;  // those switches in order: 'h' bracketed paste on, 'l' off
};

// Starts the console with `args` on a new pseudo-terminal of the given size, in the given locale, with more
// NAME=value settings in `env` (a NAME alone removes it). No history file is kept unless `env` says where.
TerminalSession StartOnTerminal(const std::vector<std::string>& args, unsigned short rows, unsigned short columns,
                                const std::string& locale = "C", const std::vector<std::string>& env = {});

// Starts the console on conn on a new pseudo-terminal of the given size, in the C locale.
TerminalSession StartOnTerminal(const std::string& conn, unsigned short rows, unsigned short columns);

// Reads what the terminal shows until `text` appears at or after `from`, or `seconds` pass. Returns the
// position just past it, or std::string::npos.
size_t WaitFor(TerminalSession& session, const std::string& text, size_t from = 0, int seconds = 20);

// Waits until the line editor has the terminal (canonical mode off): the editor shows its prompt a moment
// before, and keys typed in between would be taken by the terminal's own line editing. Returns false after
// 20 seconds.
bool WaitForEditor(TerminalSession& session);

// Waits until the line editor has given the terminal back (canonical mode on), as it does before the line it
// read runs: a Ctrl-C typed before then is a key the editor reads, not an interrupt. Returns false after
// 20 seconds.
bool WaitForEditorToLetGo(TerminalSession& session);

// Types text at the terminal.
void Type(TerminalSession& session, const std::string& text);

// Ends input with Ctrl-D and waits for the console to exit; returns its exit status (-1 when killed).
int Finish(TerminalSession& session);

// Runs a shell command; returns its standard output, and its exit status in *status when given.
std::string ShellOutput(const std::string& command, int* status = nullptr);
