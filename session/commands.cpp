// The console's own commands: lines that begin with a backslash, run by the console and never sent to the driver.
#include "session/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "display/cell_text.h"
#include "display/output.h"
#include "session/catalog_commands.h"
#include "session/connections.h"
#include "session/copy_command.h"
#include "session/mainloop.h"
#include "session/rerun_commands.h"
#include "session/source_call.h"

namespace {

// How deep \i files may run one inside another: a file that runs itself stops there.
constexpr int MAX_FILE_DEPTH = 16;

// What follows a command's name, blanks trimmed.
std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// \i FILE: its lines are read next, then those of the source that ran it.
StatementOutcome IncludeFile(Session& session, std::string_view argument) {
  if (argument.empty()) {
    ErrText("\\i needs a file name\n");
    return StatementOutcome::Failed;
  }
  std::string path(argument);
  int depth = 0;
  for (const auto& source : session.sources) depth += source->fInclude ? 1 : 0;
  if (depth >= MAX_FILE_DEPTH) {
    ErrFormat("cannot run '%s': files run %d deep\n", SafeMessageText(session.console.charset, path.c_str()).c_str(), MAX_FILE_DEPTH);
    return StatementOutcome::Failed;
  }
  int fd = OpenSqlFile(path.c_str());
  if (fd < 0) {
    ErrFormat("cannot read '%s': %s\n", SafeMessageText(session.console.charset, path.c_str()).c_str(), strerror(errno));
    return StatementOutcome::Failed;
  }
  auto source = std::make_unique<LineSource>();
  source->kind = SourceKind::File;
  source->file.fd = fd;
  source->name = path;
  source->fStatementMode = true;
  source->fInclude = true;
  source->fNamesLines = true;
  InitSplitter(source->splitter, session.connection.profile.dialect, session.connection.profile.fNoBackslashEscapes);
  session.sources.push_back(std::move(source));
  return StatementOutcome::Ok;
}

StatementOutcome Quit(Session& session, std::string_view) {
  session.fQuit = true;
  return StatementOutcome::Ok;
}

// \dt [PATTERN] and \dv [PATTERN]: the tables or the views; with S (\dtS) the system's too.
StatementOutcome ListTablesOf(Session& session, std::string_view pattern, TableKind kind, bool fSystem) {
  Connection& connection = session.connection;
  return RunOnSource(session, [&] {
    return ListTables(connection, pattern, kind, connection.profile.dialect, fSystem, session.listing);
  });
}
StatementOutcome ListTablesCommand(Session& session, std::string_view pattern) {
  return ListTablesOf(session, pattern, TableKind::Table, false);
}
StatementOutcome ListSystemTablesCommand(Session& session, std::string_view pattern) {
  return ListTablesOf(session, pattern, TableKind::Table, true);
}
StatementOutcome ListViewsCommand(Session& session, std::string_view pattern) {
  return ListTablesOf(session, pattern, TableKind::View, false);
}
StatementOutcome ListSystemViewsCommand(Session& session, std::string_view pattern) {
  return ListTablesOf(session, pattern, TableKind::View, true);
}

// \d NAME describes a table; \d alone lists the tables.
StatementOutcome DescribeCommand(Session& session, std::string_view name) {
  if (name.empty()) return ListTablesCommand(session, name);
  Connection& connection = session.connection;
  return RunOnSource(session, [&] { return DescribeTable(connection, name, connection.profile.dialect, session.listing); });
}

// \dn: the schemas; \dnS the system's too.
StatementOutcome ListSchemasOf(Session& session, bool fSystem) {
  Connection& connection = session.connection;
  return RunOnSource(session, [&] { return ListSchemas(connection, connection.profile.dialect, fSystem, session.listing); });
}
StatementOutcome ListSchemasCommand(Session& session, std::string_view) { return ListSchemasOf(session, false); }
StatementOutcome ListSystemSchemasCommand(Session& session, std::string_view) { return ListSchemasOf(session, true); }

// \df [PATTERN]: functions and procedures; \dfS the system's too.
StatementOutcome ListProceduresOf(Session& session, std::string_view pattern, bool fSystem) {
  Connection& connection = session.connection;
  return RunOnSource(session, [&] {
    return ListProcedures(connection, pattern, connection.profile.dialect, fSystem, session.listing);
  });
}
StatementOutcome ListProceduresCommand(Session& session, std::string_view pattern) {
  return ListProceduresOf(session, pattern, false);
}
StatementOutcome ListSystemProceduresCommand(Session& session, std::string_view pattern) {
  return ListProceduresOf(session, pattern, true);
}

StatementOutcome ConnectionInfoCommand(Session& session, std::string_view) {
  StatementOutcome outcome = RunOnSource(session, [&] { return ShowConnectionInfo(session.connection, session.console.charset); });
  ShowNamedConnections(session);
  return outcome;
}

// Reads an on/off argument into *fOn: empty switches it over. Returns false, reported, for anything else.
bool ReadSwitch(const Session& session, const char* szCommand, std::string_view argument, bool* fOn) {
  if (argument.empty()) {
    *fOn = !*fOn;
  } else if (argument == "on" || argument == "off") {
    *fOn = argument == "on";
  } else {
    ErrFormat("\\%s takes on or off, not %s\n", szCommand, SafeMessageText(session.console.charset, std::string(argument).c_str()).c_str());
    return false;
  }
  return true;
}

// \timing [on|off]
StatementOutcome TimingCommand(Session& session, std::string_view argument) {
  if (!ReadSwitch(session, "timing", argument, &session.fTiming)) return StatementOutcome::Failed;
  // A CSV or TSV file holds data only.
  if (IsTableFormat(session.listing.format)) OutText(session.fTiming ? "Timing is on.\n" : "Timing is off.\n");
  return StatementOutcome::Ok;
}

// \x [on|off|auto]
StatementOutcome ExpandedCommand(Session& session, std::string_view argument) {
  ExpandedDisplay& expanded = session.listing.expanded;
  if (argument == "auto") {
    expanded = ExpandedDisplay::Auto;
  } else {
    bool fOn = expanded != ExpandedDisplay::Off;
    if (!ReadSwitch(session, "x", argument, &fOn)) return StatementOutcome::Failed;
    expanded = fOn ? ExpandedDisplay::On : ExpandedDisplay::Off;
  }
  if (!IsTableFormat(session.listing.format)) return StatementOutcome::Ok;  // CSV and TSV are never expanded
  OutText(expanded == ExpandedDisplay::On    ? "Expanded display is on.\n"
          : expanded == ExpandedDisplay::Off ? "Expanded display is off.\n"
                                             : "Expanded display is used automatically.\n");
  return StatementOutcome::Ok;
}

// \format [table|fit|csv|tsv|json|markdown]: how result sets are written from now on; alone, says which it is.
StatementOutcome FormatCommand(Session& session, std::string_view argument) {
  ListingFormat format = session.listing.format;
  if (!argument.empty() && !ParseFormatName(argument, &format)) {
    ErrFormat("\\format takes table, fit, csv, tsv, json or markdown, not %s\n",
              SafeMessageText(session.console.charset, std::string(argument).c_str()).c_str());
    return StatementOutcome::Failed;
  }
  // A format named on the command line is what this run was asked for: a start-up file's habit yields to it.
  if (!argument.empty() && session.options.fFormatGiven && InStartupFile(session)) return StatementOutcome::Ok;
  session.listing.format = format;
  // A CSV or TSV file holds data only.
  if (IsTableFormat(format)) OutText((std::string("Output format is ") + FormatName(format) + ".\n").c_str());
  return StatementOutcome::Ok;
}

// \restrict KEY: until \unrestrict KEY no other console command runs (a dump's guard against commands in its data).
StatementOutcome RestrictCommand(Session& session, std::string_view key) {
  if (key.empty()) {
    ErrText("\\restrict needs a key\n");
    return StatementOutcome::Failed;
  }
  session.restrictKey = key;
  return StatementOutcome::Ok;
}

StatementOutcome UnrestrictCommand(Session& session, std::string_view key) {
  if (key != session.restrictKey) {
    ErrText(session.restrictKey.empty() ? "\\unrestrict: no \\restrict is in force\n" : "\\unrestrict: the key is not the one given to \\restrict\n");
    return StatementOutcome::Failed;
  }
  session.restrictKey.clear();
  return StatementOutcome::Ok;
}

// \set NAME VALUE sets a variable (VALUE: the rest of the line, empty when none); \set alone lists them.
StatementOutcome SetCommand(Session& session, std::string_view argument) {
  if (argument.empty()) {
    ListVariables(session.variables);
    return StatementOutcome::Ok;
  }
  size_t nameEnd = argument.find_first_of(" \t");
  std::string name(argument.substr(0, nameEnd));
  if (!IsVariableName(name)) {
    ErrFormat("\\set: '%s' is not a name: letters, digits and _, not a digit first\n", SafeMessageText(session.console.charset, name.c_str()).c_str());
    return StatementOutcome::Failed;
  }
  std::string_view value = nameEnd == std::string_view::npos ? std::string_view() : TrimBlanks(argument.substr(nameEnd));
  SetVariable(session.variables, name, std::string(value));
  return StatementOutcome::Ok;
}

// \unset NAME
StatementOutcome UnsetCommand(Session& session, std::string_view argument) {
  if (!IsVariableName(argument)) {
    ErrText("\\unset needs a variable's name\n");
    return StatementOutcome::Failed;
  }
  UnsetVariable(session.variables, std::string(argument));
  return StatementOutcome::Ok;
}

// \echo TEXT: the text, variables replaced, on a line of standard output (or where \o sends results).
StatementOutcome EchoCommand(Session& session, std::string_view argument) {
  QuotingRules rules{session.sources.empty() ? false : session.sources.back()->splitter.rules.fBackslashEscapes,
                     session.connection.profile.quote};
  std::string text = SubstituteInText(session.variables, argument, rules) + "\n";
  OutWrite(text.data(), text.size());
  return StatementOutcome::Ok;
}

// \o FILE, \o |COMMAND, \o: where results go from now on. A destination that cannot be had leaves them where they were.
StatementOutcome OutputCommand(Session& session, std::string_view argument) {
  if (argument.empty()) {
    EndOutputRedirect(session);
    return StatementOutcome::Ok;
  }
  int fd = -1;
  FILE* lpPipe = nullptr;
  std::string target(argument.front() == '|' ? TrimBlanks(argument.substr(1)) : argument);
  if (argument.front() == '|') {
    if (target.empty()) {
      ErrText("\\o | needs a command\n");
      return StatementOutcome::Failed;
    }
    OutFlush();  // what the command writes comes after what the console wrote before it
    lpPipe = popen(target.c_str(), "we");
    if (lpPipe == nullptr) {
      ErrFormat("cannot run '%s': %s\n", SafeMessageText(session.console.charset, target.c_str()).c_str(), strerror(errno));
      return StatementOutcome::Failed;
    }
    fd = fileno(lpPipe);
  } else {
    fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      ErrFormat("cannot write '%s': %s\n", SafeMessageText(session.console.charset, target.c_str()).c_str(), strerror(errno));
      return StatementOutcome::Failed;
    }
  }
  EndOutputRedirect(session);
  OutputRedirect& redirect = session.redirect;
  redirect.fd = fd;
  redirect.lpPipe = lpPipe;
  redirect.fPaging = session.listing.fPaging;
  redirect.fHighlight = session.listing.fHighlight;
  session.listing.fPaging = false;
  session.listing.fHighlight = false;
  SetOutputDestination(fd);
  return StatementOutcome::Ok;
}

