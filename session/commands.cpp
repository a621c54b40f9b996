// The console's own commands: lines that begin with a backslash, run by the console and never sent to the driver.
#include "session/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "display/cell_text.h"
#include "display/output.h"
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
    ErrFormat("cannot run '%s': files run %d deep\n", SafeMessageText(path.c_str()).c_str(), MAX_FILE_DEPTH);
    return CommandFailed(session);
  }
  FILE* file = OpenSqlFile(path.c_str());
  if (file == nullptr) {
    ErrFormat("cannot read '%s': %s\n", SafeMessageText(path.c_str()).c_str(), strerror(errno));
    return CommandFailed(session);
  }
  ++session.fileDepth;
  RunStep step = RunSqlFile(session, file);
  --session.fileDepth;
  fclose(file);
  return step;
}

RunStep Quit(Session&, std::string_view) { return RunStep::End; }

RunStep ListCommands(Session& session, std::string_view);

// One console command: adding a command is adding a row.
struct ConsoleCommand {
  const char* szName;                                             // what follows the backslash
  RunStep (*handler)(Session& session, std::string_view argument);  // runs it with the rest of the line
  const char* szUsage;                                            // the command as typed, for \?
  const char* szHelp;                                             // what it does, in one line
};

const ConsoleCommand COMMANDS[] = {
    {"i", IncludeFile, "\\i FILE", "run the SQL statements of FILE, then come back"},
    {"q", Quit, "\\q", "end the session"},
    {"?", ListCommands, "\\?", "list the console's commands"},
};

RunStep ListCommands(Session&, std::string_view) {
  for (const ConsoleCommand& command : COMMANDS) {
    std::string line = "  ";
    line += command.szUsage;
    line.append(line.size() < 14 ? 14 - line.size() : 1, ' ');
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
  text.remove_prefix(1);
  size_t nameEnd = 0;
  while (nameEnd < text.size() && text[nameEnd] != ' ' && text[nameEnd] != '\t') ++nameEnd;
  std::string_view name = text.substr(0, nameEnd);
  for (const ConsoleCommand& command : COMMANDS) {
    if (name == command.szName) return command.handler(session, TrimBlanks(text.substr(nameEnd)));
  }
  ErrFormat("Invalid command \\%s. Try \\? for help.\n", SafeMessageText(std::string(name).c_str()).c_str());
  return CommandFailed(session);
}
