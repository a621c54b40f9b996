// The one prompt loop: line source → splitter → dispatch (console command or SQL) → outcome → the step after.
#include "session/mainloop.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "display/output.h"
#include "session/commands.h"
#include "session/copy_command.h"
#include "input/input.h"
#include "input/interrupt.h"
#include "input/line_editor.h"
#include "session/source_call.h"

namespace {

// What the step after a statement or command decides.
enum class Step {
  Next,     // reads on
  Discard,  // Ctrl-C was dealt with: what the sources held unrun is dropped, and the session reads on
  End,      // the session ends
};

// What the user must be told when input ends in the middle of a statement typed at the terminal.
constexpr char UNFINISHED_AT_END[] = "statement not run: input ended before the statement was complete\n";

LineSource& TopSource(Session& session) { return *session.sources.back(); }

// Reports of what runs next begin with "NAME:LINE: " when it comes from a file (lineNumber > 0), else
// with nothing.
void SetReportPlace(Session& session, const LineSource& source, long lineNumber) {
  std::string& prefix = session.console.diagnostics.szPrefix;
  prefix.clear();
  if (!source.fNamesLines || lineNumber <= 0) return;
  prefix = source.name + ":" + std::to_string(lineNumber) + ": ";
}

// The number of line ends in text.
long CountLines(std::string_view text) { return static_cast<long>(std::count(text.begin(), text.end(), '\n')); }

// The line a piece's statement starts on, and the source's count moved past the piece.
long TakePieceLines(LineSource& source, const SqlPiece& piece) {
  size_t lead = 0;
  while (lead < piece.text.size() && (piece.text[lead] == ' ' || piece.text[lead] == '\t' || piece.text[lead] == '\n' ||
                                      piece.text[lead] == '\r' || piece.text[lead] == '\f' || piece.text[lead] == '\v')) {
    ++lead;
  }
  long startLine = source.pieceLine + CountLines(piece.text.substr(0, lead));
  source.pieceLine += CountLines(piece.text) + CountLines(piece.delimiter);
  return startLine;
}

// The statement text with the session's variables in place of :NAME, :'NAME' and :"NAME"; the text itself
// when nothing is replaced. Returns false, reported, when it cannot be made.
bool WithVariables(Session& session, const LineSource& source, std::string_view text, std::string& substituted,
                   std::string_view* result) {
  *result = text;
  if (session.variables.values.empty() || text.find(':') == std::string_view::npos) return true;
  QuotingRules rules{source.splitter.rules.fBackslashEscapes, session.connection.profile.quote};
  substituted.assign(text.data(), text.size());
  std::string szError;
  if (!SubstituteVariables(session.variables, source.splitter, rules, &substituted, &szError)) {
    ReportText(("statement not run: " + szError + "\n").c_str());
    return false;
  }
  *result = substituted;
  return true;
}

// Ctrl-C came: at a terminal the session goes on, dropping whatever the sources held unrun and every file
// \i was running; a script ends there (status 130), so that it never goes on half-run.
Step AfterInterrupt(Session& session) {
  if (!session.sources.front()->fInteractive) {
    session.fInterrupted = true;
    return Step::End;
  }
  while (session.sources.size() > 1) session.sources.pop_back();
  DiscardPending(TopSource(session).splitter);
  session.linesAhead.clear();
  DiscardKeysAhead();
  ClearInterrupt();
  return Step::Discard;
}

// The one step after anything that ran: the failure count, a lost connection, \q, Ctrl-C, -e, a reader gone.
Step AfterOutcome(Session& session, StatementOutcome outcome) {
  switch (outcome) {
    case StatementOutcome::Ok:
    case StatementOutcome::Cancelled:
      break;
    case StatementOutcome::Failed:
      // The start-up file's failures are said and never change how a script ends.
      if (!InStartupFile(session)) session.fStatementFailed = true;
      break;
    case StatementOutcome::Lost:
      if (!InStartupFile(session)) session.fStatementFailed = true;
      if (MayReconnect(session)) ReconnectSession(session);
      break;
    case StatementOutcome::Fatal:
      session.fCallFailed = true;
      return Step::End;
  }
  if (session.fQuit) return Step::End;
  if (InterruptRequested()) return AfterInterrupt(session);
  if (session.fStatementFailed && session.options.fStopOnError) return Step::End;
  // The reader of a pipe has gone: end the session as a pipeline expects, without a word.
  if (StdoutPipeBroken()) return Step::End;
  return Step::Next;
}

// Runs the statements the top source's splitter has ready, in order; at its end the rest of its text too.
Step RunReadyPieces(Session& session, bool fEndOfInput) {
  LineSource& source = TopSource(session);
  SqlPiece piece;
  std::string substituted;
  while (NextPiece(source.splitter, piece, fEndOfInput)) {
    StatementOutcome outcome = StatementOutcome::Ok;
    long startLine = source.fNamesLines ? TakePieceLines(source, piece) : 0;
    if (piece.kind == PieceKind::Unterminated) {
      SetReportPlace(session, source, startLine);
      ReportText((std::string("statement not run: unterminated ") + piece.szOpen + "\n").c_str());
      outcome = StatementOutcome::Failed;
    } else if (piece.kind == PieceKind::Statement) {
      if (InterruptRequested()) return AfterInterrupt(session);
      std::string_view text = StatementText(piece);  // run where the splitter holds it, not copied
      // The statement goes to the editor's history unless its text as typed is not to be kept (a leading blank).
      if (source.kind == SourceKind::Editor && IsLineKept(piece.text)) {
        RememberLine(session.history, std::string(text) + std::string(piece.delimiter));
      }
      if (source.fInteractive) session.lastStatement = text;
      SetReportPlace(session, source, startLine);
      std::string_view toRun;
      // A COPY through the client's streams never reaches the driver: a script's data loads in bulk.
      if (!WithVariables(session, source, text, substituted, &toRun)) {
        outcome = StatementOutcome::Failed;
      } else {
        outcome = IsCopyThroughStdio(toRun) ? RunCopyStatement(session, toRun, source) : RunSqlStatement(session, toRun);
      }
    } else {
      continue;
    }
    SetReportPlace(session, source, 0);
    Step step = AfterOutcome(session, outcome);
    if (step != Step::Next) return step;
  }
  return Step::Next;
}

// One line of a source in line mode: the line is the statement, exactly as typed.
Step RunLineModeLine(Session& session, std::string& line) {
  if (line.empty()) return Step::Next;
  LineSource& source = TopSource(session);
  if (source.kind == SourceKind::Editor) RememberLine(session.history, line);
  if (source.fInteractive && IsQuitWord(line)) return Step::End;
  if (source.fInteractive && !IsConsoleCommand(line)) session.lastStatement = line;
  // A line that begins with a backslash is the console's own command, never sent to the driver.
  StatementOutcome outcome = IsConsoleCommand(line)      ? RunConsoleCommand(session, line)
                             : IsCopyThroughStdio(line) ? RunCopyStatement(session, line, source)
                                                        : RunSqlStatement(session, line);
  return AfterOutcome(session, outcome);
}

// One line of a source in statement mode: a console command on a line of its own outside every quote,
// comment and body; anything else goes to the splitter, and each statement it completes runs.
Step RunStatementModeLine(Session& session, std::string& line, bool fNewline) {
  LineSource& source = TopSource(session);
  if (source.fInteractive && !StatementPending(source.splitter) && IsQuitWord(line)) return Step::End;
  if (SplitterAtTopLevel(source.splitter) && IsConsoleCommand(line)) {
    if (source.kind == SourceKind::Editor) RememberLine(session.history, line);
    SetReportPlace(session, source, source.lineNumber);
    StatementOutcome outcome = RunConsoleCommand(session, line);
    SetReportPlace(session, source, 0);
    // The command's line never reaches the splitter: the next statement's line is counted past it.
    if (!StatementPending(source.splitter)) source.pieceLine = source.lineNumber + 1;
    return AfterOutcome(session, outcome);
  }
  if (fNewline) line += '\n';
  FeedSplitter(source.splitter, line);
  return RunReadyPieces(session, false);
}

// The top source has ended: its unfinished text runs (from a terminal it is reported instead), and it is
// taken off the stack. Returns End when it was the last one.
Step EndTopSource(Session& session) {
  LineSource& source = TopSource(session);
  Step step = Step::Next;
  if (source.fReadFailed) {
    DiscardPending(source.splitter);
    step = AfterOutcome(session, StatementOutcome::Failed);
  } else if (source.fStatementMode) {
    // At a terminal Ctrl-D leaves an unfinished statement unrun; a script's last statement needs no delimiter.
    if (source.fInteractive && StatementPending(source.splitter)) {
      ErrText(UNFINISHED_AT_END);
      session.fStatementFailed = true;
      return Step::End;
    }
    step = RunReadyPieces(session, true);
  }
  if (step == Step::End) return step;
  // Ctrl-C may have taken the source off already.
  if (step == Step::Discard) return Step::Next;
  session.sources.pop_back();
  return session.sources.empty() ? Step::End : Step::Next;
}

// Writes the prompt before a line is read from standard input, unless the session runs a script in batch
// mode or the line editor shows it.
const char* WritePrompt(const Session& session, const LineSource& source) {
  const char* prompt = source.fStatementMode && StatementPending(source.splitter) ? CONTINUATION_PROMPT : PROMPT;
  if (source.kind == SourceKind::Input && !session.options.fBatch) OutText(prompt);
  return prompt;
}

}  // namespace

