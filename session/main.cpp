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
#include <vector>

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

// A source that runs statements split as in statement mode, reported with its name and line when fFile.
std::unique_ptr<LineSource> ScriptSource(const Session& session, SourceKind kind, std::string name, bool fFile) {
  auto source = std::make_unique<LineSource>();
  source->kind = kind;
  source->name = std::move(name);
  source->fStatementMode = true;
  source->fNamesLines = fFile;
  InitSplitter(source->splitter, session.connection.profile.dialect, session.connection.profile.fNoBackslashEscapes);
  return source;
}

// The line sources, the one read first on top: the start-up file; then the -f files and -c texts in the
// order given (each -f's file opened in scriptFiles, -1 for "-"), or else standard input (through the
// editor at a terminal), in statement mode with -m.
void PushSources(Session& session, std::vector<int>& scriptFiles, int startupFile, const std::string& startupPath) {
  const std::vector<ScriptInput>& inputs = session.options.inputs;
  if (inputs.empty()) {
    auto source = std::make_unique<LineSource>();
    source->kind = session.fEditor ? SourceKind::Editor : SourceKind::Input;
    source->fStatementMode = session.options.fMultiLine;
    source->fInteractive = StdinIsTerminal();
    InitSplitter(source->splitter, session.connection.profile.dialect, session.connection.profile.fNoBackslashEscapes);
    session.sources.push_back(std::move(source));
  }
  for (size_t i = inputs.size(); i-- > 0;) {
    const ScriptInput& input = inputs[i];
    std::unique_ptr<LineSource> source;
    if (!input.fFile) {
      source = ScriptSource(session, SourceKind::Text, "", false);
      source->text = input.text;
    } else if (scriptFiles[i] < 0) {
      source = ScriptSource(session, SourceKind::Input, "<stdin>", true);
    } else {
      source = ScriptSource(session, SourceKind::File, input.text, true);
      source->file.fd = scriptFiles[i];
      scriptFiles[i] = -1;  // the source owns it now
    }
    session.sources.push_back(std::move(source));
  }
  if (startupFile >= 0) {
    auto source = ScriptSource(session, SourceKind::File, startupPath, true);
    source->file.fd = startupFile;
    source->fStartup = true;
    session.sources.push_back(std::move(source));
  }
}

// Closes the files opened for the session that no source took.
void CloseUnusedFiles(std::vector<int>& scriptFiles, int startupFile) {
  for (int& fd : scriptFiles) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (startupFile >= 0) close(startupFile);
}

// Connects and runs the session; returns when input ends or the session must end. The caller disconnects.
void RunSession(Session& session, std::vector<int>& scriptFiles, int startupFile, const std::string& startupPath) {
  if (!Connect(session.connection, session.options.szConnStr)) {
    session.fCallFailed = true;
    CloseUnusedFiles(scriptFiles, startupFile);
    return;
  }
  if (!session.options.fBatch) ErrText("Connected!\n");
  if (!HaveStatement(session.connection, session.connection.lpStmt)) {
    session.fCallFailed = true;
    CloseUnusedFiles(scriptFiles, startupFile);
    return;
  }
  if (!session.options.fBatch) OutText("Enter SQL commands, type (control)Z to exit\n");
  // The editor serves a person at a terminal; scripts and redirected output get plain lines.
  session.fEditor = !session.options.fBatch && StdinIsTerminal() && StdoutIsTerminal() && session.options.inputs.empty();
  if (session.fEditor) InitLineEditor(session.editor, session.input, session.connection, session.console.charset, session.history);
  SetInterruptEndsProcess(false);  // from here Ctrl-C cancels or discards, and the session goes on
  for (const VariableSetting& setting : session.options.variables) SetVariable(session.variables, setting.name, setting.value);
  PushSources(session, scriptFiles, startupFile, startupPath);
  RunMainLoop(session);
  EndOutputRedirect(session);
  session.sources.clear();
}

// The start-up file's path: the one ODBC_CONSOLE_RC names, else $XDG_CONFIG_HOME/odbc-console/rc, else
// ~/.config/odbc-console/rc; "" when there is none to look for.
std::string StartupFilePath() {
  const char* named = getenv("ODBC_CONSOLE_RC");
  if (named != nullptr) return named;
  const char* config = getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/odbc-console/rc";
  const char* home = getenv("HOME");
  if (home == nullptr || home[0] == '\0') return "";
  return std::string(home) + "/.config/odbc-console/rc";
}

// Opens the start-up file: -1 when -X skips it or there is none; one that cannot be read is said so.
int OpenStartupFile(const Session& session, const std::string& path) {
  if (session.options.fNoStartupFile || path.empty()) return -1;
  int fd = OpenSqlFile(path.c_str());
  if (fd < 0 && errno != ENOENT) {
    ErrFormat("odbc-console: cannot read the start-up file '%s': %s\n", SafeMessageText(session.console.charset, path.c_str()).c_str(), strerror(errno));
  }
  return fd;
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
  session.console.diagnostics = {ErrDiagnostic, &session.console.charset, ""};
  SetDiagnosticsSink(&session.console.diagnostics);
  std::string szBadOption;
  CommandLineAction action = ParseCommandLine(argc, argv, &session.options, &szBadOption);
  MaskPasswordArguments(argc, argv);  // ps shows the arguments: the console reads its own copy
  switch (action) {
    case CommandLineAction::Help:
      OutText(UsageText().c_str());
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
    case CommandLineAction::BadVariable:
      ErrFormat("odbc-console: -v and --set take NAME=VALUE, NAME of letters, digits and _, not '%s'\n",
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
  std::vector<int> scriptFiles;
  for (const ScriptInput& input : session.options.inputs) {
    int fd = -1;
    if (input.fFile && input.text != "-") {
      fd = OpenSqlFile(input.text.c_str());
      if (fd < 0) {
        ErrFormat("odbc-console: cannot read '%s': %s\n", SafeMessageText(session.console.charset, input.text.c_str()).c_str(), strerror(errno));
        CloseUnusedFiles(scriptFiles, -1);
        return 2;
      }
    }
    scriptFiles.push_back(fd);
  }
  std::string startupPath = StartupFilePath();
  int startupFile = OpenStartupFile(session, startupPath);
  SetUpListing(session);
  if (!AllocateEnvironment(session.connection)) {
    ErrText("Unable to allocate an environment handle\n");
    exit(-1);
  }
  InitInterrupts(session.connection.canceller);
  RunSession(session, scriptFiles, startupFile, startupPath);
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
