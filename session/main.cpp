// The program's entry: connect, run the prompt loop, report each statement's outcome, shut down.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <memory>
#include <string>
#include <unistd.h>

#include "display/cell_text.h"
#include "display/output.h"
#include "odbc/odbc_api.h"
#include "session/commands.h"
#include "input/completion.h"
#include "input/input.h"
#include "input/interrupt.h"
#include "input/line_editor.h"
#include "session/options.h"
#include "input/password.h"
#include "session/session.h"
#include "session/mainloop.h"

namespace {

// Ctrl-C stops a listing as Q does.
bool ListingInterrupted(void*) { return InterruptRequested(); }

// Waits at a pause until the terminal has a line.
void WaitForPauseReply(void*, void (*showAgain)(void*), void* prompt) {
  // A block pasted while the pause waits comes bracketed, so that the reply's reader can tell it from keys.
  SetBracketedPaste(true);
  WaitForTerminalLine(showAgain, prompt);
}

// The listing style the command line asks for, with the pager's calls.
void SetUpListing(Session& session) {
  ListingStyle& listing = session.listing;
  listing.format = session.options.format;
  listing.fPaging = !session.options.fBatch;
  listing.fHighlight = !session.options.fBatch;
  listing.lpConsole = &session.console;
  // A rowset of rows is computed before the first of them shows, and Ctrl-C waits for it: at a terminal
  // each row comes and shows by itself; into a file or a pipe rowsets are faster.
  listing.fRowsets = !StdoutIsTerminal();
  Pager& pager = listing.pager;
  pager.context = &session;
  pager.StopRequested = ListingInterrupted;
  pager.ReadReply = ReadPauseReply;
  if (StdinIsTerminal()) pager.WaitForReply = WaitForPauseReply;
  pager.fEndStops = StdinIsTerminal();  // Ctrl-D at a pause ends the session; a script's end lists the rest
  pager.fNewLineAfterStop = StdinIsTerminal() && StdoutIsTerminal();
}

// The line source at the bottom of the stack: the -f file, or standard input (through the editor at a
// terminal), in statement mode with -m.
void PushFirstSource(Session& session, int sqlFile) {
  auto source = std::make_unique<LineSource>();
  if (sqlFile >= 0) {
    source->kind = SourceKind::File;
    source->file.fd = sqlFile;
    source->name = session.options.szFile;
    source->fStatementMode = true;
  } else {
    source->kind = session.fEditor ? SourceKind::Editor : SourceKind::Input;
    source->fStatementMode = session.options.fMultiLine;
    source->fInteractive = StdinIsTerminal();
  }
  InitSplitter(source->splitter, session.connection.profile.dialect, session.connection.profile.fNoBackslashEscapes);
  session.sources.push_back(std::move(source));
}

// Connects and runs the session; returns when input ends or the session must end. The caller disconnects.
void RunSession(Session& session, int sqlFile) {
  if (!Connect(session.connection, session.options.szConnStr)) {
    session.fCallFailed = true;
    if (sqlFile >= 0) close(sqlFile);
    return;
  }
  if (!session.options.fBatch) ErrText("Connected!\n");
  if (!HaveStatement(session.connection, session.connection.lpStmt)) {
    session.fCallFailed = true;
    if (sqlFile >= 0) close(sqlFile);
    return;
  }
  if (!session.options.fBatch) OutText("Enter SQL commands, type (control)Z to exit\n");
  // The editor serves a person at a terminal; scripts and redirected output get plain lines.
  session.fEditor = !session.options.fBatch && StdinIsTerminal() && StdoutIsTerminal() && sqlFile < 0;
  if (session.fEditor) InitLineEditor(session.editor, session.input, session.connection, session.console.charset, session.history);
  SetInterruptEndsProcess(false);  // from here Ctrl-C cancels or discards, and the session goes on
  PushFirstSource(session, sqlFile);
  RunMainLoop(session);
  session.sources.clear();
}

}  // namespace

namespace {

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
  Disconnect(session.connection);
  ErrText("Out of memory!\n");
  exit(156);
}

// The whole run, from the command line to the exit status.
int RunProgram(Session& session, int argc, char** argv) {
  InitOutput(session.console.output);
  session.console.charset = LocaleCharset();
  // Diagnostics keep their place among the output, and reach the terminal safe.
  session.console.diagnostics = {ErrDiagnostic, &session.console.charset};
  SetDiagnosticsSink(&session.console.diagnostics);
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
  int sqlFile = -1;
  if (session.options.szFile != nullptr) {
    sqlFile = OpenSqlFile(session.options.szFile);
    if (sqlFile < 0) {
      ErrFormat("odbc-console: cannot read '%s': %s\n", SafeMessageText(session.console.charset, session.options.szFile).c_str(), strerror(errno));
      return 2;
    }
  }
  SetUpListing(session);
  if (!AllocateEnvironment(session.connection)) {
    ErrText("Unable to allocate an environment handle\n");
    exit(-1);
  }
  InitInterrupts(session.connection.canceller);
  RunSession(session, sqlFile);
  SetInterruptEndsProcess(true);  // a second Ctrl-C while disconnecting ends the process at once
  Disconnect(session.connection);
  if (!session.options.fBatch && StdoutState() != OutputState::PipeBroken) OutText("\nDisconnected.");
  OutFlush();
  return ExitStatus(session);
}

}  // namespace

int main(int argc, char** argv) {
  Session session;
  // A failed allocation anywhere ends the run here, the one place that handles it.
  try {
    int status = RunProgram(session, argc, argv);
    CloseOutput();  // the session's output record and diagnostics sink end with it
    SetDiagnosticsSink(nullptr);
    return status;
  } catch (const std::bad_alloc&) {
    EndOutOfMemory(session);
  }
}
