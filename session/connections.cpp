// Connections by name beside the session's own, \c replacing the session's own, and pg_dump's \connect lines.
#include "session/connections.h"

#include <cstring>
#include <memory>
#include <string>
#include <strings.h>

#include "display/cell_text.h"
#include "display/output.h"
#include "input/password.h"
#include "session/source_call.h"

namespace {

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlankChar(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankChar(text.back())) text.remove_suffix(1);
  return text;
}

// Splits off the first blank-separated word of `text`; `text` keeps the rest, trimmed.
std::string_view NextWord(std::string_view& text) {
  size_t end = 0;
  while (end < text.size() && !IsBlankChar(text[end])) ++end;
  std::string_view word = text.substr(0, end);
  text = TrimBlanks(text.substr(end));
  return word;
}

// A text safe to show in a message.
std::string Shown(const Session& session, std::string_view text) {
  return SafeMessageText(session.console.charset, std::string(text).c_str());
}

// A connection name: letters, digits, '_' and '-', not first; never ':' (NAME:TABLE names a table on it).
bool IsConnectionName(std::string_view name) {
  if (name.empty() || name.front() == '-') return false;
  for (char c : name) {
    bool fLetterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!fLetterOrDigit && c != '_' && c != '-') return false;
  }
  return true;
}

// Whether the driver manager knows a data source of that name (SQLDataSources, user and system DSNs).
bool IsKnownDataSource(Connection& connection, std::string_view name) {
  SQLCHAR szName[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR szDescription[256];
  SQLSMALLINT cbName = 0;
  SQLSMALLINT cbDescription = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    SQLRETURN RetCode = SQLDataSources(connection.lpEnv, direction, szName, sizeof szName, &cbName, szDescription,
                                       sizeof szDescription, &cbDescription);
    if (!SQL_SUCCEEDED(RetCode)) return false;
    if (strlen(reinterpret_cast<char*>(szName)) == name.size() &&
        strncasecmp(reinterpret_cast<char*>(szName), name.data(), name.size()) == 0) {
      return true;
    }
  }
}

// Opens a connection of its own (environment included) with `connectionString`, as the session's own is
// opened: the same checked calls, the same texts. Null when a call failed (reported).
std::unique_ptr<Connection> OpenConnection(const std::string& connectionString) {
  auto connection = std::make_unique<Connection>();
  if (!AllocateEnvironment(*connection)) {
    ErrText("Unable to allocate an environment handle\n");
    return nullptr;
  }
  if (!Connect(*connection, connectionString) || !HaveStatement(*connection, connection->lpStmt)) return nullptr;
  return connection;
}

// With -p, a connection string without a password gets one asked on the terminal, as the first connection
// did. Returns false, reported, when there is no terminal to ask on.
bool AddAskedPassword(const Session& session, std::string& connectionString) {
  if (!session.options.fAskPassword || HasAttribute(connectionString, {"PWD", "PASSWORD"})) return true;
  std::string password;
  if (!AskPassword(password)) {
    ErrText("no terminal to ask the password on\n");
    return false;
  }
  std::string withPassword = WithPassword(connectionString, password);
  explicit_bzero(&password[0], password.size());
  if (!connectionString.empty()) explicit_bzero(&connectionString[0], connectionString.size());
  connectionString.swap(withPassword);
  return true;
}

// Moves the handles, string and profile of `from` into `into`, whose own connection is closed first; the
// record `into` stays where it is (the editor, completion and the Ctrl-C watcher point at it) and counts a new
// generation, so that a handle borrowed before is known to be gone. `from` is left empty.
void AdoptConnection(Connection& into, Connection& from) {
  Disconnect(into);
  into.lpEnv = from.lpEnv;
  into.lpDbc = from.lpDbc;
  into.lpStmt = from.lpStmt;
  into.lpCompletionStmt = from.lpCompletionStmt;
  from.lpEnv = SQL_NULL_HENV;
  from.lpDbc = SQL_NULL_HDBC;
  from.lpStmt = from.lpCompletionStmt = SQL_NULL_HSTMT;
  if (!into.connectionString.empty()) explicit_bzero(&into.connectionString[0], into.connectionString.size());
  into.connectionString.swap(from.connectionString);
  ++into.generation;
  into.fConnected = from.fConnected;
  into.fLost = false;
  from.fConnected = false;
  into.profile = from.profile;
  std::lock_guard<std::mutex> lock(into.canceller.phase);
  into.canceller.fConcurrentCancel = !into.profile.fConcurrentCancelCrashes;
}

