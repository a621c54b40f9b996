// The program's entry: connect, run the prompt loop, report each statement's outcome, shut down.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/cell_text.h"
#include "display/output.h"
#include "display/result_table.h"
#include "odbc/odbc_api.h"
#include "session/completion.h"
#include "session/interrupt.h"
#include "session/line_editor.h"
#include "session/options.h"

namespace {

constexpr char PROMPT[] = "SQL COMMAND>";

// One run of the console: its handles, what the command line asked for, and how it went.
struct Session {
  SQLHENV lpEnv = SQL_NULL_HENV;    // the environment, owned for the whole run
  SQLHDBC lpDbc = SQL_NULL_HDBC;    // the connection, owned for the whole run
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;  // the one statement handle, reused for every statement
  SessionOptions options;           // the command line
  ListingStyle listing;              // how result sets are written
  bool fEditor = false;             // the terminal's line editor reads the statements (it shows the prompt)
  HistoryFile history;              // where the editor keeps the statements typed, across sessions
  bool fStatementFailed = false;    // some statement failed: with -b or -e the exit status is 1
  bool fCallFailed = false;         // the session ended at a failed checked call
  bool fInterrupted = false;        // Ctrl-C ended a session fed by a script: exit status 130
};

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

// Deals with a Ctrl-C once the statement or the read it interrupted has ended. At a terminal the session
// goes on; a script ends there, so that it never goes on half-run. Returns false when the session ends.
bool GoOnAfterInterrupt(Session& session) {
  if (!StdinIsTerminal()) {
    session.fInterrupted = true;
    return false;
  }
  ClearInterrupt();
  return true;
}

// Executes one statement line and reports its outcome: a table, a row count or diagnostics; a failure is
// noted in the session. Returns false when a checked call failed and the session must shut down.
bool ExecuteStatement(Session& session, std::string& szCommand) {
  SQLHSTMT lpStmt = session.lpStmt;
  SQLSMALLINT sNumResults = 0;
  SQLLEN siRowCount = -1;
  // Ctrl-C while the statement executes cancels it on the server.
  BeginCancellableCall(lpStmt);
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(&szCommand[0]), SQL_NTS);
  EndCancellableCall();
  switch (RetCode) {
    case SQL_SUCCESS_WITH_INFO:
      ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
      [[fallthrough]];
    case SQL_SUCCESS:
      if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLNumResultCols(lpStmt, &sNumResults),
                       "SQLNumResultCols(lpStmt,&sNumResults)")) {
        return false;
      }
      if (sNumResults > 0) {
        if (!ShowResultSet(lpStmt, sNumResults, session.listing)) session.fStatementFailed = true;
      } else {
        if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLRowCount(lpStmt, &siRowCount), "SQLRowCount(lpStmt,&siRowCount)")) {
          return false;
        }
        // A count in a CSV or TSV file would be taken for data.
        if (siRowCount >= 0 && session.listing.format == ListingFormat::Table) {
          std::string count = std::to_string(static_cast<long long>(siRowCount));
          count += siRowCount == 1 ? " row affected\n" : " rows affected\n";
          OutText(count.c_str());
        }
      }
      break;
    case SQL_ERROR:
      ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
      session.fStatementFailed = true;
      break;
    default:
      ErrFormat("Unexpected return code %d!\n", static_cast<int>(RetCode));
      session.fStatementFailed = true;
      break;
  }
  return CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLFreeStmt(lpStmt, SQL_CLOSE), "SQLFreeStmt(lpStmt,SQL_CLOSE)");
}

