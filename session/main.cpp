// The program's entry: connect, run the prompt loop, report each statement's outcome, shut down.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "display/cell_text.h"
#include "display/output.h"
#include "odbc/driver_quirks.h"
#include "odbc/odbc_api.h"
#include "session/commands.h"
#include "session/completion.h"
#include "session/input.h"
#include "session/interrupt.h"
#include "session/line_editor.h"
#include "session/options.h"
#include "session/password.h"
#include "session/session.h"
#include "session/statement.h"
#include "session/statement_input.h"

namespace {

// The parent window for a connection prompt. A terminal has no desktop window, so the driver manager gets
// the null window and completes the connection from the string alone.
SQLHWND GetDesktopWindow() { return nullptr; }

// Writes the prompt, unless the session runs a script in batch mode or the line editor shows it.
void WritePrompt(const Session& session) {
  if (!session.options.fBatch && !session.fEditor) OutText(PROMPT);
}

// Reads the next statement line, through the line editor at a terminal.
InputResult ReadStatementLine(const Session& session, std::string& szCommand) {
  return session.fEditor ? EditLine(PROMPT, szCommand) : ReadInputLine(szCommand);
}

}  // namespace

bool GoOnAfterInterrupt(Session& session) {
  if (!StdinIsTerminal()) {
    session.fInterrupted = true;
    return false;
  }
  ClearInterrupt();
  return true;
}

namespace {

// Connects lpDbc with the session's connection string; the connection prompt is never shown again.
SQLRETURN ConnectDataSource(Session& session) {
  // Without a connection string the driver manager is given none at all, as the command line gave none.
  std::string& szConnStr = session.options.szConnStr;
  return SQLDriverConnect(session.lpDbc, GetDesktopWindow(),
                          szConnStr.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(&szConnStr[0]), SQL_NTS, nullptr, 0,
                          nullptr, SQL_DRIVER_COMPLETE);
}

// After a statement failed because the connection is gone: at a terminal, connects again with the same
// string, so that the person at it can go on. A script never reconnects: a new connection would run its
// later statements outside the transaction it assumed. The failed statement is not run again.
void ReconnectAfterLoss(Session& session) {
  if (session.options.fBatch || !StdinIsTerminal()) return;
  ErrText("The connection was lost. Reconnecting\xe2\x80\xa6 ");
  SQLDisconnect(session.lpDbc);
  session.lpStmt = SQL_NULL_HSTMT;  // released by the disconnect; the next statement allocates one
  SQLRETURN RetCode = ConnectDataSource(session);
  session.fConnectionLost = !SQL_SUCCEEDED(RetCode);
  if (SQL_SUCCEEDED(RetCode)) {
    ErrText("done.\n");
    if (RetCode == SQL_SUCCESS_WITH_INFO) ReportDiagnostics(session.lpDbc, SQL_HANDLE_DBC, RetCode);
    return;
  }
  ErrText("failed.\n");
  ReportDiagnostics(session.lpDbc, SQL_HANDLE_DBC, RetCode);
}

}  // namespace

// Runs one statement and notes how it went in the session. Returns false when a call the session cannot
// go on without failed and the session must shut down.
bool ExecuteStatement(Session& session, std::string& szCommand) {
  // A connection that could not be made again is tried once more before each statement, which runs
  // only on a connection.
  if (session.fConnectionLost) {
    ReconnectAfterLoss(session);
    if (session.fConnectionLost) {
      session.fStatementFailed = true;
      return true;
    }
  }
  auto start = session.fTiming ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
  StatementOutcome outcome = RunStatement(session.lpDbc, session.lpStmt, szCommand, session.listing, session.rules);
  // A statement that changed the schema makes completion, which serves the editor, read the names again.
  if (session.fEditor) NoteStatementForCompletion(szCommand);
  if (session.fTiming && outcome != StatementOutcome::Fatal) WriteElapsedTime(session, start);
  switch (outcome) {
    case StatementOutcome::Ok:
    case StatementOutcome::Cancelled:
      return true;
    case StatementOutcome::Failed:
      session.fStatementFailed = true;
      return true;
    case StatementOutcome::Lost:
      session.fStatementFailed = true;
      ReconnectAfterLoss(session);
      return true;
    case StatementOutcome::Fatal:
      break;
  }
  return false;
}

