// Connections by name beside the session's own (\connect, \disconnect), and \c, which replaces the session's own.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "session/session.h"

// The named connection `name`, or nullptr when the session has none of that name.
Connection* FindNamedConnection(Session& session, std::string_view name);

// Makes a lost named connection (`name`) again first where the session may reconnect (at a terminal, never
// in a script), as the session's own is. Returns false when it is still lost: nothing may run on it.
bool ReadyNamedConnection(Session& session, const std::string& name, Connection& connection);

// Judges the outcome of a call on `lpStmt` (one of the named connection's handles): a failure on a connection
// that is gone marks it lost, frees lpStmt and, at a terminal, makes it again at once. The outcome is then
// Failed, never Lost, which would make the session connect its own connection again.
StatementOutcome JudgeNamedOutcome(Session& session, const std::string& name, Connection& connection, SQLHSTMT& lpStmt,
                                   StatementOutcome outcome);

// Runs `work` on the named connection's statement handle between ReadyNamedConnection and JudgeNamedOutcome.
StatementOutcome RunOnNamedConnection(Session& session, const std::string& name, const std::function<StatementOutcome()>& work);

// \connect NAME CONNECTION-STRING opens a named connection (one of that name already open stays when the new
// one fails). \connect DSN names it after a data source the driver manager knows. On a PostgreSQL session a
// lone DBNAME, and -reuse-previous=on|off "dbname='x'", switch the session's database instead, as pg_dump's
// files mean them.
StatementOutcome ConnectCommand(Session& session, std::string_view argument);

// \c [CONNECTION-STRING|DSN|DBNAME] connects the session anew; when that fails the old connection stays, and
// the console says so. Alone it connects again with the same string.
StatementOutcome ReplaceConnectionCommand(Session& session, std::string_view argument);

// \disconnect NAME closes a named connection.
StatementOutcome DisconnectCommand(Session& session, std::string_view argument);

// Writes a line for each named connection, for \conninfo: its name, DBMS, version and database.
void ShowNamedConnections(Session& session);