// After the session's source changed its SQL family, every line source splits what it has not read yet by
// the new family's rules. A console command ends its line, so each splitter stands between statements.
void FollowDialect(Session& session, SqlDialect before) {
  const DataSourceProfile& profile = session.connection.profile;
  if (profile.dialect == before) return;
  for (auto& source : session.sources) {
    StatementSplitter& splitter = source->splitter;
    std::string rest = splitter.buffer.substr(splitter.start);
    InitSplitter(splitter, profile.dialect, profile.fNoBackslashEscapes);
    FeedSplitter(splitter, rest);
  }
}

// The database the session's connection is on, as the driver tells it; empty when it does not.
std::string DatabaseName(Connection& connection) {
  char szDatabase[256] = "";
  SQLSMALLINT cbDatabase = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(connection.lpDbc, SQL_DATABASE_NAME, szDatabase, sizeof szDatabase, &cbDatabase))) {
    return "";
  }
  return szDatabase;
}

// Connects the session with `connectionString` instead of its own; when that fails the old connection stays.
StatementOutcome ReplaceSessionConnection(Session& session, std::string connectionString) {
  if (!AddAskedPassword(session, connectionString)) return StatementOutcome::Failed;
  std::unique_ptr<Connection> fresh = OpenConnection(connectionString);
  if (!connectionString.empty()) explicit_bzero(&connectionString[0], connectionString.size());
  if (fresh == nullptr) {
    ErrText(session.connection.fConnected ? "Previous connection kept.\n"
                                          : "Previous connection kept (it is lost: each statement tries it again).\n");
    return StatementOutcome::Failed;
  }
  SqlDialect before = session.connection.profile.dialect;
  AdoptConnection(session.connection, *fresh);
  FollowDialect(session, before);
  if (!session.options.fBatch) {
    const DataSourceProfile& profile = session.connection.profile;
    std::string database = DatabaseName(session.connection);
    ErrFormat("Connected to %s %s%s%s.\n", Shown(session, profile.dbmsName).c_str(), Shown(session, profile.dbmsVersion).c_str(),
              database.empty() ? "" : ", database ", Shown(session, database).c_str());
  }
  return StatementOutcome::Ok;
}

// The text of a psql argument in double quotes ("" standing for one), or the argument as it is.
std::string Unquoted(std::string_view argument) {
  if (argument.size() < 2 || argument.front() != '"' || argument.back() != '"') return std::string(argument);
  std::string text;
  for (size_t i = 1; i + 1 < argument.size(); ++i) {
    text += argument[i];
    if (argument[i] == '"' && argument[i + 1] == '"') ++i;
  }
  return text;
}

// Reads a libpq connection text ("dbname='x' user=y") into the session's connection string: dbname, user,
// host and port replace its Database, UID, Server and Port. Returns false, reported, for anything else.
bool ApplyPostgresSettings(const Session& session, std::string_view settings, std::string* connectionString) {
  struct Setting {
    const char* szKey;                      // the libpq keyword
    std::initializer_list<const char*> replaced;  // the ODBC attributes it replaces
    const char* szAttribute;                // the ODBC attribute written
  };
  static const Setting SETTINGS[] = {
      {"dbname", {"DATABASE", "DB"}, "Database"},
      {"user", {"UID", "USER", "USERNAME"}, "UID"},
      {"host", {"SERVER", "SERVERNAME", "HOST"}, "Server"},
      {"port", {"PORT"}, "Port"},
  };
  std::string_view rest = TrimBlanks(settings);
  while (!rest.empty()) {
    size_t equals = rest.find('=');
    if (equals == std::string_view::npos) {
      ErrFormat("\\connect: '%s' is not key=value\n", Shown(session, rest).c_str());
      return false;
    }
    std::string_view key = TrimBlanks(rest.substr(0, equals));
    rest = TrimBlanks(rest.substr(equals + 1));
    std::string value;
    if (!rest.empty() && rest.front() == '\'') {
      size_t i = 1;
      for (; i < rest.size() && rest[i] != '\''; ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
        value += rest[i];
      }
      if (i >= rest.size()) {
        ErrText("\\connect: unterminated quoted value\n");
        return false;
      }
      rest = TrimBlanks(rest.substr(i + 1));
    } else {
      value = std::string(NextWord(rest));
    }
    const Setting* found = nullptr;
    for (const Setting& setting : SETTINGS) {
      if (key == setting.szKey) found = &setting;
    }
    if (found == nullptr) {
      ErrFormat("\\connect: '%s' is not one of dbname, user, host, port\n", Shown(session, key).c_str());
      return false;
    }
    *connectionString = WithAttribute(*connectionString, found->replaced, found->szAttribute, value);
  }
  return true;
}

