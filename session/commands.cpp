// The console's own commands: lines that begin with a backslash, run by the console and never sent to the driver.
#include "session/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "display/cell_text.h"
#include "display/output.h"
#include "session/catalog_commands.h"
#include "session/statement_input.h"

namespace {

// How deep \i files may run one inside another: a file that runs itself stops there.
constexpr int MAX_FILE_DEPTH = 16;

// What follows a command's name, blanks trimmed.
std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// A failure of a command counts as a failed statement.
RunStep CommandFailed(Session& session) {
  session.fStatementFailed = true;
  return session.options.fStopOnError ? RunStep::End : RunStep::Next;
}

// \i FILE: runs the file's statements, then comes back.
RunStep IncludeFile(Session& session, std::string_view argument) {
  if (argument.empty()) {
    ErrText("\\i needs a file name\n");
    return CommandFailed(session);
  }
  std::string path(argument);
  if (session.fileDepth >= MAX_FILE_DEPTH) {
    ErrFormat("cannot run '%s': files run %d deep\n", SafeMessageText(session.console.charset, path.c_str()).c_str(), MAX_FILE_DEPTH);
    return CommandFailed(session);
  }
  FILE* file = OpenSqlFile(path.c_str());
  if (file == nullptr) {
    ErrFormat("cannot read '%s': %s\n", SafeMessageText(session.console.charset, path.c_str()).c_str(), strerror(errno));
    return CommandFailed(session);
  }
  ++session.fileDepth;
  RunStep step = RunSqlFile(session, file);
  --session.fileDepth;
  fclose(file);
  return step;
}

RunStep Quit(Session&, std::string_view) { return RunStep::End; }

// What the session does after a command that ran like a statement, timed from `start` when \timing is on.
RunStep AfterCatalogCommand(Session& session, StatementOutcome outcome, std::chrono::steady_clock::time_point start) {
  if (session.fTiming && outcome != StatementOutcome::Fatal) WriteElapsedTime(session, start);
  switch (outcome) {
    case StatementOutcome::Ok:
      break;
    case StatementOutcome::Failed:
    case StatementOutcome::Lost:
      return CommandFailed(session);
    case StatementOutcome::Cancelled:
      return RunStep::Interrupted;
    case StatementOutcome::Fatal:
      session.fCallFailed = true;
      return RunStep::End;
  }
  if (StdoutState() == OutputState::PipeBroken) return RunStep::End;
  return RunStep::Next;
}

// \dt [PATTERN] and \dv [PATTERN]: the tables or the views; with S (\dtS) the system's too.
RunStep ListTablesOf(Session& session, std::string_view pattern, TableKind kind, bool fSystem) {
  auto start = std::chrono::steady_clock::now();
  return AfterCatalogCommand(
      session, ListTables(session.lpDbc, session.lpStmt, pattern, kind, session.dialect, fSystem, session.listing), start);
}
RunStep ListTablesCommand(Session& session, std::string_view pattern) { return ListTablesOf(session, pattern, TableKind::Table, false); }
RunStep ListSystemTablesCommand(Session& session, std::string_view pattern) {
  return ListTablesOf(session, pattern, TableKind::Table, true);
}
RunStep ListViewsCommand(Session& session, std::string_view pattern) { return ListTablesOf(session, pattern, TableKind::View, false); }
RunStep ListSystemViewsCommand(Session& session, std::string_view pattern) { return ListTablesOf(session, pattern, TableKind::View, true); }

// \d NAME describes a table; \d alone lists the tables.
RunStep DescribeCommand(Session& session, std::string_view name) {
  if (name.empty()) return ListTablesCommand(session, name);
  auto start = std::chrono::steady_clock::now();
  return AfterCatalogCommand(session, DescribeTable(session.lpDbc, session.lpStmt, name, session.dialect, session.listing), start);
}

// \dn: the schemas; \dnS the system's too.
RunStep ListSchemasOf(Session& session, bool fSystem) {
  auto start = std::chrono::steady_clock::now();
  return AfterCatalogCommand(session, ListSchemas(session.lpDbc, session.lpStmt, session.dialect, fSystem, session.listing), start);
}
RunStep ListSchemasCommand(Session& session, std::string_view) { return ListSchemasOf(session, false); }
RunStep ListSystemSchemasCommand(Session& session, std::string_view) { return ListSchemasOf(session, true); }

// \df [PATTERN]: functions and procedures; \dfS the system's too.
RunStep ListProceduresOf(Session& session, std::string_view pattern, bool fSystem) {
  auto start = std::chrono::steady_clock::now();
  return AfterCatalogCommand(
      session, ListProcedures(session.lpDbc, session.lpStmt, pattern, session.dialect, fSystem, session.listing), start);
}
RunStep ListProceduresCommand(Session& session, std::string_view pattern) { return ListProceduresOf(session, pattern, false); }
RunStep ListSystemProceduresCommand(Session& session, std::string_view pattern) { return ListProceduresOf(session, pattern, true); }

RunStep ConnectionInfoCommand(Session& session, std::string_view) {
  return AfterCatalogCommand(session, ShowConnectionInfo(session.lpDbc, session.console.charset), std::chrono::steady_clock::now());
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
RunStep TimingCommand(Session& session, std::string_view argument) {
  if (!ReadSwitch(session, "timing", argument, &session.fTiming)) return CommandFailed(session);
  // A CSV or TSV file holds data only.
  if (IsTableFormat(session.listing.format)) OutText(session.fTiming ? "Timing is on.\n" : "Timing is off.\n");
  return RunStep::Next;
}

// \x [on|off|auto]
RunStep ExpandedCommand(Session& session, std::string_view argument) {
  ExpandedDisplay& expanded = session.listing.expanded;
  if (argument == "auto") {
    expanded = ExpandedDisplay::Auto;
  } else {
    bool fOn = expanded != ExpandedDisplay::Off;
    if (!ReadSwitch(session, "x", argument, &fOn)) return CommandFailed(session);
    expanded = fOn ? ExpandedDisplay::On : ExpandedDisplay::Off;
  }
  if (!IsTableFormat(session.listing.format)) return RunStep::Next;  // CSV and TSV are never expanded
  OutText(expanded == ExpandedDisplay::On    ? "Expanded display is on.\n"
          : expanded == ExpandedDisplay::Off ? "Expanded display is off.\n"
                                             : "Expanded display is used automatically.\n");
  return RunStep::Next;
}

// \format [table|fit|csv|tsv]: how result sets are written from now on; alone, says which it is.
RunStep FormatCommand(Session& session, std::string_view argument) {
  ListingFormat format = session.listing.format;
  if (!argument.empty() && !ParseFormatName(argument, &format)) {
    ErrFormat("\\format takes table, fit, csv or tsv, not %s\n",
              SafeMessageText(session.console.charset, std::string(argument).c_str()).c_str());
    return CommandFailed(session);
  }
  session.listing.format = format;
  // A CSV or TSV file holds data only.
  if (IsTableFormat(format)) OutText((std::string("Output format is ") + FormatName(format) + ".\n").c_str());
  return RunStep::Next;
}

RunStep ListCommands(Session& session, std::string_view);

// One console command: adding a command is adding a row.
struct ConsoleCommand {
  const char* szName;                                             // what follows the backslash
  RunStep (*handler)(Session& session, std::string_view argument);  // runs it with the rest of the line
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
    {"conninfo", ConnectionInfoCommand, "\\conninfo", "show the DBMS, driver, database, user and server"},
    {"timing", TimingCommand, "\\timing [on|off]", "show each statement's time"},
    {"format", FormatCommand, "\\format [NAME]", "how result sets are written: table, fit (columns as wide as their data), csv, tsv"},
    {"x", ExpandedCommand, "\\x [on|off|auto]", "expanded display: each row as a record of name | value lines"},
    {"?", ListCommands, "\\?", "list the console's commands"},
};

RunStep ListCommands(Session&, std::string_view) {
  for (const ConsoleCommand& command : COMMANDS) {
    if (command.szUsage == nullptr) continue;
    std::string line = "  ";
    line += command.szUsage;
    line.append(line.size() < 22 ? 22 - line.size() : 1, ' ');
    line += command.szHelp;
    line += '\n';
    OutText(line.c_str());
  }
  return RunStep::Next;
}

}  // namespace

bool IsConsoleCommand(std::string_view line) {
  std::string_view text = TrimBlanks(line);
  return !text.empty() && text.front() == '\\';
}

RunStep RunConsoleCommand(Session& session, std::string_view line) {
  std::string_view text = TrimBlanks(line);
  // A ';' typed after a command out of habit is not part of it.
  while (text.size() > 1 && text.back() == ';') text = TrimBlanks(text.substr(0, text.size() - 1));
  text.remove_prefix(1);
  size_t nameEnd = 0;
  while (nameEnd < text.size() && text[nameEnd] != ' ' && text[nameEnd] != '\t') ++nameEnd;
  std::string_view name = text.substr(0, nameEnd);
  for (const ConsoleCommand& command : COMMANDS) {
    if (name == command.szName) return command.handler(session, TrimBlanks(text.substr(nameEnd)));
  }
  ErrFormat("Invalid command \\%s. Try \\? for help.\n", SafeMessageText(session.console.charset, std::string(name).c_str()).c_str());
  return CommandFailed(session);
}

bool IsQuitWord(std::string_view line) {
  std::string_view text = TrimBlanks(line);
  return text == "quit" || text == "exit";
}

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