StatementOutcome ListCommands(Session& session, std::string_view);

// One console command: adding a command is adding a row.
struct ConsoleCommand {
  const char* szName;                                             // what follows the backslash
  StatementOutcome (*handler)(Session& session, std::string_view argument);  // runs it with the rest of the line
  const char* szUsage;                                            // the command as typed, for \?; null: not listed
  const char* szHelp;                                             // what it does, in one line
};

const ConsoleCommand COMMANDS[] = {
    {"i", IncludeFile, "\\i FILE", "run the SQL statements of FILE, then come back"},
    {"q", Quit, "\\q", "end the session"},
    {"d", DescribeCommand, "\\d [PATTERN]", "describe tables and views: columns, indexes, keys, references, checks"},
    {"dt", ListTablesCommand, "\\dt[S] [PATTERN]", "list tables (PATTERN: [SCHEMA.]NAME, * or % for any; S: system too)"},
    {"dtS", ListSystemTablesCommand, nullptr, nullptr},
    {"dv", ListViewsCommand, "\\dv[S] [PATTERN]", "list views"},
    {"dvS", ListSystemViewsCommand, nullptr, nullptr},
    {"dn", ListSchemasCommand, "\\dn[S]", "list schemas (or catalogs)"},
    {"dnS", ListSystemSchemasCommand, nullptr, nullptr},
    {"df", ListProceduresCommand, "\\df[S] [PATTERN]", "list functions and procedures with result and argument types"},
    {"dfS", ListSystemProceduresCommand, nullptr, nullptr},
    {"conninfo", ConnectionInfoCommand, "\\conninfo", "show the DBMS, driver, database, user and server, and the named connections"},
    {"c", ReplaceConnectionCommand, "\\c [STRING|DSN]", "connect the session anew (on PostgreSQL \\c DBNAME); on failure the old one stays"},
    {"connect", ConnectCommand, "\\connect NAME STRING", "open a named connection (\\connect DSN: named after the DSN)"},
    {"disconnect", DisconnectCommand, "\\disconnect NAME", "close the named connection"},
    {"timing", TimingCommand, "\\timing [on|off]", "show each statement's time"},
    {"x", ExpandedCommand, "\\x [on|off|auto]", "expanded display: each row as a record of name | value lines"},
    {"copy", CopyCommand, "\\copy TABLE ...",
     "[(COL, ...)] from FILE [csv|tsv] [header|noheader]: load a file into TABLE\n"
     "\\copy TABLE|(QUERY) to FILE [csv|tsv]: write a file, whole\n"
     "\\copy TABLE|(QUERY) to [NAME]:TABLE [create]: into a table of a connection (NAME: \\connect)"},
    {"restrict", RestrictCommand, "\\restrict KEY", "run no other command until \\unrestrict KEY"},
    {"unrestrict", UnrestrictCommand, "\\unrestrict KEY", "end \\restrict"},
    {"format", FormatCommand, "\\format [NAME]", "how result sets are written: table, fit (columns as wide as their data), csv, tsv, json, markdown"},
    {"set", SetCommand, "\\set [NAME [VALUE]]", "set a variable (:NAME, :'NAME', :\"NAME\" in statements); alone: list them"},
    {"unset", UnsetCommand, "\\unset NAME", "remove a variable"},
    {"echo", EchoCommand, "\\echo TEXT", "write TEXT, variables replaced"},
    {"o", OutputCommand, "\\o [FILE | |CMD]", "send results to FILE or to a command; alone: to standard output"},
    {"e", EditCommand, "\\e", "edit the statement being typed, or the last one, in $VISUAL or $EDITOR; run what is saved"},
    {"watch", WatchCommand, "\\watch [SECONDS]", "run the last statement again every SECONDS (2) until Ctrl-C"},
    {"?", ListCommands, "\\?", "list the console's commands"},
};