// Reads and executes statement lines until end of input, a failed checked call, a failed statement with
// --stop-on-error, or a reader of standard output that has gone.
void RunPromptLoop(Session& session) {
  std::string szCommand;
  for (;;) {
    InputResult read = ReadStatementLine(session, szCommand);
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
    // The driver reads a statement up to its first NUL: running the rest silently is never right.
    if (memchr(szCommand.data(), '\0', szCommand.size()) != nullptr) {
      ErrText("Statement contains a NUL byte and was not executed\n");
      session.fStatementFailed = true;
      if (session.options.fStopOnError) return;
      WritePrompt(session);
      continue;
    }
    if (session.fEditor) RememberLine(session.history, szCommand);
    if (!ExecuteStatement(session, szCommand)) {
      session.fCallFailed = true;
      return;
    }
    NoteStatementForCompletion(szCommand);
    if (InterruptRequested() && !GoOnAfterInterrupt(session)) return;
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
                   SQLDriverConnect(session.lpDbc, GetDesktopWindow(),
                                    reinterpret_cast<SQLCHAR*>(const_cast<char*>(session.options.szConnStr)), SQL_NTS,
                                    nullptr, 0, nullptr, SQL_DRIVER_COMPLETE),
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
  if (session.listing.format != ListingFormat::Table) {
    // An export binds its columns when the driver can read a value too long for its buffer again.
    SQLUINTEGER fExtensions = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(session.lpDbc, SQL_GETDATA_EXTENSIONS, &fExtensions, sizeof fExtensions, nullptr))) {
      session.listing.fGetDataOnBound = (fExtensions & SQL_GD_BOUND) != 0;
    }
  }
  if (!session.options.fBatch) OutText("Enter SQL commands, type (control)Z to exit\n");
  // The editor serves a person at a terminal; scripts and redirected output get plain lines.
  session.fEditor = !session.options.fBatch && StdinIsTerminal() && StdoutIsTerminal();
  if (session.fEditor) InitLineEditor(session.lpDbc, session.history);
  SetInterruptEndsProcess(false);  // from here Ctrl-C cancels or discards, and the session goes on
  WritePrompt(session);
  RunPromptLoop(session);
}

// The exit status of a session that has shut down.
int ExitStatus(const Session& session) {
  if (session.fInterrupted) return 130;  // as a process ended by SIGINT shows in a shell
  switch (StdoutState()) {
    case OutputState::Failed: return 1;
    case OutputState::PipeBroken: return 141;  // as a process ended by SIGPIPE shows in a shell
    case OutputState::Working: break;
  }
  // A script must be able to tell that not everything ran.
  bool fScripted = session.options.fBatch || session.options.fStopOnError;
  if (fScripted && (session.fStatementFailed || session.fCallFailed)) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  InitOutput();
  InitCharset();
  Session session;
  std::string szBadOption;
  switch (ParseCommandLine(argc, argv, &session.options, &szBadOption)) {
    case CommandLineAction::Help:
      OutText(UsageText());
      OutFlush();
      return StdoutState() == OutputState::Working ? 0 : 1;
    case CommandLineAction::Version:
      OutText("odbc-console " ODBC_CONSOLE_VERSION "\n");
      OutFlush();
      return StdoutState() == OutputState::Working ? 0 : 1;
    case CommandLineAction::Invalid:
      ErrFormat("odbc-console: unknown option '%s'\nTry 'odbc-console --help' for more information.\n",
                SafeMessageText(szBadOption.c_str()).c_str());
      return 2;
    case CommandLineAction::Run:
      break;
  }
  session.listing = {session.options.format, !session.options.fBatch, !session.options.fBatch, false};
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &session.lpEnv) == SQL_ERROR) {
    ErrText("Unable to allocate an environment handle\n");
    exit(-1);
  }
  InitInterrupts();
  RunSession(session);
  SetInterruptEndsProcess(true);  // a second Ctrl-C while disconnecting ends the process at once
  // Disconnecting also releases the statement handle.
  if (session.lpDbc != SQL_NULL_HDBC) {
    SQLDisconnect(session.lpDbc);
    SQLFreeConnect(session.lpDbc);
  }
  if (session.lpEnv != SQL_NULL_HENV) SQLFreeEnv(session.lpEnv);
  if (!session.options.fBatch && StdoutState() != OutputState::PipeBroken) OutText("\nDisconnected.");
  OutFlush();
  return ExitStatus(session);
}
