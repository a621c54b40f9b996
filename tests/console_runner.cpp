// Test helpers: run the built console on given input, and set up SQLite databases through ODBC.
#include "console_runner.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sql.h>
#include <sqlext.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> ChildEnvironment(const ConsoleOptions& options) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (strncmp(*entry, "LANG=", 5) == 0 || strncmp(*entry, "LC_", 3) == 0) continue;
    env.emplace_back(*entry);
  }
  env.push_back("LC_ALL=" + options.locale);
  for (const std::string& extra : options.extraEnv) env.push_back(extra);
  return env;
}

// Sanitizer reports of the processes a test starts go to files of their own, one a process, never into the
// output the test compares: report.PID in a directory of this test process.
std::string SanitizerLogDir() { return "/tmp/odbc-console-sanitizer-" + std::to_string(getpid()); }

// Appends `setting` to the sanitizer options in the environment variable `name`.
void AddSanitizerOption(const char* name, const std::string& setting) {
  const char* options = getenv(name);
  std::string value = options != nullptr && *options != '\0' ? std::string(options) + ":" + setting : setting;
  setenv(name, value.c_str(), 1);
}

// Fails the test with the sanitizer report in `path`, if there is one, and removes it: whatever a sanitizer
// writes, a warning included, means a fault or a setup that hides one (a missing symbolizer turns off the
// suppressions).
void ReportSanitizerLog(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return;
  std::string report((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  unlink(path.c_str());
  if (!report.empty()) ADD_FAILURE() << "sanitizer report (" << path << "):\n" << report;
}

void ReportSanitizerLogOf(pid_t pid) { ReportSanitizerLog(SanitizerLogDir() + "/report." + std::to_string(pid)); }

// Sends the sanitizer reports of every process the tests start to SanitizerLogDir(), and at the end fails
// the run with any report no test collected (of a console a shell started, or one a test left running).
struct SanitizerLogEnvironment : ::testing::Environment {
  void SetUp() override {
    mkdir(SanitizerLogDir().c_str(), 0700);
    std::string logPath = "log_path=" + SanitizerLogDir() + "/report";
    AddSanitizerOption("ASAN_OPTIONS", logPath);
    AddSanitizerOption("UBSAN_OPTIONS", logPath);
#ifdef LSAN_SUPPRESSIONS
    AddSanitizerOption("LSAN_OPTIONS", "suppressions=" LSAN_SUPPRESSIONS ":print_suppressions=0");
#endif
#ifdef LLVM_SYMBOLIZER_PATH
    // Symbol names in the reports, and for the suppressions of drivers' own leaks.
    setenv("ASAN_SYMBOLIZER_PATH", LLVM_SYMBOLIZER_PATH, 0);
    setenv("UBSAN_SYMBOLIZER_PATH", LLVM_SYMBOLIZER_PATH, 0);
#endif
  }
  void TearDown() override {
    std::string dir = SanitizerLogDir();
    if (DIR* logs = opendir(dir.c_str())) {
      while (dirent* entry = readdir(logs)) {
        if (entry->d_name[0] != '.') ReportSanitizerLog(dir + "/" + entry->d_name);
      }
      closedir(logs);
    }
    rmdir(dir.c_str());
  }
};
const auto* const kSanitizerLogEnvironment = ::testing::AddGlobalTestEnvironment(new SanitizerLogEnvironment);

}  // namespace

ConsoleResult RunConsole(const std::vector<std::string>& args, const std::string& input, const ConsoleOptions& options) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) abort();
  std::vector<std::string> env = ChildEnvironment(options);
  std::vector<char*> argv{const_cast<char*>(ODBC_CONSOLE_PATH)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(&entry[0]);
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(options.mergeStreams ? outPipe[1] : errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    if (options.noTerminal) setsid();
    if (options.stdoutReaderGone) {
      int gone[2];
      if (pipe(gone) != 0) _exit(127);
      close(gone[0]);
      dup2(gone[1], 1);
      close(gone[1]);
    }
    if (options.addressSpaceLimit > 0) {
      rlimit limit = {options.addressSpaceLimit, options.addressSpaceLimit};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.stdoutFile == "-") {
      close(1);
    } else if (!options.stdoutFile.empty()) {
      int file = open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(file, 1);
      close(file);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  signal(SIGPIPE, SIG_IGN);
  fcntl(inPipe[1], F_SETFL, O_NONBLOCK);

  ConsoleResult result{"", "", -1};
  size_t written = 0;
  int inFd = inPipe[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  int outFd = outPipe[0], errFd = errPipe[0];
  time_t deadline = time(nullptr) + options.timeoutSeconds;
  timespec started;
  clock_gettime(CLOCK_MONOTONIC, &started);
  bool interruptSent = options.interruptAfterMs == 0;
  char chunk[65536];
  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[3];
    int count = 0;
    if (inFd >= 0) fds[count++] = {inFd, POLLOUT, 0};
    if (outFd >= 0) fds[count++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[count++] = {errFd, POLLIN, 0};
    if (time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    if (!interruptSent) {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      if ((now.tv_sec - started.tv_sec) * 1000 + (now.tv_nsec - started.tv_nsec) / 1000000 >= options.interruptAfterMs) {
        kill(pid, SIGINT);
        interruptSent = true;
      }
    }
    if (poll(fds, count, interruptSent ? 1000 : 20) <= 0) continue;
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        ssize_t n = write(inFd, input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        if ((n < 0 && errno != EAGAIN) || written == input.size()) {
          close(inFd);
          inFd = -1;
        }
        continue;
      }
      ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        (fds[i].fd == outFd ? result.out : result.err).append(chunk, static_cast<size_t>(n));
      }
      bool readerGone = fds[i].fd == outFd && options.stdoutLimit > 0 && result.out.size() >= options.stdoutLimit;
      if (readerGone || n == 0 || (n < 0 && errno != EINTR)) {
        close(fds[i].fd);
        (fds[i].fd == outFd ? outFd : errFd) = -1;
      }
    }
  }
  for (int fd : {inFd, outFd, errFd}) {
    if (fd >= 0) close(fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  // In a sanitizer build a report means a fault, whatever the test itself checks.
  ReportSanitizerLogOf(pid);
  for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
    if (result.out.find(report) != std::string::npos || result.err.find(report) != std::string::npos) {
      ADD_FAILURE() << "sanitizer report:\n" << result.err << result.out;
    }
  }
  return result;
}

std::vector<std::vector<std::string>> TableLines(const std::string& out, const std::string& bar) {
  std::vector<std::vector<std::string>> lines;
  for (size_t start = 0; start < out.size();) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    start = end + 1;
    // The first line of a listing follows the prompt.
    while (line.compare(0, 12, "SQL COMMAND>") == 0) line.erase(0, 12);
    if (line.compare(0, bar.size(), bar) != 0) continue;
    std::vector<std::string> cells;
    for (size_t at = bar.size(); at < line.size();) {
      size_t next = line.find(bar, at);
      if (next == std::string::npos) break;
      std::string cell = line.substr(at, next - at);
      size_t first = cell.find_first_not_of(' ');
      cells.push_back(first == std::string::npos ? "" : cell.substr(first, cell.find_last_not_of(' ') - first + 1));
      at = next + bar.size();
    }
    lines.push_back(cells);
  }
  return lines;
}

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

TestServer StartTestServer(const std::string& script) {
  char pattern[] = "/tmp/odbc-console-server-XXXXXX";
  TestServer server{script, mkdtemp(pattern), FreePort(), false, false};
  std::string command = script + " start " + server.dir + " " + std::to_string(server.port);
  server.running = system(command.c_str()) == 0;
  return server;
}

void StopTestServer(TestServer& server) {
  if (server.dir.empty() || server.shared) return;
  std::string command = server.script + " stop " + server.dir;
  if (system(command.c_str()) != 0) ADD_FAILURE() << "could not stop the server in " << server.dir;
  server.running = false;
  server.dir.clear();
}

TestServer SuiteServer(const std::string& script) {
  const char* stateFile = getenv("ODBC_CONSOLE_TEST_SERVER");
  if (stateFile == nullptr || *stateFile == '\0') return StartTestServer(script);
  // The state file holds the server's directory and its port, a line each.
  TestServer server{script, "", 0, false, true};
  std::ifstream state(stateFile);
  std::string port;
  if (std::getline(state, server.dir) && std::getline(state, port) && !server.dir.empty()) {
    server.port = atoi(port.c_str());
    server.running = server.port > 0;
  }
  return server;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/odbc-console-test-XXXXXX";
  path = mkdtemp(pattern);
}

TempDir::~TempDir() {
  std::string command = "rm -rf '" + path + "'";
  if (system(command.c_str()) != 0) {
    // Nothing more to do: a leftover directory in /tmp does no harm.
  }
}

std::string SqliteConnStr(const std::string& databasePath) { return "Driver=SQLite3;Database=" + databasePath; }

HeldSession::HeldSession(const std::string& connStr, const std::vector<std::string>& statements) {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connStr.c_str())),
                                      SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    failure = "connect failed: " + connStr;
    return;
  }
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  for (const std::string& statement : statements) {
    SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.c_str())), SQL_NTS);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      SQLCHAR message[1024] = "";
      SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, nullptr, nullptr, message, sizeof message, nullptr);
      failure = statement + ": " + reinterpret_cast<char*>(message);
      break;
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