// True while the start-up file (or a file it runs) is read: its failures are said and nothing more.
bool InStartupFile(const Session& session) {
  return std::any_of(session.sources.begin(), session.sources.end(), [](const auto& source) { return source->fStartup; });
}

void RunMainLoop(Session& session) {
  std::string line;
  while (!session.sources.empty()) {
    LineSource& source = TopSource(session);
    const char* prompt = WritePrompt(session, source);
    bool fNewline = true;
    InputResult read = ReadSourceLine(source, session.input, session.linesAhead, prompt, line, &fNewline);
    // The flush before the read finds a reader that has gone: nothing more may run for it.
    if (StdoutPipeBroken()) return;
    Step step = Step::Next;
    if (read == InputResult::End) {
      step = EndTopSource(session);
    } else if (read == InputResult::Interrupted || InterruptRequested()) {
      // The line being typed is discarded.
      step = AfterInterrupt(session);
      if (step == Step::Discard) OutWrite("\n", 1);
    } else if (source.fStatementMode) {
      step = RunStatementModeLine(session, line, fNewline);
    } else {
      step = RunLineModeLine(session, line);
    }
    if (step == Step::End) return;
  }
}

InputResult ReadPauseReply(void* context, std::string& reply) {
  Session& session = *static_cast<Session*>(context);
  // A block pasted at the pause never answers it: it is kept for the prompt, and the pause waits for a key.
  std::vector<std::string> pasted;
  InputResult read = ReadTypedLine(session.input, reply, pasted);
  for (std::string& line : pasted) session.linesAhead.push_back(std::move(line));
  if (read != InputResult::Line) return read;
  std::string_view text = reply;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  if (text.empty() || text.front() == 'q' || text.front() == 'Q') return read;
  // A statement typed or pasted at the pause: the listing goes on, and the line runs after it.
  session.linesAhead.push_back(std::move(reply));
  reply.clear();
  return InputResult::Line;
}