namespace {

// Reads and executes statement lines until end of input, a failed checked call, a failed statement with
// --stop-on-error, or a reader of standard output that has gone.
void RunPromptLoop(Session& session) {
  std::string szCommand;
  for (;;) {
    InputResult read = ReadStatementLine(session, szCommand);
    // The flush before the read finds a reader that has gone: nothing more may run for it.
    if (StdoutState() == OutputState::PipeBroken) return;
    if (read == InputResult::End) return;
    if (read == InputResult::Interrupted) {
      // The line being typed is discarded.
      if (!GoOnAfterInterrupt(session)) return;
      OutWrite("\n", 1);
      WritePrompt(session);
      continue;
    }
    if (szCommand.empty()) {
      WritePrompt(session);
      continue;
    }
    if (session.fEditor) RememberLine(session.history, szCommand);
    if (StdinIsTerminal() && IsQuitWord(szCommand)) return;
    // A line that begins with a backslash is the console's own command, never sent to the driver.
    RunStep step = IsConsoleCommand(szCommand) ? RunConsoleCommand(session, szCommand) : RunStatementText(session, szCommand);
    if (step == RunStep::End) return;
    if (step == RunStep::Interrupted && !GoOnAfterInterrupt(session)) return;
    if (session.fStatementFailed && session.options.fStopOnError) return;
    // The reader of a pipe has gone: end the session as a pipeline expects, without a word.
    if (StdoutState() == OutputState::PipeBroken) return;
    WritePrompt(session);
  }
}

// Sets ODBC 2 behaviour, connects, allocates the statement handle and runs the session. Returns when input
// ends or the session must end; the caller disconnects.
void RunSession(Session& session) {
  if (!CheckedCall(session.lpEnv, SQL_HANDLE_ENV,
                   SQLSetEnvAttr(session.lpEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0),
                   "SQLSetEnvAttr(lpEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC2, 0)") ||
      !CheckedCall(session.lpEnv, SQL_HANDLE_ENV, SQLAllocHandle(SQL_HANDLE_DBC, session.lpEnv, &session.lpDbc),
                   "SQLAllocHandle(SQL_HANDLE_DBC,lpEnv,&lpDbc)") ||
      !CheckedCall(session.lpDbc, SQL_HANDLE_DBC,
                   ConnectDataSource(session),
                   "SQLDriverConnect(lpDbc, GetDesktopWindow(), szConnStr, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_COMPLETE)")) {
    session.fCallFailed = true;
    return;
  }
  if (!session.options.fBatch) ErrText("Connected!\n");
  if (!CheckedCall(session.lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, session.lpDbc, &session.lpStmt),
                   "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)")) {
    session.fCallFailed = true;
    return;
  }
  SetConcurrentCancel(!ConcurrentCancelCrashes(session.lpDbc));
  {
    // An export (and the expanded display, which shows whole values too) binds its columns when the
    // driver can read a value too long for its buffer again.
    SQLUINTEGER fExtensions = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(session.lpDbc, SQL_GETDATA_EXTENSIONS, &fExtensions, sizeof fExtensions, nullptr))) {
      session.listing.fGetDataOnBound = (fExtensions & SQL_GD_BOUND) != 0;
    }
  }
  // The data source's DBMS decides how statement text is split, and, for MySQL and MariaDB, whose servers
  // keep every value within its display size and whose driver writes numbers as the console does, that
  // an export may fetch rowsets and that numbers come in binary.
  session.dialect = DialectOfDataSource(session.lpDbc);
  session.fNoBackslashEscapes = session.dialect == SqlDialect::MySql && SqlModeHasNoBackslashEscapes(session.lpDbc);
  session.listing.fSizesHold = session.dialect == SqlDialect::MySql;
  session.listing.fBinaryNumbers = session.dialect == SqlDialect::MySql;
  session.rules = StatementRulesFor(session.lpDbc);
  if (!session.options.fBatch) OutText("Enter SQL commands, type (control)Z to exit\n");
  // The editor serves a person at a terminal; scripts and redirected output get plain lines.
  session.fEditor = !session.options.fBatch && StdinIsTerminal() && StdoutIsTerminal();
  if (session.fEditor) InitLineEditor(session.lpDbc, session.console.charset, session.history);
  SetInterruptEndsProcess(false);  // from here Ctrl-C cancels or discards, and the session goes on
  if (session.lpSqlFile != nullptr) {
    RunFileOption(session);
  } else if (session.options.fMultiLine) {
    RunStatementPromptLoop(session);
  } else {
    WritePrompt(session);
    RunPromptLoop(session);
  }
}

// The exit status of a run that only wrote to standard output.
int OutputExitStatus() {
  switch (StdoutState()) {
    case OutputState::Failed: return 1;
    case OutputState::PipeBroken: return 141;  // as a process ended by SIGPIPE shows in a shell
    case OutputState::Working: break;
  }
  return 0;
}

// The exit status of a session that has shut down.
int ExitStatus(const Session& session) {
  if (session.fInterrupted) return 130;  // as a process ended by SIGINT shows in a shell
  if (StdoutState() != OutputState::Working) return OutputExitStatus();
  // A script must be able to tell that not everything ran.
  bool fScripted = session.options.fBatch || session.options.fStopOnError;
  if (fScripted && (session.fStatementFailed || session.fCallFailed)) return 1;
  return 0;
}