HeldSession::~HeldSession() {
  // Some drivers refuse to disconnect inside a transaction.
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("rollback")), SQL_NTS);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

std::string ExecSql(const std::string& connStr, const std::vector<std::string>& statements) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  std::string failure;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connStr.c_str())), SQL_NTS,
                                  nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    failure = "connect failed: " + connStr;
  } else {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    for (const std::string& statement : statements) {
      rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.c_str())),
                         static_cast<SQLINTEGER>(statement.size()));
      if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
        SQLCHAR state[6] = "", message[1024] = "";
        SQLINTEGER native = 0;
        SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, sizeof message, nullptr);
        failure = statement + ": " + reinterpret_cast<char*>(message);
        break;
      }
      SQLFreeStmt(stmt, SQL_CLOSE);
    }
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return failure;
}

std::string DriverText(const std::string& connStr, const std::string& query) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  std::string text;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connStr.c_str())), SQL_NTS,
                                     nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    SQLSMALLINT cols = 0;
    if (SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(query.c_str())), SQL_NTS)) &&
        SQL_SUCCEEDED(SQLNumResultCols(stmt, &cols))) {
      while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        for (SQLUSMALLINT col = 1; col <= cols; ++col) {
          char value[256] = "";
          SQLLEN ind = 0;
          SQLGetData(stmt, col, SQL_C_CHAR, value, sizeof value, &ind);
          if (col > 1) text += ',';
          if (ind != SQL_NULL_DATA) text += value;
        }
        text += '\n';
      }
    }
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return text;
}