StatementOutcome ListCommands(Session&, std::string_view) {
  for (const ConsoleCommand& command : COMMANDS) {
    if (command.szUsage == nullptr) continue;
    std::string line = "  ";
    line += command.szUsage;
    line.append(line.size() < 22 ? 22 - line.size() : 1, ' ');
    // A help of several lines continues under its first.
    for (const char* at = command.szHelp; *at != '\0'; ++at) line += *at == '\n' ? "\n" + std::string(22, ' ') : std::string(1, *at);
    line += '\n';
    OutText(line.c_str());
  }
  return StatementOutcome::Ok;
}

}  // namespace

void EndOutputRedirect(Session& session) {
  OutputRedirect& redirect = session.redirect;
  if (redirect.fd < 0) return;
  SetOutputDestination(-1);
  if (redirect.lpPipe != nullptr) {
    pclose(redirect.lpPipe);
  } else {
    close(redirect.fd);
  }
  session.listing.fPaging = redirect.fPaging;
  session.listing.fHighlight = redirect.fHighlight;
  redirect = OutputRedirect{};
}

bool IsConsoleCommand(std::string_view line) {
  std::string_view text = TrimBlanks(line);
  return !text.empty() && text.front() == '\\';
}

StatementOutcome RunConsoleCommand(Session& session, std::string_view line) {
  std::string_view text = TrimBlanks(line);
  // A ';' typed after a command out of habit is not part of it.
  while (text.size() > 1 && text.back() == ';') text = TrimBlanks(text.substr(0, text.size() - 1));
  text.remove_prefix(1);
  size_t nameEnd = 0;
  while (nameEnd < text.size() && text[nameEnd] != ' ' && text[nameEnd] != '\t') ++nameEnd;
  std::string_view name = text.substr(0, nameEnd);
  if (!session.restrictKey.empty() && name != "unrestrict") {
    ErrFormat("\\%s not run: commands are restricted until \\unrestrict\n", SafeMessageText(session.console.charset, std::string(name).c_str()).c_str());
    return StatementOutcome::Failed;
  }
  for (const ConsoleCommand& command : COMMANDS) {
    if (name == command.szName) return command.handler(session, TrimBlanks(text.substr(nameEnd)));
  }
  ErrFormat("Invalid command \\%s. Try \\? for help.\n", SafeMessageText(session.console.charset, std::string(name).c_str()).c_str());
  return StatementOutcome::Failed;
}

bool IsQuitWord(std::string_view line) {
  std::string_view text = TrimBlanks(line);
  return text == "quit" || text == "exit";
}
