// The one way to the data source: reconnect where allowed, run, judge a lost connection, time it.
#include "session/source_call.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "display/output.h"
#include "input/completion.h"
#include "input/interrupt.h"
#include "session/statement.h"

namespace {

// How long a reconnect may take before the driver gives up, where it honours SQL_ATTR_LOGIN_TIMEOUT.
constexpr SQLUINTEGER RECONNECT_TIMEOUT_SECONDS = 10;

// Writes "Time: 12.345 ms", the wall time since `start`: on standard output beside a table, on standard
// error beside CSV or TSV, where it would be taken for data.
void WriteElapsedTime(const Session& session, std::chrono::steady_clock::time_point start) {
  std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
  char szTime[64];
  snprintf(szTime, sizeof szTime, "Time: %.3f ms\n", elapsed.count());
  if (IsTableFormat(session.listing.format)) {
    OutText(szTime);
  } else {
    ErrText(szTime);
  }
}

}  // namespace

bool MayReconnect(const Session& session) { return !session.options.fBatch && StdinIsTerminal(); }

void ReconnectSession(Session& session) { ReconnectAfterLoss(session.connection, ""); }

void ReconnectAfterLoss(Connection& connection, const std::string& name) {
  ErrFormat("The connection%s%s was lost. Reconnecting\xe2\x80\xa6 ", name.empty() ? "" : " ", name.c_str());
  // Ctrl-C gives the reconnect up: a read the driver blocks in (a server that accepts and never answers,
  // which the MariaDB driver waits for past any login timeout) returns at the signal instead of going on.
  SetReadsInterruptible(true);
  SQLRETURN RetCode = Reconnect(connection, RECONNECT_TIMEOUT_SECONDS, InterruptRequested);
  SetReadsInterruptible(false);
  if (!SQL_SUCCEEDED(RetCode) && InterruptRequested()) {
    ErrText("cancelled.\n");
    return;
  }
  if (SQL_SUCCEEDED(RetCode)) {
    ErrText("done.\n");
    if (RetCode == SQL_SUCCESS_WITH_INFO) ReportDiagnostics(connection.lpDbc, SQL_HANDLE_DBC, RetCode);
    return;
  }
  ErrText("failed.\n");
  ReportDiagnostics(connection.lpDbc, SQL_HANDLE_DBC, RetCode);
}

StatementOutcome RunOnSource(Session& session, const std::function<StatementOutcome()>& work) {
  Connection& connection = session.connection;
  // A connection that could not be made again is tried once more first; nothing runs without one.
  if (connection.fLost && MayReconnect(session)) {
    ReconnectSession(session);
    if (connection.fLost) return InterruptRequested() ? StatementOutcome::Cancelled : StatementOutcome::Failed;
  }
  auto start = session.fTiming ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
  StatementOutcome outcome = JudgeOutcome(connection, connection.lpStmt, work());
  if (session.fTiming && outcome != StatementOutcome::Fatal) WriteElapsedTime(session, start);
  return outcome;
}

StatementOutcome RunSqlStatement(Session& session, std::string_view text) {
  // The driver reads a statement up to its first NUL: running the rest silently is never right.
  if (memchr(text.data(), '\0', text.size()) != nullptr) {
    ReportText("Statement contains a NUL byte and was not executed\n");
    return StatementOutcome::Failed;
  }
  // A text longer than the data source takes is never sent: the SQLite driver crashes on one.
  size_t cbLimit = session.connection.profile.cbMaxStatement;
  if (text.size() > cbLimit) {
    ReportText(("statement not run: it is " + std::to_string(text.size()) + " bytes long, more than the data source takes (" +
                std::to_string(cbLimit) + " bytes)\n").c_str());
    return StatementOutcome::Failed;
  }
  StatementOutcome outcome = RunOnSource(session, [&] { return RunStatement(session.connection, text, session.listing); });
  // A statement that changed the schema makes completion, which serves the editor, read the names again.
  if (session.fEditor) NoteStatementForCompletion(session.editor.catalog, text);
  return outcome;
}