TerminalSession StartOnTerminal(const std::vector<std::string>& args, unsigned short rows, unsigned short columns,
                                const std::string& locale, const std::vector<std::string>& env) {
  TerminalSession session;
  winsize size = {rows, columns, 0, 0};
  std::vector<char*> argv{const_cast<char*>(ODBC_CONSOLE_PATH)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  session.pid = forkpty(&session.master, nullptr, nullptr, &size);
  if (session.pid == 0) {
    unsetenv("LANG");
    setenv("LC_ALL", locale.c_str(), 1);
    setenv("ODBC_CONSOLE_HISTFILE", "", 1);  // a test never writes the user's own history
    for (const std::string& setting : env) putenv(const_cast<char*>(setting.c_str()));
    execv(argv[0], argv.data());
    _exit(127);
  }
  return session;
}

TerminalSession StartOnTerminal(const std::string& conn, unsigned short rows, unsigned short columns) {
  return StartOnTerminal(std::vector<std::string>{conn}, rows, columns);
}

// Appends what the terminal was sent. The switches of bracketed paste show nothing: they are kept apart in
// session.pasteModes, so that tests compare what is shown.
static void AppendShown(TerminalSession& session, const char* chunk, size_t size) {
  static const std::string kSwitch = "\x1b[?2004";
  size_t from = session.screen.size() >= kSwitch.size() ? session.screen.size() - kSwitch.size() : 0;
  session.screen.append(chunk, size);
  for (size_t at = session.screen.find(kSwitch, from); at != std::string::npos && at + kSwitch.size() < session.screen.size();
       at = session.screen.find(kSwitch, at)) {
    session.pasteModes += session.screen[at + kSwitch.size()];
    session.screen.erase(at, kSwitch.size() + 1);
  }
}

size_t WaitFor(TerminalSession& session, const std::string& text, size_t from, int seconds) {
  time_t deadline = time(nullptr) + seconds;
  for (;;) {
    size_t found = session.screen.find(text, from);
    if (found != std::string::npos) return found + text.size();
    if (time(nullptr) > deadline) return std::string::npos;
    pollfd fd = {session.master, POLLIN, 0};
    if (poll(&fd, 1, 200) <= 0) continue;
    char chunk[4096];
    ssize_t n = read(session.master, chunk, sizeof chunk);
    if (n <= 0) return std::string::npos;
    AppendShown(session, chunk, static_cast<size_t>(n));
  }
}

// Reads what the terminal shows within `milliseconds`, if anything.
static void ReadShown(TerminalSession& session, int milliseconds) {
  pollfd fd = {session.master, POLLIN, 0};
  if (poll(&fd, 1, milliseconds) <= 0) return;
  char chunk[4096];
  ssize_t n = read(session.master, chunk, sizeof chunk);
  if (n > 0) AppendShown(session, chunk, static_cast<size_t>(n));
}

bool WaitForEditor(TerminalSession& session) {
  for (int tries = 0; tries < 2000; ++tries) {
    termios mode;
    // The master side reports the terminal's mode, which the console sets on its side.
    if (tcgetattr(session.master, &mode) == 0 && (mode.c_lflag & ICANON) == 0) return true;
    ReadShown(session, 10);
  }
  return false;
}

bool WaitForEditorToLetGo(TerminalSession& session) {
  for (int tries = 0; tries < 2000; ++tries) {
    termios mode;
    if (tcgetattr(session.master, &mode) == 0 && (mode.c_lflag & ICANON) != 0) return true;
    ReadShown(session, 10);
  }
  return false;
}

void Type(TerminalSession& session, const std::string& text) {
  if (write(session.master, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ADD_FAILURE() << "could not type at the terminal";
  }
}

int Finish(TerminalSession& session) {
  WaitForEditor(session);  // Ctrl-D typed before the editor has the terminal could be lost
  Type(session, "\x04");
  // Read the closing word before reaping: what the console wrote last is still in the terminal.
  WaitFor(session, "Disconnected.", 0);
  int status = 0;
  time_t deadline = time(nullptr) + 20;
  while (waitpid(session.pid, &status, WNOHANG) == 0) {
    if (time(nullptr) > deadline) kill(session.pid, SIGKILL);
    WaitFor(session, "\x01never", session.screen.size());
  }
  close(session.master);
  ReportSanitizerLogOf(session.pid);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellOutput(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = -1;
    return out;
  }
  char chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  int result = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return out;
}