// pg_dump's and psql's forms on a PostgreSQL session: [-reuse-previous=on|off] DBNAME or "key='value' ...":
// the session's connection string with those settings replaced. The previous settings are always reused.
StatementOutcome SwitchPostgresDatabase(Session& session, std::string_view argument) {
  std::string_view rest = argument;
  while (!rest.empty() && rest.front() == '-') {
    std::string_view option = NextWord(rest);
    if (option != "-reuse-previous=on" && option != "-reuse-previous=off" && option != "-reuse-previous") {
      ErrFormat("\\connect: unknown option %s\n", Shown(session, option).c_str());
      return StatementOutcome::Failed;
    }
  }
  std::string target = Unquoted(rest);
  std::string connectionString = session.connection.connectionString;
  if (target.find('=') != std::string::npos) {
    if (!ApplyPostgresSettings(session, target, &connectionString)) return StatementOutcome::Failed;
  } else if (!target.empty()) {
    connectionString = WithAttribute(connectionString, {"DATABASE", "DB"}, "Database", target);
  }
  StatementOutcome outcome = ReplaceSessionConnection(session, connectionString);
  explicit_bzero(&connectionString[0], connectionString.size());
  return outcome;
}

bool OnPostgres(const Session& session) { return session.connection.profile.dialect == SqlDialect::PostgreSql; }

// Opens the named connection `name`; one of that name already open stays when the new one fails.
StatementOutcome OpenNamedConnection(Session& session, std::string_view name, std::string connectionString) {
  if (!IsConnectionName(name)) {
    ErrFormat("\\connect: '%s' is not a connection name (letters, digits, _ and -)\n", Shown(session, name).c_str());
    return StatementOutcome::Failed;
  }
  if (!AddAskedPassword(session, connectionString)) return StatementOutcome::Failed;
  std::unique_ptr<Connection> connection = OpenConnection(connectionString);
  if (!connectionString.empty()) explicit_bzero(&connectionString[0], connectionString.size());
  if (connection == nullptr) {
    if (FindNamedConnection(session, name) != nullptr) ErrFormat("The connection %s stays as it was.\n", Shown(session, name).c_str());
    return StatementOutcome::Failed;
  }
  session.namedConnections[std::string(name)] = std::move(connection);
  return StatementOutcome::Ok;
}

}  // namespace

Connection* FindNamedConnection(Session& session, std::string_view name) {
  auto found = session.namedConnections.find(std::string(name));
  return found == session.namedConnections.end() ? nullptr : found->second.get();
}

bool ReadyNamedConnection(Session& session, const std::string& name, Connection& connection) {
  if (connection.fLost && MayReconnect(session)) ReconnectAfterLoss(connection, name);
  return !connection.fLost;
}

StatementOutcome JudgeNamedOutcome(Session& session, const std::string& name, Connection& connection, SQLHSTMT& lpStmt,
                                   StatementOutcome outcome) {
  outcome = JudgeOutcome(connection, lpStmt, outcome);
  if (outcome != StatementOutcome::Lost) return outcome;
  if (MayReconnect(session)) ReconnectAfterLoss(connection, name);
  return StatementOutcome::Failed;
}

