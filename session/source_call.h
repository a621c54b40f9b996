// The one way to the data source: statements, catalog commands and \conninfo, with the reconnect before
// and the judgement of a lost connection after.
#pragma once

#include <functional>
#include <string>

#include "session/session.h"

// Whether the session may connect again after its connection was lost: a person at a terminal may; a
// script never does, since a new connection would run its later statements outside the transaction it
// assumed.
bool MayReconnect(const Session& session);

// Connects again after the connection was lost, saying so on standard error ("The connection was lost.
// Reconnecting… done." or "failed." and the driver's diagnostics). Ctrl-C while it waits gives up.
void ReconnectSession(Session& session);

// Connects `connection` again after it was lost, saying so as ReconnectSession does; a named connection's
// message names it ("The connection NAME was lost.").
void ReconnectAfterLoss(Connection& connection, const std::string& name);

// Runs `work` on the session's statement handle, after reconnecting first where a lost connection may be
// made again (while it cannot, nothing runs and the outcome is Failed), and judges the outcome: a failure
// on a connection that is gone is Lost. With \timing the time is written after it.
StatementOutcome RunOnSource(Session& session, const std::function<StatementOutcome()>& work);

// Runs one SQL statement's text. A NUL byte in it is refused, as the driver would read only up to it, and
// so is a text longer than the data source takes.
StatementOutcome RunSqlStatement(Session& session, std::string_view text);
