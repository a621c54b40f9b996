// Connections by name beside the session's own (\connect, \disconnect), and \c, which replaces the session's own.
#pragma once

#include <string_view>

#include "session/session.h"

// The named connection `name`, or nullptr when the session has none of that name.
Connection* FindNamedConnection(Session& session, std::string_view name);

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