StatementOutcome RunOnNamedConnection(Session& session, const std::string& name, const std::function<StatementOutcome()>& work) {
  Connection* connection = FindNamedConnection(session, name);
  if (connection == nullptr) {
    ErrFormat("no connection named '%s'\n", Shown(session, name).c_str());
    return StatementOutcome::Failed;
  }
  if (!ReadyNamedConnection(session, name, *connection)) return StatementOutcome::Failed;
  if (!HaveStatement(*connection, connection->lpStmt)) {
    return JudgeNamedOutcome(session, name, *connection, connection->lpStmt, StatementOutcome::Failed);
  }
  return JudgeNamedOutcome(session, name, *connection, connection->lpStmt, work());
}

StatementOutcome ConnectCommand(Session& session, std::string_view argument) {
  std::string_view rest = TrimBlanks(argument);
  if (rest.empty()) {
    ErrText("\\connect needs NAME CONNECTION-STRING, or a DSN\n");
    return StatementOutcome::Failed;
  }
  if (rest.front() == '-' || rest.front() == '"') {
    if (!OnPostgres(session)) {
      ErrText("\\connect: options and quoted settings switch a PostgreSQL session's database\n");
      return StatementOutcome::Failed;
    }
    return SwitchPostgresDatabase(session, rest);
  }
  std::string_view name = NextWord(rest);
  if (!rest.empty()) return OpenNamedConnection(session, name, std::string(rest));
  if (name.find('=') != std::string_view::npos) {
    ErrText("\\connect needs a name before the connection string (\\c replaces the session's own)\n");
    return StatementOutcome::Failed;
  }
  // A lone word on a PostgreSQL session is a database of its server, as psql and pg_dump's files mean it.
  if (OnPostgres(session)) return SwitchPostgresDatabase(session, name);
  if (!IsKnownDataSource(session.connection, name)) {
    ErrFormat("\\connect: no data source named '%s' (\\connect NAME CONNECTION-STRING opens any other)\n", Shown(session, name).c_str());
    return StatementOutcome::Failed;
  }
  return OpenNamedConnection(session, name, "DSN=" + std::string(name));
}

StatementOutcome ReplaceConnectionCommand(Session& session, std::string_view argument) {
  std::string_view rest = TrimBlanks(argument);
  if (rest.empty()) {
    std::string connectionString = session.connection.connectionString;
    StatementOutcome outcome = ReplaceSessionConnection(session, connectionString);
    if (!connectionString.empty()) explicit_bzero(&connectionString[0], connectionString.size());
    return outcome;
  }
  bool fWord = rest.find('=') == std::string_view::npos;
  if (OnPostgres(session) && (fWord || rest.front() == '-' || rest.front() == '"')) return SwitchPostgresDatabase(session, rest);
  if (fWord) {
    std::string_view word = NextWord(rest);
    if (!rest.empty()) {
      ErrText("\\c takes one connection string, DSN or database name\n");
      return StatementOutcome::Failed;
    }
    return ReplaceSessionConnection(session, "DSN=" + std::string(word));
  }
  return ReplaceSessionConnection(session, std::string(rest));
}

StatementOutcome DisconnectCommand(Session& session, std::string_view argument) {
  std::string name(TrimBlanks(argument));
  auto found = session.namedConnections.find(name);
  if (found == session.namedConnections.end()) {
    ErrFormat(name.empty() ? "\\disconnect needs a connection name\n" : "\\disconnect: no connection named '%s'\n",
              Shown(session, name).c_str());
    return StatementOutcome::Failed;
  }
  session.namedConnections.erase(found);
  return StatementOutcome::Ok;
}

void ShowNamedConnections(Session& session) {
  if (session.namedConnections.empty()) return;
  std::string text = "Named connections:\n";
  for (auto& [name, connection] : session.namedConnections) {
    const DataSourceProfile& profile = connection->profile;
    text += "  " + Shown(session, name) + ": " + Shown(session, profile.dbmsName) + ' ' + Shown(session, profile.dbmsVersion);
    std::string database = connection->fConnected ? DatabaseName(*connection) : "";
    if (!database.empty()) text += ", database " + Shown(session, database);
    if (connection->fLost) text += " (lost)";
    text += '\n';
  }
  OutText(text.c_str());
}