// Ends the process once memory has run out: the connection is closed first, which the driver can usually
// still do once the failed allocation's stack has unwound, then "Out of memory!" and status 156 (-100).
[[noreturn]] void EndOutOfMemory(Session& session) {
  SetInterruptEndsProcess(true);
  // The statement is freed first: some drivers close their database only once no statement is left.
  if (session.lpStmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, session.lpStmt);
  if (session.lpDbc != SQL_NULL_HDBC) {
    SQLDisconnect(session.lpDbc);
    SQLFreeConnect(session.lpDbc);
  }
  if (session.lpEnv != SQL_NULL_HENV) SQLFreeEnv(session.lpEnv);
  ErrText("Out of memory!\n");
  exit(156);
}

// The whole run, from the command line to the exit status.
int RunProgram(Session& session, int argc, char** argv) {
  InitOutput();
  session.console.charset = LocaleCharset();
  // Diagnostics keep their place among the output, and reach the terminal safe.
  SetDiagnosticsWriter(ErrDiagnostic, &session.console.charset);
  std::string szBadOption;
  CommandLineAction action = ParseCommandLine(argc, argv, &session.options, &szBadOption);
  MaskPasswordArguments(argc, argv);  // ps shows the arguments: the console reads its own copy
  switch (action) {
    case CommandLineAction::Help:
      OutText(UsageText());
      OutFlush();
      return OutputExitStatus();
    case CommandLineAction::Version:
      OutText("odbc-console " ODBC_CONSOLE_VERSION "\n");
      OutFlush();
      return OutputExitStatus();
    case CommandLineAction::Invalid:
      ErrFormat("odbc-console: unknown option '%s'\nTry 'odbc-console --help' for more information.\n",
                SafeMessageText(session.console.charset, szBadOption.c_str()).c_str());
      return 2;
    case CommandLineAction::NoValue:
      ErrFormat("odbc-console: option '%s' needs a value\nTry 'odbc-console --help' for more information.\n",
                SafeMessageText(session.console.charset, szBadOption.c_str()).c_str());
      return 2;
    case CommandLineAction::Run:
      break;
  }
  if (session.options.fAskPassword) {
    std::string password;
    if (!AskPassword(password)) {
      ErrText("odbc-console: no terminal to ask the password on\n");
      return 2;
    }
    session.options.szConnStr = WithPassword(session.options.szConnStr, password);
    explicit_bzero(&password[0], password.size());
  }
  // A file that cannot be read is reported before connecting.
  if (session.options.szFile != nullptr) {
    session.lpSqlFile = OpenSqlFile(session.options.szFile);
    if (session.lpSqlFile == nullptr) {
      ErrFormat("odbc-console: cannot read '%s': %s\n", SafeMessageText(session.console.charset, session.options.szFile).c_str(), strerror(errno));
      return 2;
    }
  }
  session.listing = {session.options.format, !session.options.fBatch, !session.options.fBatch, false, false, ReadInputLine, false};
  session.listing.StopRequested = InterruptRequested;  // Ctrl-C stops a listing as Q does
  session.listing.lpConsole = &session.console;
  // A rowset of rows is computed before the first of them shows, and Ctrl-C waits for it: at a terminal
  // each row comes and shows by itself; into a file or a pipe rowsets are faster.
  session.listing.fRowsets = !StdoutIsTerminal();
  if (StdinIsTerminal()) session.listing.WaitForReply = WaitForTerminalLine;
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &session.lpEnv) == SQL_ERROR) {
    ErrText("Unable to allocate an environment handle\n");
    exit(-1);
  }
  InitInterrupts();
  RunSession(session);
  SetInterruptEndsProcess(true);  // a second Ctrl-C while disconnecting ends the process at once
  // The statement handle is freed before disconnecting: the SQLite driver does not close its database
  // while a statement of it is allocated.
  if (session.lpStmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, session.lpStmt);
  if (session.lpDbc != SQL_NULL_HDBC) {
    SQLDisconnect(session.lpDbc);
    SQLFreeConnect(session.lpDbc);
  }
  if (session.lpEnv != SQL_NULL_HENV) SQLFreeEnv(session.lpEnv);
  if (session.lpSqlFile != nullptr) fclose(session.lpSqlFile);
  if (!session.options.fBatch && StdoutState() != OutputState::PipeBroken) OutText("\nDisconnected.");
  OutFlush();
  return ExitStatus(session);
}

}  // namespace

int main(int argc, char** argv) {
  Session session;
  // A failed allocation anywhere ends the run here, the one place that handles it.
  try {
    return RunProgram(session, argc, argv);
  } catch (const std::bad_alloc&) {
    EndOutOfMemory(session);
  }
}
