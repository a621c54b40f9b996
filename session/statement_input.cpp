// Statements from text: statement mode at the prompt, SQL files (-f and \i), and the one step that runs a statement.
#include "session/statement_input.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <sys/stat.h>

#include "display/output.h"
#include "session/commands.h"
#include "session/input.h"
#include "session/interrupt.h"
#include "session/line_editor.h"

namespace {

// getline's buffer, freed with the record.
struct LineBuffer {
  char* data = nullptr;  // the line read last, with its newline
  size_t capacity = 0;   // bytes allocated
  ~LineBuffer() { free(data); }
};

// A statement that could not be run counts as a failed one.
RunStep NotRun(Session& session) {
  session.fStatementFailed = true;
  return session.options.fStopOnError ? RunStep::End : RunStep::Next;
}

// Runs the statements the splitter has ready, in order; with fEndOfInput the rest of the text too. With
// fRemember each statement, delimiter included, goes to the editor's history.
RunStep RunReadyPieces(Session& session, StatementSplitter& splitter, bool fEndOfInput, bool fRemember) {
  SqlPiece piece;
  std::string text;
  while (NextPiece(splitter, piece, fEndOfInput)) {
    if (piece.kind == PieceKind::Unterminated) {
      ErrFormat("statement not run: unterminated %s\n", piece.szOpen);
      if (NotRun(session) == RunStep::End) return RunStep::End;
      continue;
    }
    if (piece.kind != PieceKind::Statement) continue;
    if (InterruptRequested()) return RunStep::Interrupted;
    text.assign(StatementText(piece));
    if (fRemember) RememberLine(session.history, text + std::string(piece.delimiter));
    RunStep step = RunStatementText(session, text);
    if (step != RunStep::Next) return step;
  }
  return RunStep::Next;
}

// What the user must be told when input ends in the middle of a statement typed at the terminal.
constexpr char UNFINISHED_AT_END[] = "statement not run: input ended before the statement was complete\n";

}  // namespace

SqlDialect DialectOfDataSource(SQLHDBC lpDbc) {
  char szDbmsName[256] = "";
  SQLSMALLINT cbName = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(lpDbc, SQL_DBMS_NAME, szDbmsName, sizeof szDbmsName, &cbName))) {
    return SqlDialect::Generic;
  }
  return DialectOfDbms(szDbmsName);
}

bool SqlModeHasNoBackslashEscapes(SQLHDBC lpDbc) {
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, lpDbc, &lpStmt))) return false;
  char szMode[2048] = "";
  SQLLEN cbMode = 0;
  SQLCHAR szQuery[] = "select @@sql_mode";
  bool fNoEscapes = SQL_SUCCEEDED(SQLExecDirect(lpStmt, szQuery, SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(lpStmt)) &&
                    SQL_SUCCEEDED(SQLGetData(lpStmt, 1, SQL_C_CHAR, szMode, sizeof szMode, &cbMode)) && cbMode > 0 &&
                    strstr(szMode, "NO_BACKSLASH_ESCAPES") != nullptr;
  SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
  return fNoEscapes;
}

RunStep RunStatementText(Session& session, std::string& text) {
  // The driver reads a statement up to its first NUL: running the rest silently is never right.
  if (memchr(text.data(), '\0', text.size()) != nullptr) {
    ErrText("Statement contains a NUL byte and was not executed\n");
    return NotRun(session);
  }
  if (!ExecuteStatement(session, text)) {
    session.fCallFailed = true;
    return RunStep::End;
  }
  if (InterruptRequested()) return RunStep::Interrupted;
  if (session.fStatementFailed && session.options.fStopOnError) return RunStep::End;
  // The reader of a pipe has gone: end the session as a pipeline expects, without a word.
  if (StdoutState() == OutputState::PipeBroken) return RunStep::End;
  return RunStep::Next;
}

FILE* OpenSqlFile(const char* szPath) {
  FILE* file = fopen(szPath, "r");
  if (file == nullptr) return nullptr;
  struct stat status;
  if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
    fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

RunStep RunSqlFile(Session& session, FILE* file) {
  StatementSplitter splitter;
  InitSplitter(splitter, session.dialect, session.fNoBackslashEscapes);
  LineBuffer line;
  for (;;) {
    if (InterruptRequested()) return RunStep::Interrupted;
    errno = 0;
    ssize_t length = getline(&line.data, &line.capacity, file);
    if (length < 0) {
      if (errno == ENOMEM) throw std::bad_alloc();  // main ends the session
      if (ferror(file)) {
        // What was read so far is not run: its end may be missing.
        ErrFormat("statement not run: reading the file failed: %s\n", strerror(errno));
        return NotRun(session);
      }
      break;
    }
    std::string_view text(line.data, static_cast<size_t>(length));
    if (SplitterAtTopLevel(splitter) && IsConsoleCommand(text)) {
      if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
      RunStep step = RunConsoleCommand(session, text);
      if (step != RunStep::Next) return step;
      continue;
    }
    FeedSplitter(splitter, text);
    RunStep step = RunReadyPieces(session, splitter, false, false);
    if (step != RunStep::Next) return step;
  }
  return RunReadyPieces(session, splitter, true, false);
}

void RunFileOption(Session& session) {
  session.fileDepth = 1;
  // The file is a script: a Ctrl-C ends it, and the session, half-run.
  if (RunSqlFile(session, session.lpSqlFile) == RunStep::Interrupted) session.fInterrupted = true;
}

void RunStatementPromptLoop(Session& session) {
  StatementSplitter splitter;
  InitSplitter(splitter, session.dialect, session.fNoBackslashEscapes);
  std::string line;
  for (;;) {
    const char* prompt = StatementPending(splitter) ? CONTINUATION_PROMPT : PROMPT;
    if (!session.options.fBatch && !session.fEditor) OutText(prompt);
    InputResult read = session.fEditor ? EditLine(prompt, line) : ReadInputLine(line);
    if (read == InputResult::End) {
      // At a terminal Ctrl-D leaves an unfinished statement unrun; a script's last statement needs no delimiter.
      if (StdinIsTerminal() && StatementPending(splitter)) {
        ErrText(UNFINISHED_AT_END);
        session.fStatementFailed = true;
        return;
      }
      RunReadyPieces(session, splitter, true, session.fEditor);
      return;
    }
    if (read == InputResult::Interrupted) {
      // The statement typed so far is discarded.
      DiscardPending(splitter);
      if (!GoOnAfterInterrupt(session)) return;
      OutWrite("\n", 1);
      continue;
    }
    RunStep step;
    if (!StatementPending(splitter) && StdinIsTerminal() && IsQuitWord(line)) return;
    if (SplitterAtTopLevel(splitter) && IsConsoleCommand(line)) {
      if (session.fEditor) RememberLine(session.history, line);
      step = RunConsoleCommand(session, line);
    } else {
      line += '\n';
      FeedSplitter(splitter, line);
      step = RunReadyPieces(session, splitter, false, session.fEditor);
    }
    if (step == RunStep::End) return;
    if (step == RunStep::Interrupted) {
      // What else the line held is not run.
      DiscardPending(splitter);
      if (!GoOnAfterInterrupt(session)) return;
    }
    if (session.fStatementFailed && session.options.fStopOnError) return;
    if (StdoutState() == OutputState::PipeBroken) return;
  }
}
